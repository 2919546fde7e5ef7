#include "sim/network/sim_network_player.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kMagic = 0x8DC56952;
constexpr uint32_t kProgressCode = 2;
constexpr uint32_t kMaxRequestText = 1u << 20;
constexpr uint32_t kMaxRequestBlock = 4u << 20;
constexpr uint32_t kFloodBytes = (1u << 20) + 64 * 1024;  // more than any client should take
constexpr ULONGLONG kLifetimeMs = 60000;

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t{Le32(p + 4)} << 32; }

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<uint8_t>* out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}
void PutPadding(std::vector<uint8_t>* out, size_t length) {
  while (length % 4 != 0) {
    out->push_back(0);
    ++length;
  }
}
void PutFixedText(std::vector<uint8_t>* out, const std::string& text, bool fill) {
  std::string field = text;
  if (fill) {
    while (field.size() < 32) field += text.empty() ? "x" : text;
  }
  field.resize(32, '\0');
  out->insert(out->end(), field.begin(), field.end());
}

// Values of property texts: a line feed as "\n", a backslash doubled, other bytes below 32, the
// double quote and 127 as "\x" with two upper-case hexadecimal digits.
std::string Escape(const std::string& value) {
  std::string out;
  for (unsigned char c : value) {
    char hex[5];
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 32 || c == '"' || c == 127) {
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// false for an escape the players never write.
bool Unescape(const std::string& value, std::string* out) {
  out->clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      *out += value[i];
    } else if (i + 1 < value.size() && value[i + 1] == 'n') {
      *out += '\n';
      ++i;
    } else if (i + 1 < value.size() && value[i + 1] == '\\') {
      *out += '\\';
      ++i;
    } else if (i + 3 < value.size() && value[i + 1] == 'x' && Hex(value[i + 2]) >= 0 &&
               Hex(value[i + 3]) >= 0) {
      *out += static_cast<char>(Hex(value[i + 2]) * 16 + Hex(value[i + 3]));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

std::string EncodeProperties(const std::map<std::string, std::string>& properties) {
  std::string text;
  for (const auto& entry : properties) text += entry.first + "=" + Escape(entry.second) + "\n";
  return text;
}

}  // namespace

// One accepted connection: exact reads and writes that give up when the player stops.
class SimNetworkPlayer::Connection {
 public:
  Connection(SOCKET peer, const std::atomic<bool>& stop, ULONGLONG deadline)
      : peer_(peer), stop_(stop), deadline_(deadline) {}

  // false when the peer closed, failed or the player stops.
  bool Read(void* buffer, size_t length) {
    char* p = static_cast<char*>(buffer);
    while (length > 0) {
      if (!WaitReadable()) return false;
      const int got = recv(peer_, p, static_cast<int>(std::min<size_t>(length, 65536)), 0);
      if (got <= 0) return false;
      p += got;
      length -= static_cast<size_t>(got);
    }
    return true;
  }
  bool Write(const void* buffer, size_t length) {
    const char* p = static_cast<const char*>(buffer);
    while (length > 0) {
      if (stop_) return false;
      const int put = send(peer_, p, static_cast<int>(std::min<size_t>(length, 65536)), 0);
      if (put <= 0) return false;
      p += put;
      length -= static_cast<size_t>(put);
    }
    return true;
  }
  bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }

  // Reads a padded text up to its NUL; false (a violation) without a NUL within the cap or
  // with padding that is not zero.
  bool ReadText(std::string* text, std::string* problem) {
    text->clear();
    for (;;) {
      uint8_t unit[4];
      if (!Read(unit, 4)) {
        *problem = "connection ended inside a text";
        return false;
      }
      for (int i = 0; i < 4; ++i) {
        if (unit[i] != 0) continue;
        text->append(reinterpret_cast<char*>(unit), i);
        for (int j = i + 1; j < 4; ++j) {
          if (unit[j] != 0) {
            *problem = "non-zero padding after a text";
            return false;
          }
        }
        return true;
      }
      text->append(reinterpret_cast<char*>(unit), 4);
      if (text->size() > kMaxRequestText) {
        *problem = "text without NUL";
        return false;
      }
    }
  }

 private:
  bool WaitReadable() {
    while (!stop_ && GetTickCount64() < deadline_) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(peer_, &readable);
      timeval wait{0, 20000};
      const int ready = select(0, &readable, nullptr, nullptr, &wait);
      if (ready < 0) return false;
      if (ready > 0) return true;
    }
    return false;
  }

  SOCKET peer_;
  const std::atomic<bool>& stop_;
  ULONGLONG deadline_;
};

