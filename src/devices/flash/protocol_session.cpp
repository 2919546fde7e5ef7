#include "devices/flash/protocol_session.h"

#include <algorithm>
#include <cstring>

#include "devices/device_results.h"
#include "devices/progress_sink.h"
#include "devices/usb/usb_transfers.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"
#include "support/stream.h"

namespace {

// Some players send these eight bytes instead of "SQELFULL".
const uint8_t kFullSignature[8] = {0x98, 0xCE, 0x87, 0x15, 0x1E, 0x34, 0xB9, 0xCC};

constexpr int kMaxReadyPolls = 2 * qel::kReadyTimeoutMs / qel::kReadyPollMs;
constexpr int kFirmwareStartTries = 5;
constexpr uint32_t kFirmwareStartPauseMs = 300;
constexpr uint32_t kFirmwarePauseMs = 4;
constexpr int kFirmwareStatusReads = 10;

// Bounds a progress loop that the player drives: a percentage that has not risen for the
// long time-out means the player is stuck. A slow player may repeat a percentage as often as
// it likes within that time; the count of reports only ends a wait whose clock stands still.
class StallGuard {
 public:
  explicit StallGuard(Clock* clock) : clock_(clock), risen_at_(clock->NowMs()) {}
  bool Stalled(int percent) {
    const uint32_t now = clock_->NowMs();
    if (percent > best_) {
      best_ = percent;
      risen_at_ = now;
      stalled_ = 0;
      return false;
    }
    return now - risen_at_ > qel::kLongTimeoutMs || ++stalled_ >= qel::kMaxStalledProgressReads;
  }

 private:
  Clock* clock_;
  uint32_t risen_at_;
  int best_ = -1;
  int stalled_ = 0;
};

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Status word of a strict request.
Result MapStatusWord(uint32_t word, uint8_t request) {
  if (word == qel::kStatusDone) return rc::kOk;
  // The player echoed the setup packet: it does not know the request.
  if ((word & 0xFF) == 0xC0 && ((word >> 8) & 0xFF) == request) return rc::kUnknownRequest;
  return rc::kProtocolError;
}

}  // namespace

ProtocolSession::ProtocolSession(UsbHardware* transport, Clock* clock)
    : transport_(transport), clock_(clock) {}

ProtocolSession::~ProtocolSession() {
  // A transfer left open (a failure on our side) would keep the player busy for the next
  // caller.
  AbortIfData();
  while (lock_count_ > 0 && rc::Succeeded(ControlRequest(102, 0, 0))) --lock_count_;
}

// --- transport steps -------------------------------------------------------------------------

Result ProtocolSession::RawRequest(uint8_t request, uint16_t value, uint16_t index,
                                   uint32_t* word) {
  uint8_t reply[UsbHardware::kReplySize] = {};
  Result result = transport_->ControlRequest(request, value, index, reply);
  if (rc::Failed(result)) return result;
  *word = bytes::Le32(reply);
  return rc::kOk;
}

Result ProtocolSession::ValueRequest(uint8_t request, uint16_t value, uint16_t index,
                                     uint32_t* word) {
  uint32_t answer = 0;
  Result result = RawRequest(request, value, index, &answer);
  if (rc::Failed(result)) return result;
  if (answer == qel::kStatusInvalid) return rc::kProtocolError;
  *word = answer;
  return rc::kOk;
}

Result ProtocolSession::ControlRequest(uint8_t request, uint16_t value, uint16_t index) {
  uint32_t word = 0;
  Result result = RawRequest(request, value, index, &word);
  return rc::Failed(result) ? result : MapStatusWord(word, request);
}

Result ProtocolSession::ReadData(void* buffer, uint32_t length, uint32_t timeout_ms) {
  return ReadFully(*transport_, buffer, length, timeout_ms);
}

Result ProtocolSession::WriteData(const void* buffer, uint32_t length, uint32_t timeout_ms) {
  return WriteFully(*transport_, buffer, length, timeout_ms);
}

