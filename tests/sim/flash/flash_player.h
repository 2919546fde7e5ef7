// A simulated flash player: the common core of the players' command protocol (vendor
// requests with a 12-byte reply, 64-byte command and status blocks, 16384-byte chunks, 2048-byte
// records, firmware records). Its state and its scripts are plain members so that tests set
// them up and read them back directly; families extend it by overriding OnRequest.
//
// The player answers what the PC asks; it never sends anything unasked and never answers a
// read with no bytes and success: with nothing to send, a read times out (0xC004000B).
// A single 64-byte write beginning with "CQELABRT" ends any transfer in progress, also in
// the middle of a data piece.
//
// Like a player, it refuses what the protocol does not allow: a request that starts a
// transfer without the lock held, a "ready" request while a transfer is open, any other
// request in the middle of a transfer. A refusal answers 0 and fails the running test.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "support/result_codes.h"
#include "testlib/fake_clock.h"

struct SimFile {
  std::vector<uint8_t> record;  // 2048 bytes; fid at 0, length at 8
  std::string data;
  uint32_t fid() const;
};

struct SimStorage {
  uint32_t kind = 1;
  uint32_t total_blocks = 1000, used_blocks = 0, free_blocks = 1000, bad_blocks = 0;
  std::string name = "Internal";
  std::array<uint8_t, 16> serial{};
  std::vector<SimFile> files;
  SimFile* Find(uint32_t fid);
};

// One control request or bulk transfer as the player saw it.
struct SimLogEntry {
  enum Kind { kOpen, kClose, kControl, kWrite, kRead };
  explicit SimLogEntry(Kind k) : kind(k) {}
  Kind kind;
  uint8_t request = 0;
  uint16_t value = 0, index = 0;
  uint32_t length = 0;  // bytes moved
  std::string head;     // the first 8 bytes of a command or status block, else empty or a
                        // label ("P10", "%", "$0" for firmware records, "<FULL>")
  uint32_t length_field = 0;  // offset 8 of a command block
  uint32_t timeout_ms = 0;    // the time-out the PC gave a bulk transfer
  Result result = 0;
  // "C108(1,0)", "W:CQELDATA", "W:CQELDATA len=5", "W16384", "R:SQELDATA", "R:$1", "R16384",
  // "R!c004000b" (a failed transfer), "open", "close".
  std::string ToString() const;
};

class SimFlashPlayer {
 public:
  SimFlashPlayer();
  virtual ~SimFlashPlayer() = default;

  // --- state --------------------------------------------------------------------------------
  uint32_t status_word = 0x00000001;  // request 97 (recovery adds 0x700)
  std::array<uint8_t, 256> info_block{};
  std::vector<uint32_t> type_codes;   // request 99, one per index
  std::vector<SimStorage> storages;
  std::array<uint8_t, 2048> owner_record{};
  std::array<uint8_t, 128> block128{};
  uint32_t button_count = 0, battery_value = 0, value140 = 0;
  std::string database;               // request 130 / 135 image; empty: "SQELNODB"
  bool has_database = false;
  int32_t device_time = 0;            // request 123
  uint16_t last_value = 0, last_index = 0;  // of requests 117, 119, 145
  std::string last_string;            // request 142, without its NUL
  uint32_t max_transfer = 65536;      // largest Read or Write call
  FakeClock* clock = nullptr;         // when set, moved on by every message the PC reads ...
  uint32_t ms_per_message = 0;        // ... by this much: a slow player
  uint32_t real_ms_per_message = 0;   // really waits this long before each message

  // --- scripts ------------------------------------------------------------------------------
  int not_ready_polls = 0;            // answers of request 96 with word 0; -1: for ever
  bool recovery = false;              // status word & 0xF00 == 0x700; most requests unknown
  int unplug_after_calls = -1;        // transport calls before the player goes away
  bool unplugged = false;
  int crcf_piece = 0, crcf_times = 0;  // data piece k (from 1) is rejected this many times
  int full_piece = 0;                 // data piece k fills the player
  bool full_as_signature = false;     // "FULL" as the eight signature bytes
  bool deny_download = false;         // "NOAC"
  std::vector<std::string> format_progress = {"FMTD"};  // status words after request 106
  bool format_stalls = false;         // after the script, "PR05" for ever
  std::vector<uint32_t> firmware_start_words = {0x80000101};  // request 107, last repeats
  std::vector<int> firmware_start_progress;  // 'P' blocks before '%'
  std::vector<int> firmware_size_progress;   // 'P' blocks after the image size
  std::vector<uint8_t> firmware_states;      // '$' state per chunk; 1 when the script is done
  int firmware_status_timeouts = 0;          // reads after each chunk that time out first
  int fail_write_at = 0;              // bulk write number n (from 1) fails ...
  Result fail_write_code = 0;         // ... with this code ...
  uint32_t fail_write_done = 0;       // ... after taking this many bytes
  int fail_read_at = 0;
  Result fail_read_code = 0;