SimNetworkPlayer::SimNetworkPlayer() : SimNetworkPlayer(Settings()) {}

SimNetworkPlayer::SimNetworkPlayer(const Settings& settings) : settings_(settings) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = 0;
  int length = sizeof local;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(listener_, 4) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    violations_.push_back("the player could not listen on 127.0.0.1");
    return;
  }
  address_.address = local.sin_addr.s_addr;
  address_.port = ntohs(local.sin_port);
  server_ = std::thread(&SimNetworkPlayer::Serve, this);
}

SimNetworkPlayer::~SimNetworkPlayer() {
  stop_ = true;
  if (server_.joinable()) server_.join();
  closesocket(listener_);
  WSACleanup();
}

std::vector<SimNetworkPlayer::Request> SimNetworkPlayer::requests() const {
  std::lock_guard<std::mutex> held(lock_);
  return requests_;
}
std::vector<std::string> SimNetworkPlayer::violations() const {
  std::lock_guard<std::mutex> held(lock_);
  return violations_;
}
std::vector<std::string> SimNetworkPlayer::refusals() const {
  std::lock_guard<std::mutex> held(lock_);
  return refusals_;
}
std::map<uint32_t, SimNetworkPlayer::File> SimNetworkPlayer::files() const {
  std::lock_guard<std::mutex> held(lock_);
  return files_;
}
std::map<std::string, std::string> SimNetworkPlayer::owner() const {
  std::lock_guard<std::mutex> held(lock_);
  return settings_.owner;
}
void SimNetworkPlayer::AddFile(uint32_t fid, const File& file) {
  std::lock_guard<std::mutex> held(lock_);
  files_[fid] = file;
}
void SimNetworkPlayer::ClearRequests() {
  std::lock_guard<std::mutex> held(lock_);
  requests_.clear();
}
void SimNetworkPlayer::SetFault(Fault fault, uint32_t code) {
  std::lock_guard<std::mutex> held(lock_);
  settings_.fault = fault;
  settings_.fault_code = code;
}

// One connection's state and its requests, in the order the protocol gives them.
class SimNetworkPlayer::Session {
 public:
  Session(SimNetworkPlayer& player, SOCKET peer)
      : player_(player), connection_(peer, player.stop_, GetTickCount64() + kLifetimeMs) {
    player_.logged_in_ = false;
  }

  void Run() {
    for (;;) {
      uint8_t header[8];
      if (!connection_.Read(header, sizeof header)) return;
      if (Le32(header) != kMagic) {
        Violation("request with a wrong magic");
        return;
      }
      const uint32_t code = Le32(header + 4);
      {
        std::lock_guard<std::mutex> held(player_.lock_);
        settings_ = player_.settings_;
      }
      fault_ = settings_.fault_code == code ? settings_.fault : Fault::kNone;
      if (!Serve(code)) return;
    }
  }

 private:
  enum class Mode { kNone, kReading, kChanges };

  // false: the connection ends.
  bool Serve(uint32_t code) {
    switch (code) {
      case 0: return Version();
      case 3: return Challenge();
      case 4: return LoginResponse();
      case 5: return Identity();
      case 6: return StorageInformation();
      case 7: return ReadOwnerText();
      case 8: return WriteOwnerText();
      case 9: return BeginChanges();
      case 11: return CreateFile();
      case 12: return WriteBlock();
      case 13: return ListFiles();
      case 15: return WriteFileProperties();
      case 16: return ReadBlock();
      case 17: return DeleteFile();
      case 18: return FormatStorage();
      default: return Violation("unknown request " + std::to_string(code));
    }
  }

  // --- Requests ----------------------------------------------------------------------------

  bool Version() {
    uint8_t body[8];
    if (!connection_.Read(body, sizeof body)) return false;
    Record(0, {Le32(body), Le32(body + 4)});
    if (Le32(body) != 2 || Le32(body + 4) != 0) return Violation("version request not 2, 0");
    std::vector<uint8_t> out;
    Put32(&out, settings_.version);
    Put32(&out, settings_.version_second);
    return Reply(0, out);
  }

  bool Challenge() {
    Record(3, {});
    challenged_ = true;
    return Reply(3, std::vector<uint8_t>(settings_.challenge, settings_.challenge + 16));
  }

  bool LoginResponse() {
    uint8_t response[16];
    if (!connection_.Read(response, sizeof response)) return false;
    Record(4, {}, 16);
    if (!challenged_) return Refuse(4, kRefused, "a login response without a challenge");
    challenged_ = false;
    const std::string& accepted = settings_.accepted_response;
    logged_in_ = accepted.size() == 16 && std::memcmp(response, accepted.data(), 16) == 0;
    player_.logged_in_ = logged_in_;
    std::vector<uint8_t> out;
    Put32(&out, 0);
    Put32(&out, logged_in_ ? 1 : 0);
    return Reply(4, out);
  }