Result ProtocolSession::WriteCommand(const char* word, uint32_t length_field) {
  uint8_t block[qel::kBlockSize] = {};
  memcpy(block, word, 8);
  bytes::PutLe32(block + 8, length_field);
  return WriteData(block, sizeof block, qel::kTransferTimeoutMs);
}

Result ProtocolSession::ReadStatus(uint32_t timeout_ms, std::string* word) {
  uint8_t block[qel::kBlockSize];
  Result result = ReadData(block, sizeof block, timeout_ms);
  if (rc::Failed(result)) return result;
  if (memcmp(block, "SQEL", 4) == 0) {
    word->assign(reinterpret_cast<const char*>(block) + 4, 4);
    return rc::kOk;
  }
  if (memcmp(block, kFullSignature, sizeof kFullSignature) == 0) {
    *word = "FULL";
    return rc::kOk;
  }
  return rc::kBadStatusBlock;
}

Result ProtocolSession::ExpectStatus(const char* expected) {
  uint8_t block[qel::kBlockSize];
  Result result = ReadData(block, sizeof block, qel::kTransferTimeoutMs);
  if (rc::Failed(result)) return result;
  size_t length = std::min<size_t>(strlen(expected), sizeof block);
  return memcmp(block, expected, length) == 0 ? rc::kOk : rc::kBadStatusBlock;
}

// --- requests --------------------------------------------------------------------------------

Result ProtocolSession::WaitReady() {
  const uint32_t start = clock_->NowMs();
  for (int polls = 1;; ++polls) {
    uint32_t word = 0;
    Result result = RawRequest(96, 0, 0, &word);
    if (rc::Succeeded(result) && word == qel::kStatusDone) return rc::kOk;
    if (rc::Succeeded(result) && word == qel::kStatusInvalid) return rc::kProtocolError;
    // Polling a player that is gone only delays the caller.
    if (result == rc::kPlayerGone) return result;
    clock_->SleepMs(qel::kReadyPollMs);
    // The poll count bounds the wait even when the clock does not move.
    if (clock_->NowMs() - start > qel::kReadyTimeoutMs || polls >= kMaxReadyPolls)
      return rc::kPlayerNotReady;
  }
}

Result ProtocolSession::Lock() {
  Result result = ControlRequest(101, 0, 0);
  if (rc::Succeeded(result)) ++lock_count_;
  return result;
}

Result ProtocolSession::Unlock() {
  Result result = ControlRequest(102, 0, 0);
  if (rc::Succeeded(result)) --lock_count_;
  return result;
}

Result ProtocolSession::ReadyRequest(uint8_t request, uint16_t value, uint16_t index) {
  Result result = WaitReady();
  return rc::Failed(result) ? result : ControlRequest(request, value, index);
}

Result ProtocolSession::ReadyRead(uint8_t request, uint16_t value, uint8_t* block,
                                  uint32_t size) {
  Result result = ReadyRequest(request, value, 0);
  return rc::Failed(result) ? result : ReadData(block, size, qel::kTransferTimeoutMs);
}

Result ProtocolSession::ReadDeviceInfoBlock(uint8_t block[qel::kDeviceInfoSize]) {
  return ReadyRead(98, 0, block, qel::kDeviceInfoSize);
}

Result ProtocolSession::ReadFormatsBlock(uint16_t value, uint8_t block[qel::kFormatsBlockSize]) {
  return ReadyRead(99, value, block, qel::kFormatsBlockSize);
}

Result ProtocolSession::ReadStorageBlock(uint16_t storage,
                                         uint8_t block[qel::kStorageBlockSize]) {
  Result result = ReadyRead(104, storage, block, qel::kStorageBlockSize);
  if (rc::Failed(result)) return result;
  uint32_t status = bytes::Le32(block);
  if (status == 1) return rc::kOk;
  return status == 0 ? rc::kShortTransfer : rc::kBadStorageBlock;
}

