// The request/reply protocol of network players over one TCP connection. Every request and
// reply starts with the magic word and a command code; all numbers are 32-bit little-endian
// words (64-bit values: low word first) and variable data is padded with zeros to a multiple
// of 4 bytes. One request is outstanding at a time; while it works, the player may send
// progress notices before the reply.
//
// The replies are the player's and untrusted: each is checked for its magic, its code and its
// lengths, texts and lists are capped, and after any transfer or protocol failure the
// connection is closed, since it is out of step (a negative result word of the player is an
// answer, not such a failure).
#pragma once

// <winsock2.h> brings <windows.h>, whose CreateFile and DeleteFile macros would rename the
// operations of the same names: include it first, then drop them.
#include <winsock2.h>
#ifdef CreateFile
#undef CreateFile
#endif
#ifdef DeleteFile
#undef DeleteFile
#endif

#include <cstdint>
#include <string>

#include "devices/network/remote_request_header.h"
#include "media/property_set.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

class ProgressSink;
class TcpSocket;

// Receives each record of the file list as a new property set.
class RemoteRecordVisitor {
 public:
  virtual ~RemoteRecordVisitor() = default;
  // A failure stops the handing on; the rest of the list is still read off the connection.
  virtual Result OnRecord(const RefPtr<PropertySet>& record) = 0;
};

// The storage-information reply after its result word.
struct RemoteStorageInfo {
  uint32_t files = 0;
  uint64_t size_bytes = 0;
  uint64_t free_bytes = 0;
  uint32_t last_word = 0;  // the player's own
};

class RemoteProtocolClient {
 public:
  static constexpr uint32_t kProtocolVersion = 2;
  static constexpr uint32_t kHeaderSize = RemoteRequestHeader::kSize;
  // A longer property text, or list record, or a longer file list in all, is refused.
  static constexpr uint32_t kMaxTextBytes = 1u << 20;
  static constexpr uint32_t kMaxListBytes = 64u << 20;
  // A file list of more records is refused (rc::kListTooLong): each becomes a property set,
  // and 64 MiB of tiny records would be millions of them.
  static constexpr uint32_t kMaxListRecords = 1u << 18;
  // The largest data block the client reads or writes in one request.
  static constexpr uint32_t kMaxBlockBytes = 1u << 20;

  enum Code : uint32_t {
    kVersion = 0,
    kProgress = 2,
    kChallenge = 3,
    kLoginResponse = 4,
    kIdentity = 5,
    kStorageInfo = 6,
    kReadOwnerText = 7,
    kWriteOwnerText = 8,
    kBeginChanges = 9,
    kCreateFile = 11,
    kWriteBlock = 12,
    kListFiles = 13,
    kWriteFileProperties = 15,
    kReadBlock = 16,
    kDeleteFile = 17,
    kFormatStorage = 18,
  };

  // Neither is owned. `progress` (may be null) receives the two words of every notice.
  explicit RemoteProtocolClient(TcpSocket* connection, ProgressSink* progress = nullptr);

  void set_progress(ProgressSink* progress) { progress_ = progress; }

  // Reads the reply of `code`, `length` bytes with its header, into `buffer`, passing on the
  // progress notices that come first. rc::kBadData for a wrong magic or code,
  // rc::kShortTransfer when the connection ends before the reply.
  Result ReadReply(uint8_t* buffer, uint32_t code, uint32_t length);

  Result GetVersion(uint32_t* version, uint32_t* second);
  // rc::kPlayerProtocolOlder or rc::kPlayerProtocolNewer unless the player speaks version 2.
  Result CheckVersion();
  // Answers the player's challenge with MD5 over the 16 challenge bytes and the password.
  // *granted tells whether the player let us in; a refusal is rc::kAccessDenied, or the
  // player's negative result.
  Result Login(const std::string& password, bool* granted);
  // The device type and firmware version texts (each at most 32 bytes) and the storage count.
  Result GetIdentity(std::string* device_type, std::string* firmware, uint32_t* storages);
  Result GetStorageInfo(uint32_t index, RemoteStorageInfo* info);
  // Stores the owner text's properties into `owner`.
  Result ReadOwnerText(PropertySet& owner);
  Result WriteOwnerText(PropertySet& owner);
  // flag 1: changes follow; 0: only reading.
  Result BeginChanges(uint32_t flag);
  // *fid: the id asked for; on success the id the player chose.
  Result CreateFile(uint32_t* fid, uint64_t size, uint32_t storage);
  Result WriteBlock(uint32_t fid, uint64_t offset, const void* data, uint32_t length,
                    uint32_t storage);
  Result ListFiles(RemoteRecordVisitor* visitor);
  Result WriteFileProperties(uint32_t fid, PropertySet& properties);
  // Reads exactly `length` bytes at `offset` into `buffer`. A reply announcing another length
  // is refused with rc::kBadIndex before any data is read.
  Result ReadBlock(uint32_t fid, uint64_t offset, uint32_t length, void* buffer);
  Result DeleteFile(uint32_t fid);
  Result FormatStorage(uint32_t index);

 private:
  class Request;

  Result Send(const Request& request);
  // Exactly `length` bytes.
  Result Receive(void* buffer, uint32_t length);
  // One read of at most `length` bytes, at least one.
  Result ReceiveSome(void* buffer, uint32_t length, uint32_t* got);
  // Reads the zero bytes that bring `consumed` bytes (of which `received` have arrived) to a
  // multiple of 4; more bytes than that already received is rc::kBadData.
  Result ReadPadding(uint64_t consumed, uint64_t received);
  Result ReadText(std::string* text);
  Result ReadList(RemoteRecordVisitor* visitor);
  // Sends the request and reads a reply of one result word, which is the answer.
  Result Transact(const Request& request, uint32_t code);
  // Closes the connection and answers `failure`.
  Result Broken(Result failure);

  TcpSocket* connection_;
  ProgressSink* progress_;
};