  bool Identity() {
    Record(5, {});
    std::vector<uint8_t> out;
    PutFixedText(&out, settings_.device_type, settings_.identity_without_nul);
    PutFixedText(&out, settings_.firmware, settings_.identity_without_nul);
    Put32(&out, static_cast<uint32_t>(settings_.storages.size()));
    return Reply(5, out);
  }

  bool StorageInformation() {
    uint8_t body[4];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint32_t index = Le32(body);
    Record(6, {index});
    if (!Permitted(6)) return Refuse(6, kRefused, why_);
    if (index >= settings_.storages.size()) return Refuse(6, kOutOfRange, "no such storage");
    const Storage& storage = settings_.storages[index];
    uint32_t count = 0;
    for (const auto& file : player_.files()) count += file.second.storage == index ? 1 : 0;
    std::vector<uint8_t> out;
    Put32(&out, 0);
    Put32(&out, count);
    Put64(&out, storage.size_bytes);
    Put64(&out, storage.free_bytes);
    Put32(&out, storage.last_word);
    return Reply(6, out);
  }

  bool ReadOwnerText() {
    Record(7, {});
    return TextReply(7, EncodeProperties(player_.owner()));
  }

  bool WriteOwnerText() {
    std::map<std::string, std::string> properties;
    if (!ReadProperties(8, &properties)) return false;
    if (!Permitted(8)) return Refuse(8, kRefused, why_);
    {
      std::lock_guard<std::mutex> held(player_.lock_);
      player_.settings_.owner = properties;
    }
    return Reply(8, ResultBody(8, 0));
  }

  bool BeginChanges() {
    uint8_t body[4];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint32_t flag = Le32(body);
    Record(9, {flag});
    if (flag > 1) return Violation("request 9 with a flag other than 0 and 1");
    if (!Permitted(9)) return Refuse(9, kRefused, why_);
    if (flag == 1) mode_ = Mode::kChanges;
    if (flag == 0 && mode_ == Mode::kNone) mode_ = Mode::kReading;
    return Reply(9, ResultBody(9, 0));
  }

  bool CreateFile() {
    uint8_t body[16];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint64_t size = Le64(body);
    uint32_t fid = Le32(body + 8);
    const uint32_t storage = Le32(body + 12);
    Record(11, {static_cast<uint32_t>(size), static_cast<uint32_t>(size >> 32), fid, storage});
    if (!Permitted(11)) return Refuse(11, kRefused, why_);
    if (storage >= settings_.storages.size()) return Refuse(11, kOutOfRange, "no such storage");
    {
      std::lock_guard<std::mutex> held(player_.lock_);
      if (fid == 0 || settings_.choose_fids) fid = player_.next_fid_ += 0x10;
      File& file = player_.files_[fid];
      file = File();
      file.storage = storage;
      file.size = size;
    }
    std::vector<uint8_t> out;
    Put32(&out, fid);
    Put32(&out, 0);
    return Reply(11, out);
  }

  bool WriteBlock() {
    uint8_t body[24];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint64_t offset = Le64(body), length = Le64(body + 8);
    const uint32_t fid = Le32(body + 16), storage = Le32(body + 20);
    if (length > kMaxRequestBlock) return Violation("request 12 with a block beyond 4 MiB");
    std::vector<uint8_t> data(static_cast<size_t>(length));
    uint8_t padding[4] = {0, 0, 0, 0};
    const size_t padding_length = (4 - length % 4) % 4;
    if (!connection_.Read(data.data(), data.size()) ||
        !connection_.Read(padding, padding_length)) {
      return false;
    }
    Record(12, {static_cast<uint32_t>(offset), static_cast<uint32_t>(length), fid, storage},
           static_cast<uint32_t>(length));
    if ((padding[0] | padding[1] | padding[2]) != 0) return Violation("request 12: padding");
    if (!Permitted(12)) return Refuse(12, kRefused, why_);
    std::lock_guard<std::mutex> held(player_.lock_);
    const auto file = player_.files_.find(fid);
    if (file == player_.files_.end()) return RefuseLocked(12, kNoSuchFile, "no such file");
    if (file->second.storage != storage) return RefuseLocked(12, kRefused, "another storage");
    if (offset != file->second.data.size()) return RefuseLocked(12, kOutOfRange, "out of order");
    if (offset + length > file->second.size) {
      return RefuseLocked(12, kOutOfRange, "beyond the announced size");
    }
    file->second.data.insert(file->second.data.end(), data.begin(), data.end());
    return Reply(12, ResultBody(12, 0));
  }