Result ProtocolSession::ReadRecordBlock(uint16_t value, uint16_t index,
                                        uint8_t record[qel::kRecordSize]) {
  Result result = ReadyRequest(105, value, index);
  if (rc::Succeeded(result)) result = ReadData(record, qel::kRecordSize, qel::kTransferTimeoutMs);
  if (rc::Failed(result)) return result;
  uint32_t first = bytes::Le32(record);
  return first == 0 || first == qel::kStatusInvalid ? rc::kShortTransfer : rc::kOk;
}

Result ProtocolSession::ReadOwnerRecord(uint8_t record[qel::kRecordSize]) {
  return ReadyRead(122, 0, record, qel::kRecordSize);
}

Result ProtocolSession::ReadHardwareBlock(uint8_t block[qel::kHardwareBlockSize]) {
  return ReadyRead(138, 0, block, qel::kHardwareBlockSize);
}

Result ProtocolSession::ReadBatteryBlock(uint8_t block[qel::kSmallBlockSize]) {
  return ReadyRead(141, 0, block, qel::kSmallBlockSize);
}

Result ProtocolSession::ReadButtonBlock(uint8_t block[qel::kSmallBlockSize]) {
  return ReadyRead(144, 0, block, qel::kSmallBlockSize);
}

Result ProtocolSession::SetTime(int32_t local_seconds) {
  // Arithmetic shift: times before 1970 keep their sign in the value.
  return ControlRequest(123, static_cast<uint16_t>(local_seconds >> 16),
                        static_cast<uint16_t>(local_seconds & 0xFFFF));
}

Result ProtocolSession::Read128(uint8_t* buffer, uint32_t size) {
  if (buffer == nullptr || size < qel::kRead128Size) return rc::kBadIndex;
  Result result = ControlRequest(128, 0, 0);
  return rc::Failed(result) ? result : ReadData(buffer, qel::kRead128Size, qel::kTransferTimeoutMs);
}

Result ProtocolSession::GetDatabaseSize(uint32_t* size) {
  Result result = ReadyRequest(130, 0, 0);
  if (rc::Failed(result)) return result;
  uint8_t block[qel::kBlockSize];
  result = ReadData(block, sizeof block, qel::kTransferTimeoutMs);
  if (rc::Failed(result)) return result;
  if (memcmp(block, "SQELNODB", 8) == 0) return rc::kNoDatabase;
  if (memcmp(block, "SQELDBSE", 8) != 0) return rc::kBadStatusBlock;
  // The image follows, ended by "DONE"; a refused one is still the player's open transfer.
  phase_ = Phase::kOpen;
  download_left_ = UINT32_MAX;
  uint32_t announced = bytes::Le32(block + 8);
  // Callers size a buffer from it; an absurd value must not wrap their arithmetic.
  if (announced > qel::kMaxDatabaseSize) return rc::kBadData;
  *size = announced;
  return rc::kOk;
}

Result ProtocolSession::Request134() { return ReadyRequest(134, 0, 0); }

Result ProtocolSession::Request137(uint16_t value, uint16_t index) {
  Result result = ControlRequest(137, value, index);
  if (rc::Failed(result)) return result;
  std::string word;
  result = ReadStatus(qel::kTailTimeoutMs, &word);
  if (rc::Succeeded(result) && word == "EROR") return rc::kPlayerError;
  if (rc::Succeeded(result) && word == "DONE") return rc::kOk;
  return rc::kBadStatusBlock;
}

Result ProtocolSession::Request140(uint32_t* value) {
  uint32_t word = 0;
  Result result = ValueRequest(140, 0, 0, &word);
  if (rc::Succeeded(result)) *value = word / 60;
  return result;
}

// --- transfers opened by a request -----------------------------------------------------------

Result ProtocolSession::BeginUpload(uint8_t request, uint16_t value) {
  Result result = ReadyRequest(request, value, 0);
  if (rc::Failed(result)) return result;
  phase_ = Phase::kOpen;
  piece_kind_ = PieceKind::kNone;
  result = ExpectStatus("SQELRDY.");
  if (rc::Succeeded(result)) phase_ = Phase::kStatusDue;
  return result;
}

