#include "devices/network/remote_protocol_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "devices/device_results.h"
#include "devices/network/network_results.h"
#include "devices/network/property_text.h"
#include "devices/network/tcp_socket.h"
#include "devices/progress_sink.h"
#include "support/byte_order.h"
#include "support/md5.h"
#include "support/stream_io.h"

namespace {

constexpr uint32_t kChunk = 4096;
constexpr uint32_t kIdentityTextBytes = 32;
constexpr uint32_t kChallengeBytes = 16;

uint64_t PaddedLength(uint64_t length) { return (length + 3) & ~uint64_t{3}; }

int32_t ResultWord(const uint8_t* p) { return static_cast<int32_t>(bytes::Le32(p)); }

// A text field of fixed size, cut at its first NUL or at its end.
std::string FixedText(const uint8_t* p, uint32_t size) {
  const void* nul = std::memchr(p, 0, size);
  const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : size;
  return std::string(reinterpret_cast<const char*>(p), length);
}

}  // namespace

// One request on the wire: the header, then words, data and texts, each padded.
class RemoteProtocolClient::Request {
 public:
  explicit Request(uint32_t code) : bytes_(RemoteRequestHeader::kSize) {
    RemoteRequestHeader{RemoteRequestHeader::kMagic, code}.EncodeTo(bytes_.data());
  }
  Request& Word(uint32_t value) {
    uint8_t b[4];
    bytes::PutLe32(b, value);
    bytes_.insert(bytes_.end(), b, b + 4);
    return *this;
  }
  Request& Wide(uint64_t value) {
    Word(static_cast<uint32_t>(value));
    return Word(static_cast<uint32_t>(value >> 32));
  }
  // The bytes, then zeros up to a multiple of 4 of their length.
  Request& Padded(const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + length);
    bytes_.resize(bytes_.size() + (PaddedLength(length) - length), 0);
    return *this;
  }
  // The text and its NUL, padded.
  Request& Text(const std::string& text) { return Padded(text.c_str(), text.size() + 1); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

RemoteProtocolClient::RemoteProtocolClient(TcpSocket* connection, ProgressSink* progress)
    : connection_(connection), progress_(progress) {}

Result RemoteProtocolClient::Broken(Result failure) {
  connection_->Close();
  return failure;
}

Result RemoteProtocolClient::Send(const Request& request) {
  const std::vector<uint8_t>& data = request.bytes();
  const Result sent = WriteExact(connection_, data.data(), static_cast<uint32_t>(data.size()));
  return rc::Failed(sent) ? Broken(sent) : rc::kOk;
}

Result RemoteProtocolClient::Receive(void* buffer, uint32_t length) {
  const Result got = ReadExact(connection_, buffer, length);
  return rc::Failed(got) ? Broken(got) : rc::kOk;
}

Result RemoteProtocolClient::ReceiveSome(void* buffer, uint32_t length, uint32_t* got) {
  const Result read = connection_->Read(buffer, length, got);
  if (rc::Failed(read)) return Broken(read);
  // The end of the connection, or a read that moved nothing: the reply will not come whole.
  if (read == rc::kEndOfData || *got == 0) return Broken(rc::kShortTransfer);
  if (*got > length) return Broken(rc::kBadData);
  return rc::kOk;
}

Result RemoteProtocolClient::ReadPadding(uint64_t consumed, uint64_t received) {
  const uint64_t padded = PaddedLength(consumed);
  if (received > padded) return Broken(rc::kBadData);
  uint8_t padding[4];
  return Receive(padding, static_cast<uint32_t>(padded - received));
}

Result RemoteProtocolClient::ReadReply(uint8_t* buffer, uint32_t code, uint32_t length) {
  Result result = Receive(buffer, kHeaderSize);
  while (rc::Succeeded(result) && RemoteRequestHeader::DecodeFrom(buffer).Is(kProgress)) {
    uint8_t words[8];
    result = Receive(words, sizeof words);
    if (rc::Failed(result)) return result;
    if (progress_) progress_->Report(bytes::Le32(words), bytes::Le32(words + 4));
    result = Receive(buffer, kHeaderSize);
  }
  if (rc::Failed(result)) return result;
  if (!RemoteRequestHeader::DecodeFrom(buffer).Is(code)) {
    return Broken(rc::kBadData);
  }
  return Receive(buffer + kHeaderSize, length - kHeaderSize);
}

Result RemoteProtocolClient::Transact(const Request& request, uint32_t code) {
  Result result = Send(request);
  uint8_t reply[12];
  if (rc::Succeeded(result)) result = ReadReply(reply, code, sizeof reply);
  return rc::Failed(result) ? result : ResultWord(reply + 8);
}

Result RemoteProtocolClient::ReadText(std::string* text) {
  std::string received;
  size_t nul = std::string::npos;
  while (nul == std::string::npos) {
    if (received.size() >= kMaxTextBytes) return Broken(rc::kBadData);
    char chunk[kChunk];
    uint32_t got = 0;
    const uint32_t want =
        std::min<uint32_t>(kChunk, kMaxTextBytes - static_cast<uint32_t>(received.size()));
    const Result result = ReceiveSome(chunk, want, &got);
    if (rc::Failed(result)) return result;
    const size_t before = received.size();
    received.append(chunk, got);
    nul = received.find('\0', before);
  }
  text->assign(received, 0, nul);
  return ReadPadding(nul + 1, received.size());
}

Result RemoteProtocolClient::ReadList(RemoteRecordVisitor* visitor) {
  std::string pending;  // received and not yet handed on
  uint64_t received = 0;
  uint32_t records = 0;
  Result answer = rc::kOk;
  for (;;) {
    size_t separator;
    while ((separator = pending.find("\n\n")) != std::string::npos) {
      const std::string record = pending.substr(0, separator);
      pending.erase(0, separator + 2);
      if (record.empty() || rc::Failed(answer)) continue;
      if (++records > kMaxListRecords) return Broken(rc::kListTooLong);
      RefPtr<PropertySet> set;
      answer = PropertySet::Create(&set);
      if (rc::Succeeded(answer)) answer = set->AddNew();
      if (rc::Succeeded(answer)) answer = DecodePropertyText(record, *set);
      if (rc::Succeeded(answer)) answer = visitor->OnRecord(set);
    }
    if (!pending.empty() && pending[0] == '\0') break;
    // A NUL inside a record: the list ended without its last separator.
    if (pending.find('\0') != std::string::npos) return Broken(rc::kBadData);
    if (pending.size() >= kMaxTextBytes || received >= kMaxListBytes) return Broken(rc::kBadData);
    char chunk[kChunk];
    uint32_t got = 0;
    const Result result = ReceiveSome(chunk, kChunk, &got);
    if (rc::Failed(result)) return result;
    received += got;
    pending.append(chunk, got);
  }
  // The list ends with the NUL that starts `pending`.
  const Result padded = ReadPadding(received - pending.size() + 1, received);
  return rc::Failed(padded) ? padded : answer;
}

Result RemoteProtocolClient::GetVersion(uint32_t* version, uint32_t* second) {
  Result result = Send(Request(kVersion).Word(kProtocolVersion).Word(0));
  uint8_t reply[16];
  if (rc::Succeeded(result)) result = ReadReply(reply, kVersion, sizeof reply);
  if (rc::Failed(result)) return result;
  *version = bytes::Le32(reply + 8);
  *second = bytes::Le32(reply + 12);
  return rc::kOk;
}

Result RemoteProtocolClient::CheckVersion() {
  uint32_t version = 0, second = 0;
  const Result result = GetVersion(&version, &second);
  if (rc::Failed(result)) return result;
  if (version < kProtocolVersion) return rc::kPlayerProtocolOlder;
  if (version > kProtocolVersion) return rc::kPlayerProtocolNewer;
  return rc::kOk;
}

Result RemoteProtocolClient::Login(const std::string& password, bool* granted) {
  *granted = false;
  Result result = Send(Request(kChallenge));
  uint8_t challenge[kHeaderSize + kChallengeBytes];
  if (rc::Succeeded(result)) result = ReadReply(challenge, kChallenge, sizeof challenge);
  if (rc::Failed(result)) return result;

  std::vector<uint8_t> salted(challenge + kHeaderSize, challenge + sizeof challenge);
  salted.insert(salted.end(), password.begin(), password.end());
  uint8_t response[kMd5DigestSize];
  Md5Digest(response, salted.data(), static_cast<int32_t>(salted.size()));

  result = Send(Request(kLoginResponse).Padded(response, sizeof response));
  uint8_t reply[16];
  if (rc::Succeeded(result)) result = ReadReply(reply, kLoginResponse, sizeof reply);
  if (rc::Failed(result)) return result;
  const int32_t answer = ResultWord(reply + 8);
  if (answer < 0) return answer;
  *granted = bytes::Le32(reply + 12) == 1;
  return *granted ? rc::kOk : rc::kAccessDenied;
}

Result RemoteProtocolClient::GetIdentity(std::string* device_type, std::string* firmware,
                                         uint32_t* storages) {
  Result result = Send(Request(kIdentity));
  uint8_t reply[kHeaderSize + 2 * kIdentityTextBytes + 4];
  if (rc::Succeeded(result)) result = ReadReply(reply, kIdentity, sizeof reply);
  if (rc::Failed(result)) return result;
  *device_type = FixedText(reply + kHeaderSize, kIdentityTextBytes);
  *firmware = FixedText(reply + kHeaderSize + kIdentityTextBytes, kIdentityTextBytes);
  *storages = bytes::Le32(reply + kHeaderSize + 2 * kIdentityTextBytes);
  return rc::kOk;
}

Result RemoteProtocolClient::GetStorageInfo(uint32_t index, RemoteStorageInfo* info) {
  Result result = Send(Request(kStorageInfo).Word(index));
  uint8_t reply[36];
  if (rc::Succeeded(result)) result = ReadReply(reply, kStorageInfo, sizeof reply);
  if (rc::Failed(result)) return result;
  const int32_t answer = ResultWord(reply + 8);
  if (answer < 0) return answer;
  info->files = bytes::Le32(reply + 12);
  info->size_bytes = bytes::Le64(reply + 16);
  info->free_bytes = bytes::Le64(reply + 24);
  info->last_word = bytes::Le32(reply + 32);
  return answer;
}

Result RemoteProtocolClient::ReadOwnerText(PropertySet& owner) {
  const Result answer = Transact(Request(kReadOwnerText), kReadOwnerText);
  if (rc::Failed(answer)) return answer;
  std::string text;
  const Result read = ReadText(&text);
  if (rc::Failed(read)) return read;
  const Result stored = DecodePropertyText(text, owner);
  return rc::Failed(stored) ? stored : answer;
}

Result RemoteProtocolClient::WriteOwnerText(PropertySet& owner) {
  return Transact(Request(kWriteOwnerText).Text(EncodePropertyText(owner)), kWriteOwnerText);
}

Result RemoteProtocolClient::BeginChanges(uint32_t flag) {
  return Transact(Request(kBeginChanges).Word(flag), kBeginChanges);
}

Result RemoteProtocolClient::CreateFile(uint32_t* fid, uint64_t size, uint32_t storage) {
  Result result = Send(Request(kCreateFile).Wide(size).Word(*fid).Word(storage));
  uint8_t reply[16];
  if (rc::Succeeded(result)) result = ReadReply(reply, kCreateFile, sizeof reply);
  if (rc::Failed(result)) return result;
  const int32_t answer = ResultWord(reply + 12);
  if (answer < 0) return answer;
  *fid = bytes::Le32(reply + 8);
  return answer;
}

Result RemoteProtocolClient::WriteBlock(uint32_t fid, uint64_t offset, const void* data,
                                        uint32_t length, uint32_t storage) {
  if (length > kMaxBlockBytes) return rc::kInvalidArg;
  return Transact(
      Request(kWriteBlock).Wide(offset).Wide(length).Word(fid).Word(storage).Padded(data, length),
      kWriteBlock);
}

Result RemoteProtocolClient::ListFiles(RemoteRecordVisitor* visitor) {
  const Result answer = Transact(Request(kListFiles), kListFiles);
  if (rc::Failed(answer)) return answer;
  const Result listed = ReadList(visitor);
  return rc::Failed(listed) ? listed : answer;
}

Result RemoteProtocolClient::WriteFileProperties(uint32_t fid, PropertySet& properties) {
  return Transact(Request(kWriteFileProperties).Word(fid).Text(EncodePropertyText(properties)),
                  kWriteFileProperties);
}

Result RemoteProtocolClient::ReadBlock(uint32_t fid, uint64_t offset, uint32_t length,
                                       void* buffer) {
  if (length > kMaxBlockBytes) return rc::kInvalidArg;
  Result result = Send(Request(kReadBlock).Wide(offset).Wide(length).Word(fid));
  uint8_t reply[20];
  if (rc::Succeeded(result)) result = ReadReply(reply, kReadBlock, sizeof reply);
  if (rc::Failed(result)) return result;
  const int32_t answer = ResultWord(reply + 16);
  if (answer < 0) return answer;
  // Checked before the data: the buffer holds `length` bytes and no more.
  if (bytes::Le64(reply + 8) != length) return Broken(rc::kBadIndex);
  result = Receive(buffer, length);
  if (rc::Succeeded(result)) result = ReadPadding(length, length);
  uint8_t trailer[4];
  if (rc::Succeeded(result)) result = Receive(trailer, sizeof trailer);
  return rc::Failed(result) ? result : ResultWord(trailer);
}

Result RemoteProtocolClient::DeleteFile(uint32_t fid) {
  return Transact(Request(kDeleteFile).Word(fid), kDeleteFile);
}

Result RemoteProtocolClient::FormatStorage(uint32_t index) {
  return Transact(Request(kFormatStorage).Word(index), kFormatStorage);
}
