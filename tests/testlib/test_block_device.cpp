#include "testlib/test_block_device.h"

#include <algorithm>
#include <cstring>

#include "support/byte_order.h"

TestBlockDevice::TestBlockDevice(const char* name, uint32_t number, uint32_t sector_size,
                                 uint64_t sector_count)
    : BlockDevice(name, number), sector_size_(sector_size), sector_count_(sector_count) {
  info_ = std::string("TEST ") + name;
}

TestBlockDevice::~TestBlockDevice() {
  if (file_) fclose(file_);
}

TestBlockDevice* TestBlockDevice::InMemory(const char* name, uint32_t number,
                                           uint32_t sector_size, uint64_t sector_count) {
  TestBlockDevice* device = new TestBlockDevice(name, number, sector_size, sector_count);
  device->memory_.assign(static_cast<size_t>(sector_size * sector_count), 0);
  device->log_base_ = device->memory_;
  return device;
}

TestBlockDevice* TestBlockDevice::OnFile(const char* name, uint32_t number,
                                         const std::string& path, uint32_t sector_size,
                                         uint64_t sector_count) {
  FILE* file = fopen(path.c_str(), "r+b");
  if (!file) file = fopen(path.c_str(), "w+b");
  if (!file) return nullptr;
  uint64_t size = sector_size * sector_count;
  fseeko64(file, 0, SEEK_END);
  if (static_cast<uint64_t>(ftello64(file)) < size) {
    fseeko64(file, static_cast<off64_t>(size - 1), SEEK_SET);
    fputc(0, file);
  }
  TestBlockDevice* device = new TestBlockDevice(name, number, sector_size, sector_count);
  device->file_ = file;
  device->StartWriteLog();
  return device;
}

void TestBlockDevice::Store(uint64_t offset, const uint8_t* data, size_t length) {
  if (file_) {
    fseeko64(file_, static_cast<off64_t>(offset), SEEK_SET);
    fwrite(data, 1, length, file_);
    fflush(file_);
  } else {
    memcpy(memory_.data() + offset, data, length);
  }
}

void TestBlockDevice::Load(uint64_t offset, uint8_t* data, size_t length) const {
  if (file_) {
    fseeko64(file_, static_cast<off64_t>(offset), SEEK_SET);
    size_t got = fread(data, 1, length, file_);
    std::fill(data + got, data + length, 0);
  } else {
    memcpy(data, memory_.data() + offset, length);
  }
}

bool TestBlockDevice::InRange(uint64_t start, uint32_t count) const {
  return start <= sector_count_ && count <= sector_count_ - start;
}

int64_t TestBlockDevice::TakeFault(std::map<uint64_t, std::pair<Fault, int>>& table,
                                   uint64_t start, uint32_t count, int* status) {
  auto fault = table.lower_bound(start);
  if (fault == table.end() || fault->first >= start + count) return -1;
  int64_t sector = static_cast<int64_t>(fault->first);
  *status = fault->second.second;
  if (fault->second.first == Fault::kOnce) table.erase(fault);
  ++counters_.failures;
  return sector;
}

bool TestBlockDevice::RequestFails() {
  if (failing_) return true;
  if (requests_to_failure_ == 0) return false;
  if (--requests_to_failure_ != 0) return false;
  failing_ = fail_for_good_;
  ++counters_.failures;
  return true;
}

void TestBlockDevice::FailRequest(uint32_t nth, Fault fault) {
  requests_to_failure_ = nth;
  fail_for_good_ = fault == Fault::kAlways;
  failing_ = false;
}

int TestBlockDevice::Read(uint64_t start, uint32_t count, void* buffer, uint32_t argument) {
  ++counters_.reads;
  if (!ready_) return device_status::kNotReady;
  if (RequestFails()) return device_status::kIoError;
  if (!InRange(start, count)) return device_status::kBadRequest;
  int status = 0;
  if (TakeFault(read_faults_, start, count, &status) >= 0) return status;
  Load(start * sector_size_, static_cast<uint8_t*>(buffer), size_t{count} * sector_size_);
  counters_.sectors_read += count;
  return device_status::kOk;
}