Result ProtocolSession::RequestDownload(uint16_t value, const uint8_t record[qel::kRecordSize]) {
  Result result = ReadyRequest(112, value, 0);
  if (rc::Failed(result)) return result;
  phase_ = Phase::kOpen;
  result = ExpectStatus("SQELUPLD");
  if (rc::Succeeded(result)) result = WriteData(record, qel::kRecordSize, qel::kTransferTimeoutMs);
  std::string word;
  if (rc::Succeeded(result)) result = ReadStatus(qel::kTransferTimeoutMs, &word);
  if (rc::Failed(result)) return result;
  if (word == "RDY.") {
    download_left_ = bytes::Le32(record + 8);
    if (download_left_ == 0) phase_ = Phase::kNone;
    return rc::kOk;
  }
  if (word == "NOFL" || word == "NOAC") {
    phase_ = Phase::kNone;
    return word == "NOFL" ? rc::kNotFound : rc::kAccessDenied;
  }
  return rc::kUnexpectedStatus;
}

Result ProtocolSession::DeleteRecord(uint16_t value, const uint8_t record[qel::kRecordSize],
                                     bool* no_such_file) {
  if (no_such_file != nullptr) *no_such_file = false;
  Result result = ReadyRequest(120, value, 0);
  if (rc::Failed(result)) return result;
  phase_ = Phase::kOpen;
  result = ExpectStatus("SQELDELS");
  if (rc::Succeeded(result)) result = WriteData(record, qel::kRecordSize, qel::kTransferTimeoutMs);
  std::string word;
  if (rc::Succeeded(result)) result = ReadStatus(qel::kTransferTimeoutMs, &word);
  if (rc::Failed(result)) return result;
  // Any status word answers the record and ends the request; an abort would reach an idle
  // player.
  phase_ = Phase::kNone;
  if (word == "DELD") return rc::kOk;
  if (no_such_file != nullptr) *no_such_file = word == "NOFL";
  return rc::kBadStatusBlock;
}

Result ProtocolSession::WriteOwnerRecord(const uint8_t record[qel::kRecordSize]) {
  Result result = ReadyRequest(121, 0, 0);
  if (rc::Failed(result)) return result;
  phase_ = Phase::kOpen;
  result = ExpectStatus("SQELPRFS");
  if (rc::Succeeded(result)) result = WriteData(record, qel::kRecordSize, qel::kTransferTimeoutMs);
  if (rc::Succeeded(result)) result = ExpectStatus("SQELPRFD");
  if (rc::Succeeded(result)) phase_ = Phase::kNone;
  return result;
}

Result ProtocolSession::SendString(const std::string& text, uint16_t index) {
  // The length with its NUL travels as the 16-bit value.
  if (text.size() >= 0xFFFF) return rc::kInvalidArg;
  const uint32_t length = static_cast<uint32_t>(text.size()) + 1;
  Result result = ReadyRequest(142, static_cast<uint16_t>(length), index);
  if (rc::Failed(result)) return result;
  phase_ = Phase::kOpen;
  result = ExpectStatus("SQELRDY");
  if (rc::Succeeded(result)) result = WriteData(text.c_str(), length, qel::kTransferTimeoutMs);
  if (rc::Succeeded(result)) result = ExpectStatus("SQELRDY");
  if (rc::Succeeded(result)) phase_ = Phase::kNone;
  return result;
}

// --- transfer steps --------------------------------------------------------------------------

Result ProtocolSession::TransmitPiece() {
  phase_ = Phase::kOpen;
  const bool tail = piece_kind_ == PieceKind::kTail;
  const uint32_t length = static_cast<uint32_t>(piece_.size());
  Result result = WriteCommand("CQELDATA", tail ? length : 0);
  if (rc::Succeeded(result))
    result = WriteData(piece_.data(), length, tail ? qel::kTailTimeoutMs : qel::kTransferTimeoutMs);
  if (rc::Succeeded(result)) phase_ = Phase::kStatusDue;
  return result;
}

