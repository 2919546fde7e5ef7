// The service endpoints that network players announce, each until its expiry. A discovery
// client records them; the discovery listener and the network devices read them. Safe to use
// from several threads: every call holds the registry's lock for its whole walk.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/registered_lock.h"
#include "support/time_val.h"

class NetEndpointRegistry {
 public:
  NetEndpointRegistry();

  // Records the endpoint `url` of `service_type`, or moves its expiry when it is known.
  void Offer(const std::string& service_type, const std::string& url, const TimeVal& expiry);
  // True while the endpoint is known and the current time is before its expiry.
  bool IsOffered(const std::string& url, const std::string& service_type);
  // The URLs of the endpoints of that type not yet expired, in the order they were first
  // offered.
  void ListEndpoints(const std::string& service_type, std::vector<std::string>* urls);

 private:
  struct Endpoint {
    std::string url;
    TimeVal expiry;
  };

  RegisteredLock lock_;
  std::map<std::string, std::vector<Endpoint>> endpoints_;  // by service type
};