int TestBlockDevice::Write(uint64_t start, uint32_t count, const void* buffer,
                           uint32_t argument) {
  ++counters_.writes;
  if (!ready_) return device_status::kNotReady;
  if (RequestFails()) return device_status::kIoError;
  if (!InRange(start, count)) return device_status::kBadRequest;
  int status = device_status::kOk;
  int64_t failing = TakeFault(write_faults_, start, count, &status);
  uint32_t stored = count;
  if (failing >= 0) stored = partial_writes_ ? static_cast<uint32_t>(failing - start) : 0;
  if (stored > 0) {
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    size_t length = size_t{stored} * sector_size_;
    Store(start * sector_size_, bytes, length);
    log_.push_back(LoggedWrite{start, std::vector<uint8_t>(bytes, bytes + length)});
    counters_.sectors_written += stored;
  }
  return failing >= 0 ? status : device_status::kOk;
}

int TestBlockDevice::Control(uint32_t code, void* buffer, uint32_t size) {
  if (code != 4 || size < 152) return device_status::kBadRequest;
  uint8_t* record = static_cast<uint8_t*>(buffer);
  memset(record, 0, 152);
  bytes::PutLe32(record, 1);
  bytes::PutLe32(record + 4, StateFlags());
  memcpy(record + 8, info_.c_str(), std::min<size_t>(info_.size(), 63));
  return device_status::kOk;
}

void TestBlockDevice::FailRead(uint64_t sector, Fault fault, int status) {
  read_faults_[sector] = {fault, status};
}

void TestBlockDevice::FailWrite(uint64_t sector, Fault fault, int status) {
  write_faults_[sector] = {fault, status};
}

void TestBlockDevice::ClearFaults() {
  requests_to_failure_ = 0;
  failing_ = false;
  read_faults_.clear();
  write_faults_.clear();
}

std::vector<uint8_t> TestBlockDevice::Image() const {
  std::vector<uint8_t> image(static_cast<size_t>(sector_size_ * sector_count_));
  Load(0, image.data(), image.size());
  return image;
}

void TestBlockDevice::Poke(uint64_t offset, const void* data, size_t length) {
  Store(offset, static_cast<const uint8_t*>(data), length);
}

void TestBlockDevice::StartWriteLog() {
  log_base_ = Image();
  log_.clear();
}

std::vector<uint8_t> TestBlockDevice::ImageAfterWrites(size_t k, uint32_t torn_sectors) const {
  std::vector<uint8_t> image = log_base_;
  for (size_t i = 0; i < k && i < log_.size(); ++i)
    std::copy(log_[i].data.begin(), log_[i].data.end(),
              image.begin() + static_cast<ptrdiff_t>(log_[i].start * sector_size_));
  if (k < log_.size() && torn_sectors > 0) {
    const LoggedWrite& torn = log_[k];
    const size_t bytes = std::min<size_t>(size_t{torn_sectors} * sector_size_, torn.data.size());
    std::copy(torn.data.begin(), torn.data.begin() + static_cast<ptrdiff_t>(bytes),
              image.begin() + static_cast<ptrdiff_t>(torn.start * sector_size_));
  }
  return image;
}

uint32_t TestBlockDevice::LoggedSectors(size_t k) const {
  return k < log_.size() ? static_cast<uint32_t>(log_[k].data.size() / sector_size_) : 0;
}

TestBlockDevice* TestBlockDevice::ReplayOnto(const char* name, uint32_t number, size_t k,
                                             uint32_t torn_sectors) const {
  // Built from the image at once: a device of a large volume is made for every cut.
  TestBlockDevice* copy = new TestBlockDevice(name, number, sector_size_, sector_count_);
  copy->memory_ = ImageAfterWrites(k, torn_sectors);
  copy->log_base_ = copy->memory_;
  return copy;
}
