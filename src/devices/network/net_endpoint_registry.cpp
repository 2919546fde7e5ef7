#include "devices/network/net_endpoint_registry.h"

#include "devices/time_of_day.h"

namespace {

class Held {
 public:
  explicit Held(RegisteredLock& lock) : lock_(lock) { lock_.Enter(); }
  ~Held() { lock_.Leave(); }

 private:
  RegisteredLock& lock_;
};

}  // namespace

NetEndpointRegistry::NetEndpointRegistry() : lock_("NetEndpointRegistry") {}

void NetEndpointRegistry::Offer(const std::string& service_type, const std::string& url,
                                const TimeVal& expiry) {
  Held held(lock_);
  std::vector<Endpoint>& endpoints = endpoints_[service_type];
  for (Endpoint& endpoint : endpoints) {
    if (endpoint.url == url) {
      endpoint.expiry = expiry;
      return;
    }
  }
  endpoints.push_back(Endpoint{url, expiry});
}

bool NetEndpointRegistry::IsOffered(const std::string& url, const std::string& service_type) {
  Held held(lock_);
  const auto type = endpoints_.find(service_type);
  if (type == endpoints_.end()) return false;
  const TimeVal now = GetTimeOfDay();
  for (const Endpoint& endpoint : type->second) {
    if (endpoint.url == url) return TimeValGreater(endpoint.expiry, now);
  }
  return false;
}

void NetEndpointRegistry::ListEndpoints(const std::string& service_type,
                                        std::vector<std::string>* urls) {
  urls->clear();
  Held held(lock_);
  const auto type = endpoints_.find(service_type);
  if (type == endpoints_.end()) return;
  const TimeVal now = GetTimeOfDay();
  for (const Endpoint& endpoint : type->second) {
    if (TimeValGreater(endpoint.expiry, now)) urls->push_back(endpoint.url);
  }
}