Result ProtocolSession::ReadStatusWithResends(std::string* word) {
  // The player owes no status now (one was taken already, or a piece broke off): asking for
  // one would only wait out the time-out.
  if (phase_ == Phase::kOpen) return rc::kUnexpectedStatus;
  for (int resends = 0;; ++resends) {
    Result result = ReadStatus(qel::kTransferTimeoutMs, word);
    phase_ = Phase::kOpen;
    if (rc::Failed(result)) return result;
    if (*word == "FULL") phase_ = Phase::kNone;  // the player has ended the transfer
    // "CRCF" rejects the piece sent before this status, not the one about to go.
    if (*word != "CRCF" || piece_kind_ == PieceKind::kNone || resends == qel::kMaxResends)
      return rc::kOk;
    result = TransmitPiece();
    if (rc::Failed(result)) return result;
  }
}

Result ProtocolSession::CheckDataStatus() {
  std::string word;
  Result result = ReadStatusWithResends(&word);
  if (rc::Failed(result)) return result;
  if (word == "DATA") return rc::kOk;
  if (word == "CRCF") return rc::kChecksumFailure;
  if (word == "FULL") return rc::kPlayerFull;
  return rc::kUnexpectedStatus;
}

Result ProtocolSession::SendPiece(PieceKind kind, const uint8_t* data, uint32_t length) {
  Result result = CheckDataStatus();
  if (rc::Failed(result)) return result;
  piece_kind_ = kind;
  piece_.assign(data, data + length);
  return TransmitPiece();
}

Result ProtocolSession::SendChunk(const uint8_t chunk[qel::kChunkSize]) {
  return SendPiece(PieceKind::kChunk, chunk, qel::kChunkSize);
}

Result ProtocolSession::SendTail(const uint8_t* data, uint32_t length) {
  return SendPiece(PieceKind::kTail, data, length);
}

Result ProtocolSession::SendBytes(const uint8_t* data, uint32_t length) {
  return SendPiece(PieceKind::kBytes, data, length);
}

Result ProtocolSession::SendInfo(const uint8_t record[qel::kRecordSize]) {
  Result result = CheckDataStatus();
  if (rc::Succeeded(result)) result = WriteCommand("CQELINFO", 0);
  if (rc::Succeeded(result)) result = WriteData(record, qel::kRecordSize, qel::kTransferTimeoutMs);
  std::string word;
  if (rc::Succeeded(result)) result = ReadStatus(qel::kTransferTimeoutMs, &word);
  if (rc::Failed(result)) return result;
  if (word == "DONE" || word == "FULL") {
    phase_ = Phase::kNone;
    piece_kind_ = PieceKind::kNone;
    return word == "DONE" ? WaitReady() : rc::kPlayerFull;
  }
  return word == "CRCF" ? rc::kChecksumFailure : rc::kBadInfoAnswer;
}

Result ProtocolSession::FinishInfo() {
  Result result = CheckDataStatus();
  if (rc::Succeeded(result)) result = WriteCommand("CQELINFO", 0);
  if (rc::Succeeded(result)) result = ExpectStatus("SQELDONE");
  if (rc::Failed(result)) return result;
  phase_ = Phase::kNone;
  piece_kind_ = PieceKind::kNone;
  return WaitReady();
}

Result ProtocolSession::AskForChunk(std::string* word) {
  const Result result = WriteCommand("CQELDATA", 0);
  return rc::Failed(result) ? result : ReadStatus(qel::kTransferTimeoutMs, word);
}

Result ProtocolSession::ReceiveChunk(uint8_t chunk[qel::kChunkSize], uint32_t* got) {
  std::string word;
  Result result = AskForChunk(&word);
  if (rc::Failed(result)) return result;
  if (word == "DONE") {
    phase_ = Phase::kNone;
    *got = 0;
    return rc::kOk;
  }
  if (word != "DATA") return rc::kUnexpectedStatus;
  result = ReadData(chunk, qel::kChunkSize, qel::kTransferTimeoutMs);
  if (rc::Succeeded(result)) *got = qel::kChunkSize;
  return result;
}

