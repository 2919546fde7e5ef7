// The command protocol of the flash players: vendor requests with a 32-bit status word, 64-byte
// command and status blocks on the bulk pipes, 16384-byte data chunks, 2048-byte records and
// 8192-byte firmware chunks. A channel makes one session on the stack per operation; the
// session's end finishes any transfer the player still holds ("CQELABRT") and releases every
// lock the session took, whatever happened before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/usb_hardware.h"
#include "support/clock.h"
#include "support/result_codes.h"

class ProgressSink;
class SeekableStream;

namespace qel {

constexpr uint32_t kBlockSize = 64;           // command and status blocks
constexpr uint32_t kChunkSize = 16384;        // data chunks
constexpr uint32_t kRecordSize = 2048;        // file, owner and delete records
constexpr uint32_t kFirmwareChunkSize = 8192;
constexpr uint32_t kDeviceInfoSize = 256;
constexpr uint32_t kStorageBlockSize = 256;
constexpr uint32_t kFormatsBlockSize = 128;
constexpr uint32_t kRead128Size = 128;
constexpr uint32_t kHardwareBlockSize = 512;
constexpr uint32_t kSmallBlockSize = 64;      // battery and button blocks

constexpr uint32_t kTransferTimeoutMs = 5000;
constexpr uint32_t kTailTimeoutMs = 10000;
constexpr uint32_t kLongTimeoutMs = 60000;    // format and firmware progress
constexpr uint32_t kReadyTimeoutMs = 5000;
constexpr uint32_t kReadyPollMs = 100;

// A checksum failure makes the session send the rejected piece again this many times before
// it gives up with rc::kChecksumFailure.
constexpr int kMaxResends = 3;
// A format or firmware start whose percentage has not risen for kLongTimeoutMs gives up with
// rc::kTimeout. Reads that do not raise it end the wait only when this many pass without the
// clock reaching that time (a clock that stands still).
constexpr int kMaxStalledProgressReads = 100000;
// Times a firmware upgrade may be sent again from the start (state 0) before it gives up.
constexpr int kMaxFirmwareRestarts = 3;
// Largest database image the player may announce (request 130).
constexpr uint32_t kMaxDatabaseSize = 64u << 20;

// Value of the first little-endian 32-bit word of a control reply.
constexpr uint32_t kStatusDone = 1;
constexpr uint32_t kStatusInvalid = 0xFFFFFFFF;
constexpr uint32_t kFirmwareGoOn = 0x80000101;

}  // namespace qel

class ProtocolSession {
 public:
  // The transport is not owned and must outlive the session; waits sleep on `clock`.
  explicit ProtocolSession(UsbHardware* transport, Clock* clock = Clock::System());
  ~ProtocolSession();
  ProtocolSession(const ProtocolSession&) = delete;
  ProtocolSession& operator=(const ProtocolSession&) = delete;

  int32_t lock_count() const { return lock_count_; }
  // True while a transfer opened by a request is still held by the player.
  bool transfer_open() const { return phase_ != Phase::kNone; }

  // Vendor requests. "Strict" requests map the status word (1 done, echo of the request
  // unknown request, anything else protocol error); "raw" ones hand the word back.
  Result ControlRequest(uint8_t request, uint16_t value, uint16_t index);
  Result RawRequest(uint8_t request, uint16_t value, uint16_t index, uint32_t* word);
  // A raw request whose word 0xFFFFFFFF counts as a protocol error.
  Result ValueRequest(uint8_t request, uint16_t value, uint16_t index, uint32_t* word);