  bool ListFiles() {
    Record(13, {});
    if (!Permitted(13)) return Refuse(13, kRefused, why_);
    std::string list;
    for (const auto& entry : player_.files()) {
      std::map<std::string, std::string> properties = entry.second.properties;
      properties["fid"] = std::to_string(entry.first);
      list += EncodeProperties(properties) + "\n";
    }
    for (uint32_t i = 0; i < settings_.tiny_list_records; ++i) list += "a=1\n\n";
    return TextReply(13, list);
  }

  bool WriteFileProperties() {
    uint8_t body[4];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint32_t fid = Le32(body);
    std::map<std::string, std::string> properties;
    if (!ReadProperties(15, &properties, fid)) return false;
    if (!Permitted(15)) return Refuse(15, kRefused, why_);
    std::lock_guard<std::mutex> held(player_.lock_);
    const auto file = player_.files_.find(fid);
    if (file == player_.files_.end()) return RefuseLocked(15, kNoSuchFile, "no such file");
    file->second.properties = properties;
    return Reply(15, ResultBody(15, 0));
  }

  bool ReadBlock() {
    uint8_t body[20];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint64_t offset = Le64(body), length = Le64(body + 8);
    const uint32_t fid = Le32(body + 16);
    Record(16, {static_cast<uint32_t>(offset), static_cast<uint32_t>(length), fid});
    if (!Permitted(16)) return Refuse(16, kRefused, why_);
    std::vector<uint8_t> data;
    {
      std::lock_guard<std::mutex> held(player_.lock_);
      const auto file = player_.files_.find(fid);
      if (file == player_.files_.end()) return RefuseLocked(16, kNoSuchFile, "no such file");
      if (offset > file->second.data.size() || length > file->second.data.size() - offset) {
        return RefuseLocked(16, kOutOfRange, "beyond the file's end");
      }
      const auto begin = file->second.data.begin() + static_cast<ptrdiff_t>(offset);
      data.assign(begin, begin + static_cast<ptrdiff_t>(length));
    }
    if (fault_ == Fault::kLongerReadBlock) data.resize(data.size() + 8, 0xEE);
    if (fault_ == Fault::kShorterReadBlock) data.resize(data.size() >= 8 ? data.size() - 8 : 0);
    std::vector<uint8_t> out;
    Put64(&out, data.size());
    Put32(&out, 0);
    out.insert(out.end(), data.begin(), data.end());
    PutPadding(&out, data.size());
    Put32(&out, 0);
    return Reply(16, out);
  }

  bool DeleteFile() {
    uint8_t body[4];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint32_t fid = Le32(body);
    Record(17, {fid});
    if (!Permitted(17)) return Refuse(17, kRefused, why_);
    std::lock_guard<std::mutex> held(player_.lock_);
    if (player_.files_.erase(fid) == 0) return RefuseLocked(17, kNoSuchFile, "no such file");
    return Reply(17, ResultBody(17, 0));
  }

  bool FormatStorage() {
    uint8_t body[4];
    if (!connection_.Read(body, sizeof body)) return false;
    const uint32_t index = Le32(body);
    Record(18, {index});
    if (!Permitted(18)) return Refuse(18, kRefused, why_);
    if (index >= settings_.storages.size()) return Refuse(18, kOutOfRange, "no such storage");
    std::lock_guard<std::mutex> held(player_.lock_);
    for (auto file = player_.files_.begin(); file != player_.files_.end();) {
      file = file->second.storage == index ? player_.files_.erase(file) : std::next(file);
    }
    return Reply(18, ResultBody(18, 0));
  }

  // --- Helpers -----------------------------------------------------------------------------

  // The reply after its header when the answer is only `result` (with the other fields zero).
  static std::vector<uint8_t> ResultBody(uint32_t code, int32_t result) {
    std::vector<uint8_t> body;
    if (code == 11) Put32(&body, 0);
    if (code == 16) Put64(&body, 0);
    Put32(&body, static_cast<uint32_t>(result));
    if (code == 6) body.resize(body.size() + 24, 0);
    return body;
  }

