// A simulated player behind an open transport, a session clock that never really waits, and
// the small helpers the protocol tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/progress_sink.h"
#include "devices/flash/protocol_session.h"
#include "sim/flash/flash_player.h"
#include "sim/flash/sim_usb_hardware.h"
#include "testlib/fake_clock.h"

using Lines = std::vector<std::string>;

// Bytes that differ at every position of a chunk, so a swapped or repeated chunk shows.
inline std::string Pattern(uint32_t size, uint32_t seed = 7) {
  std::string bytes(size, '\0');
  for (uint32_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 31u + seed + i / qel::kChunkSize * 101u) & 0xFF);
  return bytes;
}

inline std::vector<uint8_t> Record(uint32_t fid, uint32_t length) {
  return SimFileRecord(fid, length);
}

class RecordingProgress : public ProgressSink {
 public:
  Result Report(uint32_t done, uint32_t total) override {
    reports.emplace_back(done, total);
    return rc::kOk;
  }
  std::vector<std::pair<uint32_t, uint32_t>> reports;
};

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : player(std::make_shared<SimFlashPlayer>()), hw(player, 0x5003) {
    EXPECT_EQ(rc::kOk, hw.Open());
    player->ClearLog();
  }

  Lines Log() const { return player->LogLines(); }
  int Count(const std::string& line) const {
    int n = 0;
    for (const auto& l : Log()) n += l == line;
    return n;
  }

  // Sends `data` as chunks of a file upload on storage 0, the way a channel does.
  Result Upload(ProtocolSession& session, const std::string& data, uint32_t fid = 5) {
    Result result = session.BeginSend(0);
    std::vector<uint8_t> chunk(qel::kChunkSize);
    for (size_t at = 0; rc::Succeeded(result) && at < data.size(); at += qel::kChunkSize) {
      const size_t n = std::min<size_t>(qel::kChunkSize, data.size() - at);
      std::fill(chunk.begin(), chunk.end(), 0);
      std::copy(data.begin() + at, data.begin() + at + n, chunk.begin());
      result = session.SendChunk(chunk.data());
    }
    if (rc::Succeeded(result))
      result = session.SendInfo(Record(fid, static_cast<uint32_t>(data.size())).data());
    return result;
  }

  std::shared_ptr<SimFlashPlayer> player;
  SimUsbHardware hw;
  FakeClock clock;
};