  Result WaitReady();                                                      // 96
  Result GetStatusWord(uint32_t* word) { return RawRequest(97, 0, 0, word); }
  Result ReadDeviceInfoBlock(uint8_t block[qel::kDeviceInfoSize]);         // 98
  Result ReadFormatsBlock(uint16_t value, uint8_t block[qel::kFormatsBlockSize]);  // 99
  Result Lock();                                                           // 101
  Result Unlock();                                                         // 102
  // 0 for a valid block; rc::kShortTransfer past the last storage.
  Result ReadStorageBlock(uint16_t storage, uint8_t block[qel::kStorageBlockSize]);  // 104
  Result ReadRecordBlock(uint16_t value, uint16_t index, uint8_t record[qel::kRecordSize]);
  Result Format(uint16_t storage) { return ControlRequest(106, storage, 0); }
  // Request 107 and the image-size handshake; *state receives the first firmware state.
  Result StartFirmwareUpgrade(uint32_t image_size, uint32_t* state, ProgressSink* progress);
  Result BeginSend(uint16_t storage) { return BeginUpload(108, storage); }
  Result BeginSend136(uint16_t storage) { return BeginUpload(136, storage); }
  Result BeginRecordWrite(uint16_t value) { return BeginUpload(133, value); }
  Result BeginDatabaseWrite(uint16_t value) { return BeginUpload(135, value); }
  // Opens the download of the file the record names; the record's length (offset 8) tells
  // the session how many chunks the player will send.
  Result RequestDownload(uint16_t value, const uint8_t record[qel::kRecordSize]);  // 112
  Result Request117(uint16_t value, uint16_t index) { return ControlRequest(117, value, index); }
  Result GetButtonCount(uint32_t* value) { return ValueRequest(118, 0, 0, value); }
  Result Request119(uint16_t value, uint16_t index) { return ControlRequest(119, value, index); }
  // *no_such_file (optional) tells whether the player answered that it holds no such file.
  Result DeleteRecord(uint16_t value, const uint8_t record[qel::kRecordSize],
                      bool* no_such_file = nullptr);                                // 120
  Result WriteOwnerRecord(const uint8_t record[qel::kRecordSize]);                  // 121
  Result ReadOwnerRecord(uint8_t record[qel::kRecordSize]);                         // 122
  Result SetTime(int32_t local_seconds);                                            // 123
  // rc::kBadIndex (nothing sent) when the buffer holds fewer than 128 bytes.
  Result Read128(uint8_t* buffer, uint32_t size);                                   // 128
  Result GetDatabaseSize(uint32_t* size);                                           // 130
  Result GetBatteryValue(uint32_t* value) { return ValueRequest(132, 0, 0, value); }
  Result Request134();
  Result Request137(uint16_t value, uint16_t index);
  Result ReadHardwareBlock(uint8_t block[qel::kHardwareBlockSize]);                 // 138
  // The player's value divided by 60.
  Result Request140(uint32_t* value);
  Result ReadBatteryBlock(uint8_t block[qel::kSmallBlockSize]);                     // 141
  Result SendString(const std::string& text, uint16_t index);                       // 142
  Result ReadButtonBlock(uint8_t block[qel::kSmallBlockSize]);                      // 144
  Result Request145(uint16_t value) { return ControlRequest(145, value, 0); }

  // Transfer steps inside a transfer that a request opened. A checksum failure ("CRCF")
  // speaks of the piece sent before: the session sends that piece again (at most
  // qel::kMaxResends times) before it goes on.
  Result CheckDataStatus();
  Result SendChunk(const uint8_t chunk[qel::kChunkSize]);
  Result SendTail(const uint8_t* data, uint32_t length);
  Result SendBytes(const uint8_t* data, uint32_t length);
  Result SendInfo(const uint8_t record[qel::kRecordSize]);
  Result FinishInfo();
  // "DONE" gives *got = 0; "DATA" a whole chunk.
  Result ReceiveChunk(uint8_t chunk[qel::kChunkSize], uint32_t* got);
  Result ReceiveDownloadChunk(uint8_t chunk[qel::kChunkSize]);
  // "CQELABRT", then waits for the player and takes the lock the abort cost again.
  void Abort();
  // Ends the transfer unless the player has already ended it (a "FULL" answer).
  void AbortIfData();
  Result FormatProgress(uint32_t* percent);
  Result FirmwareChunk(const uint8_t chunk[qel::kFirmwareChunkSize], uint32_t* state);

  // Whole procedures whose loops the player drives; each is bounded.
  // Waits, locks, formats and follows the progress to 100 (reported as (percent, 100)).
  Result FormatWithProgress(uint16_t storage, ProgressSink* progress);
  // Sends the whole image; 1 after a complete image, negative on failure.
  Result UpgradeFirmware(SeekableStream* image, ProgressSink* progress);

 private:
  enum class Phase {
    kNone,       // no transfer
    kStatusDue,  // the player owes a data status block
    kOpen,       // the player waits for a command, data or a record
  };
  enum class PieceKind { kNone, kChunk, kTail, kBytes };

  Result BeginUpload(uint8_t request, uint16_t value);
  Result ReadyRequest(uint8_t request, uint16_t value, uint16_t index);
  Result ReadyRead(uint8_t request, uint16_t value, uint8_t* block, uint32_t size);
  Result ReadStatus(uint32_t timeout_ms, std::string* word);
  Result ExpectStatus(const char* expected);
  Result WriteCommand(const char* word, uint32_t length_field);
  // Asks the player for the next chunk of a receive; *word is its status word.
  Result AskForChunk(std::string* word);
  Result ReadData(void* buffer, uint32_t length, uint32_t timeout_ms);
  Result WriteData(const void* buffer, uint32_t length, uint32_t timeout_ms);
  Result ReadStatusWithResends(std::string* word);
  Result SendPiece(PieceKind kind, const uint8_t* data, uint32_t length);
  Result TransmitPiece();
  Result ReadFirmwareBlock(uint8_t block[qel::kBlockSize]);
  Result FollowFirmwareProgress(uint8_t block[qel::kBlockSize], ProgressSink* progress);

  UsbHardware* transport_;
  Clock* clock_;
  int32_t lock_count_ = 0;
  Phase phase_ = Phase::kNone;
  // Bytes of the download the player still owes; UINT32_MAX when it ends with "DONE".
  uint32_t download_left_ = 0;
  // The last data piece sent, kept for a resend after "CRCF".
  PieceKind piece_kind_ = PieceKind::kNone;
  std::vector<uint8_t> piece_;
};