  // Whether the player takes `code` in the connection's state; why_ says why not.
  bool Permitted(uint32_t code) {
    const bool before_login = code == 0 || code == 3 || code == 4 || code == 5 || code == 7;
    const bool change = code == 8 || code == 11 || code == 12 || code == 15 || code == 17 ||
                        code == 18;
    if (!settings_.accepted_response.empty() && !logged_in_ && !before_login) {
      why_ = "not logged in";
    } else if (change && mode_ != Mode::kChanges) {
      why_ = "a change before request 9 with 1";
    } else if ((code == 13 || code == 16) && mode_ == Mode::kNone) {
      why_ = "a read before request 9";
    } else {
      return true;
    }
    return false;
  }

  void Record(uint32_t code, std::vector<uint32_t> words, uint32_t data_length = 0) {
    std::lock_guard<std::mutex> held(player_.lock_);
    player_.requests_.push_back(Request{code, std::move(words), data_length});
  }

  // Always false: the connection ends.
  bool Violation(const std::string& what) {
    std::lock_guard<std::mutex> held(player_.lock_);
    player_.violations_.push_back(what);
    return false;
  }

  bool Refuse(uint32_t code, int32_t result, const std::string& why) {
    {
      std::lock_guard<std::mutex> held(player_.lock_);
      player_.refusals_.push_back("request " + std::to_string(code) + ": " + why);
    }
    return Reply(code, ResultBody(code, result));
  }
  // The same, with the player's lock held by the caller.
  bool RefuseLocked(uint32_t code, int32_t result, const std::string& why) {
    player_.refusals_.push_back("request " + std::to_string(code) + ": " + why);
    return Reply(code, ResultBody(code, result));
  }

  // The notices set for `code`, then its reply, as the fault set for it makes them.
  bool Reply(uint32_t code, const std::vector<uint8_t>& body) {
    for (const auto& notice : settings_.notices[code]) {
      std::vector<uint8_t> bytes;
      Put32(&bytes, kMagic);
      Put32(&bytes, kProgressCode);
      Put32(&bytes, notice.first);
      Put32(&bytes, notice.second);
      if (!connection_.Write(bytes)) return false;
    }
    std::vector<uint8_t> bytes;
    Put32(&bytes, fault_ == Fault::kWrongMagic ? kMagic ^ 1 : kMagic);
    Put32(&bytes, fault_ == Fault::kWrongCode ? code + 1 : code);
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (fault_ == Fault::kSilent) return true;
    if (fault_ == Fault::kCloseMidReply) {
      connection_.Write(bytes.data(), bytes.size() / 2);
      return false;
    }
    return connection_.Write(bytes);
  }

  // A result word of 0 and a padded text (a property text, or the file list).
  bool TextReply(uint32_t code, const std::string& text) {
    std::vector<uint8_t> body;
    Put32(&body, 0);
    if (fault_ == Fault::kTextWithoutNul) {
      body.insert(body.end(), kFloodBytes, 'x');
      Reply(code, body);
      return false;
    }
    body.insert(body.end(), text.begin(), text.end());
    body.push_back(0);
    PutPadding(&body, text.size() + 1);
    if (fault_ == Fault::kExtraAfterText) Put32(&body, 0xAAAAAAAA);
    return Reply(code, body);
  }

  // Reads a property text of request `code`: lines of a name, '=' and an escaped value.
  bool ReadProperties(uint32_t code, std::map<std::string, std::string>* properties,
                      uint32_t word = 0) {
    std::string text, problem;
    if (!connection_.ReadText(&text, &problem)) {
      return Violation("request " + std::to_string(code) + ": " + problem);
    }
    Record(code, code == 15 ? std::vector<uint32_t>{word} : std::vector<uint32_t>{},
           static_cast<uint32_t>(text.size()));
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find('\n', start);
      if (end == std::string::npos) return Violation("a property line without its line feed");
      const std::string line = text.substr(start, end - start);
      start = end + 1;
      const size_t equals = line.find('=');
      std::string value;
      if (equals == std::string::npos || equals == 0) return Violation("a line without a name");
      if (!Unescape(line.substr(equals + 1), &value)) return Violation("a bad escape");
      if (!value.empty()) (*properties)[line.substr(0, equals)] = value;
    }
    return true;
  }

  SimNetworkPlayer& player_;
  Connection connection_;
  Settings settings_;
  Fault fault_ = Fault::kNone;
  Mode mode_ = Mode::kNone;
  bool challenged_ = false;
  bool logged_in_ = false;
  std::string why_;
};

void SimNetworkPlayer::Serve() {
  const ULONGLONG deadline = GetTickCount64() + kLifetimeMs;
  while (!stop_ && GetTickCount64() < deadline) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval wait{0, 20000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    const SOCKET peer = accept(listener_, nullptr, nullptr);
    if (peer == INVALID_SOCKET) continue;
    ++connections_;
    Session(*this, peer).Run();
    closesocket(peer);
  }
}
