// A simulated network player: a TCP server on 127.0.0.1 (an ephemeral port) that speaks the
// players' request/reply protocol from its description: an 8-byte header (magic 0x8DC56952,
// code) on every request and reply, little-endian words, variable data padded with zeros to a
// multiple of 4, property texts of escaped "name=value" lines ended by a NUL.
//
// Like a player it is strict: a request with a wrong magic, an unknown code, a text without
// its NUL, non-zero padding or a malformed field is a violation (recorded, and the connection
// is dropped); a request the player refuses (a change before request 9 with 1, a read before
// request 9, anything but the identity before a required login, a block out of order or past
// the file's size, an unknown file) gets a negative result word and is recorded as refused.
// Tests check both lists. Faults of the player itself are settings.
//
// One connection is served at a time, on a thread of its own; every wait polls a stop flag,
// and the server ends by itself after a minute, so a test can never hang on it.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/network/net_address.h"

class SimNetworkPlayer {
 public:
  // Negative result words of the player.
  static constexpr int32_t kRefused = static_cast<int32_t>(0x80070005);
  static constexpr int32_t kNoSuchFile = static_cast<int32_t>(0x80070002);
  static constexpr int32_t kOutOfRange = static_cast<int32_t>(0x80070057);

  enum class Fault {
    kNone,
    kWrongMagic,         // the reply to `fault_code` carries another magic
    kWrongCode,          // the reply to `fault_code` carries the code plus one
    kCloseMidReply,      // half of the reply to `fault_code`, then the connection is closed
    kSilent,             // no reply to `fault_code` at all
    kLongerReadBlock,    // a read-block reply announces and sends 8 bytes more than asked
    kShorterReadBlock,   // ... 8 bytes fewer
    kTextWithoutNul,     // the owner text (and file list) never ends: bytes without a NUL
    kExtraAfterText,     // the owner text is followed by 4 bytes beyond its padding
  };

  struct Storage {
    uint64_t size_bytes = 0;
    uint64_t free_bytes = 0;
    uint32_t last_word = 0;
  };

  struct File {
    uint32_t storage = 0;
    uint64_t size = 0;                              // announced at creation
    std::vector<uint8_t> data;                      // bytes written so far
    std::map<std::string, std::string> properties;  // from the last request 15
  };

  struct Request {
    uint32_t code;
    std::vector<uint32_t> words;  // the fixed words after the header
    uint32_t data_length = 0;     // block data of requests 12
  };

  struct Settings {
    uint32_t version = 2;
    uint32_t version_second = 7;
    // Non-empty: a login is needed, and only this 16-byte response to the challenge (MD5 of
    // the challenge and the password, worked out by the test) is accepted.
    std::string accepted_response;
    uint8_t challenge[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                             0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    std::string device_type = "quarn";
    std::string firmware = "2.1.7";
    bool identity_without_nul = false;  // both texts fill their 32 bytes
    std::vector<Storage> storages = {{40ull << 30, 12ull << 30, 0}};
    std::map<std::string, std::string> owner = {{"storage_name", "Music"}};
    // Progress notices sent before the reply of a code.
    std::map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> notices;
    Fault fault = Fault::kNone;
    uint32_t fault_code = 0;
    // true: request 11 answers a new id of its own instead of the one asked for.
    bool choose_fids = false;
    // The file list ends with this many records of one short property ("a=1"), as a hostile
    // player might send them.
    uint32_t tiny_list_records = 0;
  };

  SimNetworkPlayer();
  explicit SimNetworkPlayer(const Settings& settings);
  ~SimNetworkPlayer();
  SimNetworkPlayer(const SimNetworkPlayer&) = delete;
  SimNetworkPlayer& operator=(const SimNetworkPlayer&) = delete;

  // Where the player listens.
  NetAddress address() const { return address_; }

  // Copies of the player's state, taken under its lock.
  std::vector<Request> requests() const;
  std::vector<std::string> violations() const;
  std::vector<std::string> refusals() const;
  std::map<uint32_t, File> files() const;
  std::map<std::string, std::string> owner() const;
  int connections() const { return connections_; }
  bool logged_in() const { return logged_in_; }
  // Places a file as if it had been uploaded earlier.
  void AddFile(uint32_t fid, const File& file);
  // Forgets the recorded requests.
  void ClearRequests();
  // Changes the fault of later requests.
  void SetFault(Fault fault, uint32_t code);

 private:
  class Connection;
  class Session;

  void Serve();

  Settings settings_;
  NetAddress address_;
  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<bool> logged_in_{false};
  mutable std::mutex lock_;
  std::vector<Request> requests_;
  std::vector<std::string> violations_;
  std::vector<std::string> refusals_;
  std::map<uint32_t, File> files_;
  uint32_t next_fid_ = 0x1000;
  std::thread server_;
};