Result ProtocolSession::ReceiveDownloadChunk(uint8_t chunk[qel::kChunkSize]) {
  std::string word;
  Result result = AskForChunk(&word);
  if (rc::Failed(result)) return result;
  if (word == "DONE") {
    phase_ = Phase::kNone;
    return rc::kShortTransfer;
  }
  if (word != "DATA") return rc::kBadStatusBlock;
  result = ReadData(chunk, qel::kChunkSize, qel::kTransferTimeoutMs);
  if (rc::Failed(result)) return result;
  // The player ends a download by itself once the last chunk has gone.
  if (download_left_ != UINT32_MAX) {
    download_left_ -= std::min(download_left_, qel::kChunkSize);
    if (download_left_ == 0) phase_ = Phase::kNone;
  }
  return rc::kOk;
}

void ProtocolSession::Abort() {
  phase_ = Phase::kNone;
  piece_kind_ = PieceKind::kNone;
  download_left_ = 0;
  // A player that did not take the abort will not become ready either.
  if (rc::Failed(WriteCommand("CQELABRT", 0))) return;
  if (rc::Succeeded(WaitReady())) Lock();
}

void ProtocolSession::AbortIfData() {
  if (phase_ == Phase::kNone) return;
  if (phase_ == Phase::kStatusDue) {
    // Only a "FULL" answer means the player has already left the transfer; any other answer,
    // a rejected piece or a failed read leaves it waiting for us.
    std::string word;
    if (rc::Succeeded(ReadStatus(qel::kTransferTimeoutMs, &word)) && word == "FULL") {
      phase_ = Phase::kNone;
      return;
    }
  }
  Abort();
}

// --- format and firmware ---------------------------------------------------------------------

Result ProtocolSession::FormatProgress(uint32_t* percent) {
  std::string word;
  Result result = ReadStatus(qel::kLongTimeoutMs, &word);
  if (rc::Failed(result)) return result;
  if (word == "FMTD") {
    *percent = 100;
    return rc::kOk;
  }
  const uint8_t* w = reinterpret_cast<const uint8_t*>(word.data());
  if (word.compare(0, 2, "PR") != 0 || !IsDigit(w[2]) || !IsDigit(w[3]))
    return rc::kBadStatusBlock;
  *percent = (w[2] - '0') * 10u + (w[3] - '0');
  return rc::kOk;
}

Result ProtocolSession::FormatWithProgress(uint16_t storage, ProgressSink* progress) {
  Result result = WaitReady();
  if (rc::Succeeded(result)) result = Lock();
  if (rc::Succeeded(result)) result = Format(storage);
  StallGuard guard(clock_);
  while (rc::Succeeded(result)) {
    uint32_t percent = 0;
    result = FormatProgress(&percent);
    if (rc::Failed(result)) break;
    if (progress != nullptr) progress->Report(percent, 100);
    if (percent >= 100) break;
    if (guard.Stalled(static_cast<int>(percent))) result = rc::kTimeout;
  }
  return result;
}

Result ProtocolSession::ReadFirmwareBlock(uint8_t block[qel::kBlockSize]) {
  return ReadData(block, qel::kBlockSize, qel::kLongTimeoutMs);
}

Result ProtocolSession::FollowFirmwareProgress(uint8_t block[qel::kBlockSize],
                                               ProgressSink* progress) {
  StallGuard guard(clock_);
  while (block[0] == 'P') {
    if (!IsDigit(block[1]) || !IsDigit(block[2])) return rc::kBadStatusBlock;
    const int percent = (block[1] - '0') * 10 + (block[2] - '0');
    if (progress != nullptr) progress->Report(static_cast<uint32_t>(percent), 100);
    if (guard.Stalled(percent)) return rc::kTimeout;
    Result result = ReadFirmwareBlock(block);
    if (rc::Failed(result)) return result;
  }
  return rc::kOk;
}