  // --- observed -----------------------------------------------------------------------------
  std::vector<std::string> refusals;  // each refused request, also reported as a test failure
  int lock_depth = 0;
  int max_lock_depth = 0;
  int holders = 0;                    // open transports
  int aborts = 0;
  int unexpected_writes = 0;
  uint32_t firmware_size = 0;
  std::string firmware_image;
  std::vector<std::string> firmware_chunks;  // each 8192-byte chunk as it arrived
  int firmware_restarts = 0;
  uint32_t formatted_storage = UINT32_MAX;
  std::vector<SimLogEntry> log;

  // The log as text (SimLogEntry::ToString); opens and closes left out unless asked.
  std::vector<std::string> LogLines(bool with_open_close = false) const;
  void ClearLog() { log.clear(); }
  // True while a transfer, a format or a firmware upgrade holds the player.
  bool Busy() const { return mode_ != Mode::kIdle; }
  SimStorage& Storage(uint32_t index) { return storages.at(index); }

  // --- the transport's side ------------------------------------------------------------------
  Result Control(uint8_t request, uint16_t value, uint16_t index, uint8_t reply[12]);
  Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms = 0);
  Result Write(const void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms = 0);
  // Counts a transport call against unplug_after_calls; true when the player is gone.
  bool Gone();
  void Log(const SimLogEntry& entry) { log.push_back(entry); }

 protected:
  enum class Mode {
    kIdle,
    kUpload,     // 108, 133, 135, 136: commands, data pieces, the closing "CQELINFO"
    kDownload,   // 112 after "RDY.", 130 after "DBSE": "CQELDATA" asks for a chunk
    kInbound,    // a record or text of fixed size follows (112, 120, 121, 142)
    kFormatting,
    kFirmware,   // the image size, then 8192-byte chunks
  };
  enum class Upload { kFile, kRecord, kDatabase };
  enum class Inbound { kDownloadRecord, kDeleteRecord, kOwnerRecord, kString };

  // A family's own requests; true when handled (with *word the status word).
  virtual bool OnRequest(uint8_t request, uint16_t value, uint16_t index, uint32_t* word) {
    (void)request, (void)value, (void)index, (void)word;
    return false;
  }

  // The file a download (112) or delete (120) record names; by its fid unless a family's
  // player finds files otherwise.
  virtual SimFile* FindNamedFile(SimStorage& storage, const std::vector<uint8_t>& record);

  // `label` names the message in the log when it is not a "SQEL" status block.
  void Queue(const std::vector<uint8_t>& bytes, const std::string& label = std::string()) {
    out_.push_back({bytes, label});
  }
  void QueueStatus(const std::string& word, uint32_t field8 = 0);
  void QueueFirmware(uint8_t letter, uint8_t a, uint8_t b = 0);
  void QueueFirmwarePercent(int percent);
  uint32_t HandleRequest(uint8_t request, uint16_t value, uint16_t index);
  // Why the player would not take `request` now; empty when it takes it.
  std::string RefusalOf(uint8_t request) const;
  void TakeMessage(const std::vector<uint8_t>& message);
  // Families that check the form of commands and pieces take these over.
  virtual void TakeUploadCommand(const std::vector<uint8_t>& block);
  virtual void TakePiece(const std::vector<uint8_t>& piece);
  // Families whose records name files elsewhere than offset 0 take these over.
  virtual void TakeInfoRecord(const std::vector<uint8_t>& record);
  virtual void TakeInbound(const std::vector<uint8_t>& bytes);
  void TakeDownloadCommand(const std::vector<uint8_t>& block);
  void TakeFirmware(const std::vector<uint8_t>& bytes);
  void EndTransfer() {
    mode_ = Mode::kIdle;
    want_ = 64;
  }

  Mode mode_ = Mode::kIdle;
  uint32_t want_ = 64;        // size of the next message the PC is to write
  bool want_piece_ = false;   // the next message is a data piece (not a command)
  bool want_record_ = false;  // the next message is the closing record
  std::vector<uint8_t> in_;   // bytes of the message being written
  struct Outgoing {
    std::vector<uint8_t> bytes;
    std::string label;
  };
  std::deque<Outgoing> out_;  // messages for the PC, read in order
  size_t out_offset_ = 0;     // bytes of out_.front() already read

  Upload upload_ = Upload::kFile;
  Inbound inbound_ = Inbound::kDownloadRecord;
  uint16_t transfer_value_ = 0;
  int accepted_pieces_ = 0;
  std::string upload_data_;
  std::string download_data_;
  size_t download_offset_ = 0;
  bool download_ends_with_done_ = false;
  int firmware_start_tries_ = 0;
  size_t firmware_chunks_ = 0;
  int read_timeouts_ = 0;
  int writes_ = 0, reads_ = 0;
};

// Fixed-width little-endian helpers for building blocks in tests.
uint32_t SimGetLe32(const uint8_t* p);
void SimPutLe32(uint8_t* p, uint32_t v);
// A 2048-byte file record with the fid at 0 and the length at 8.
std::vector<uint8_t> SimFileRecord(uint32_t fid, uint32_t length);
