// A block device for file-system tests: sectors in memory or in a host file, a fault table
// (fail a sector once or always, on read or write), counters, and an ordered log of every
// write that can be replayed, the first k writes only, onto a copy of the image as it was when
// the log started, so that a file system can be cut off after any write or in the middle of
// one (the write torn after some of its sectors).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/block_device.h"

class TestBlockDevice : public BlockDevice {
 public:
  enum class Fault { kOnce, kAlways };

  struct Counters {
    uint32_t reads = 0;
    uint32_t writes = 0;
    uint64_t sectors_read = 0;
    uint64_t sectors_written = 0;
    uint32_t failures = 0;
  };

  struct LoggedWrite {
    uint64_t start;                // sector
    std::vector<uint8_t> data;     // whole sectors
  };

  // Sectors in memory, zero-filled. The name must outlive the device.
  static TestBlockDevice* InMemory(const char* name, uint32_t number, uint32_t sector_size,
                                   uint64_t sector_count);
  // Sectors in a host file, which is created or extended to the size (null on failure).
  static TestBlockDevice* OnFile(const char* name, uint32_t number, const std::string& path,
                                 uint32_t sector_size, uint64_t sector_count);

  uint64_t Capacity() override { return sector_count_; }
  uint32_t SectorSize() override { return sector_size_; }
  int Read(uint64_t start, uint32_t count, void* buffer, uint32_t argument) override;
  int Write(uint64_t start, uint32_t count, const void* buffer, uint32_t argument) override;
  // Code 4 fills the 152-byte information record (1, state flags, "TEST <name>").
  int Control(uint32_t code, void* buffer, uint32_t size) override;
  bool Ready() override { return ready_; }
  void OpenCountChanged() override { ++open_notices_; }

  // A request that touches the sector fails with the status (an I/O error by default). A write
  // that fails stores the sectors before the failing one, as a disk does that stops midway,
  // unless whole-or-nothing writes are chosen.
  void FailRead(uint64_t sector, Fault fault, int status = 6);
  void FailWrite(uint64_t sector, Fault fault, int status = 6);
  // The nth request from now (1 = the next), read or write, fails with an I/O error: only that
  // one, or (always) every request from it on.
  void FailRequest(uint32_t nth, Fault fault);
  void ClearFaults();
  void SetPartialWrites(bool partial) { partial_writes_ = partial; }
  void SetReady(bool ready) { ready_ = ready; }

  const Counters& counters() const { return counters_; }
  uint32_t open_notices() const { return open_notices_; }

  // Starts a new write log from the image as it stands now.
  void StartWriteLog();
  const std::vector<LoggedWrite>& write_log() const { return log_; }
  // The image at the start of the log with its first k writes applied, and the first
  // `torn_sectors` sectors of write k (the power failed while the disk wrote it).
  std::vector<uint8_t> ImageAfterWrites(size_t k, uint32_t torn_sectors = 0) const;
  // Sectors of logged write k.
  uint32_t LoggedSectors(size_t k) const;
  // A new in-memory device holding that image.
  TestBlockDevice* ReplayOnto(const char* name, uint32_t number, size_t k,
                              uint32_t torn_sectors = 0) const;

  // The whole image (reads the file for a file-backed device); direct, not counted.
  std::vector<uint8_t> Image() const;
  void Poke(uint64_t offset, const void* data, size_t length);

 protected:
  TestBlockDevice(const char* name, uint32_t number, uint32_t sector_size,
                  uint64_t sector_count);
  ~TestBlockDevice() override;

 private:
  // The first faulty sector of the range, or -1; a one-time fault is used up.
  int64_t TakeFault(std::map<uint64_t, std::pair<Fault, int>>& table, uint64_t start,
                    uint32_t count, int* status);
  bool InRange(uint64_t start, uint32_t count) const;
  void Store(uint64_t offset, const uint8_t* data, size_t length);
  void Load(uint64_t offset, uint8_t* data, size_t length) const;

  uint32_t sector_size_;
  uint64_t sector_count_;
  std::vector<uint8_t> memory_;
  FILE* file_ = nullptr;
  bool ready_ = true;
  bool partial_writes_ = true;
  std::map<uint64_t, std::pair<Fault, int>> read_faults_;
  std::map<uint64_t, std::pair<Fault, int>> write_faults_;
  // Requests left before the failing one (0: none planned), and whether it stays.
  uint32_t requests_to_failure_ = 0;
  bool fail_for_good_ = false;
  bool failing_ = false;
  bool RequestFails();
  Counters counters_;
  uint32_t open_notices_ = 0;
  std::vector<uint8_t> log_base_;
  std::vector<LoggedWrite> log_;
  std::string info_;
};