Result ProtocolSession::StartFirmwareUpgrade(uint32_t image_size, uint32_t* state,
                                             ProgressSink* progress) {
  Result result = WaitReady();
  if (rc::Failed(result)) return result;
  for (int tries = 1;; ++tries) {
    uint32_t word = 0;
    result = RawRequest(107, 1, 0, &word);
    if (rc::Failed(result)) return result;
    if (static_cast<int32_t>(word) < 0) {
      if (word == qel::kFirmwareGoOn) break;
      return rc::kFirmwareRejected;
    }
    if (tries == kFirmwareStartTries) break;
    clock_->SleepMs(kFirmwareStartPauseMs);
  }
  uint8_t block[qel::kBlockSize];
  result = ReadFirmwareBlock(block);
  if (rc::Succeeded(result)) result = FollowFirmwareProgress(block, progress);
  if (rc::Failed(result)) return result;
  if (block[0] != '%') return rc::kBadStatusBlock;

  clock_->SleepMs(kFirmwarePauseMs);
  uint8_t size_block[qel::kBlockSize] = {};
  bytes::PutLe32(size_block, image_size);
  result = WriteData(size_block, sizeof size_block, qel::kTransferTimeoutMs);
  if (rc::Succeeded(result)) result = ReadFirmwareBlock(block);
  if (rc::Succeeded(result)) result = FollowFirmwareProgress(block, progress);
  if (rc::Failed(result)) return result;
  if (block[0] != '$' || block[1] != 0) return rc::kBadStatusBlock;
  *state = 0;
  return rc::kOk;
}

Result ProtocolSession::FirmwareChunk(const uint8_t chunk[qel::kFirmwareChunkSize],
                                      uint32_t* state) {
  clock_->SleepMs(kFirmwarePauseMs);
  Result result = WriteData(chunk, qel::kFirmwareChunkSize, qel::kTransferTimeoutMs);
  if (rc::Failed(result)) return result;
  uint8_t block[qel::kBlockSize];
  for (int reads = 1;; ++reads) {
    result = ReadData(block, sizeof block, qel::kTransferTimeoutMs);
    if (result != rc::kTimeout || reads == kFirmwareStatusReads) break;
  }
  if (rc::Failed(result)) return result;
  if (block[0] != '$') return rc::kBadStatusBlock;
  if (block[1] > 2) {
    TORVEX_TRACE("Got error %d when continuing firmware upgrade.\n",
                 static_cast<int>(static_cast<int8_t>(block[1])));
    return rc::kBadStatusBlock;
  }
  *state = block[1];
  return rc::kOk;
}

Result ProtocolSession::UpgradeFirmware(SeekableStream* image, ProgressSink* progress) {
  uint32_t size = 0;
  Result result = image->GetSize(&size);
  if (rc::Failed(result)) return result;
  uint32_t state = 0;
  result = Lock();
  if (rc::Succeeded(result)) result = StartFirmwareUpgrade(size, &state, progress);
  std::vector<uint8_t> buffer(qel::kFirmwareChunkSize);
  uint32_t position = 0;
  int restarts = -1;  // the first state (0) starts the image
  while (result == rc::kOk) {
    if (state == 0) {
      // A player that keeps asking for the image from its start would never finish.
      if (++restarts > qel::kMaxFirmwareRestarts) {
        result = rc::kTimeout;
        break;
      }
      result = image->Seek(0);
      if (rc::Failed(result)) break;
      position = 0;
    }
    if (progress != nullptr) progress->Report(position, size);
    uint32_t got = 0;
    while (got < qel::kFirmwareChunkSize) {
      uint32_t n = 0;
      result = image->Read(buffer.data() + got, qel::kFirmwareChunkSize - got, &n);
      if (n > qel::kFirmwareChunkSize - got) result = rc::kBadData;
      if (result != rc::kOk || n == 0) break;
      got += n;
    }
    if (rc::Failed(result)) break;
    if (got == 0) {
      result = 1;  // the whole image has gone
      break;
    }
    // More bytes than the size announced to the player would never be accepted.
    if (got > size - position) {
      result = rc::kSizeMismatch;
      break;
    }
    std::fill(buffer.begin() + got, buffer.end(), 0);
    result = FirmwareChunk(buffer.data(), &state);
    position += got;
  }
  if (progress != nullptr) progress->Report(size, size);
  if (lock_count_ > 0) Unlock();
  return result;
}
