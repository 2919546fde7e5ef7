#include "devices/usb/usb_transfers.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace {

// A transport whose Read and Write calls answer from a script: each call moves at most the
// scripted count (and never more than asked) and returns the scripted result. Read fills the
// buffer with the stream offset of each byte so misplaced data shows.
class ScriptedTransport : public UsbHardware {
 public:
  struct Answer {
    Result result;
    uint32_t bytes;
  };
  std::deque<Answer> answers;
  Answer when_empty{rc::kOk, 0};
  std::vector<uint32_t> asked;
  std::vector<uint8_t> written;

  Result Open() override { return rc::kOk; }
  Result Close() override { return rc::kOk; }
  Result ControlRequest(uint8_t, uint16_t, uint16_t, uint8_t*) override {
    return rc::kNotImplemented;
  }
  Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t) override {
    const Answer answer = Next(length, done);
    for (uint32_t i = 0; i < *done; ++i) {
      static_cast<uint8_t*>(buffer)[i] = static_cast<uint8_t>(moved_ + i);
    }
    moved_ += *done;
    return answer.result;
  }
  Result Write(const void* buffer, uint32_t length, uint32_t* done, uint32_t) override {
    const Answer answer = Next(length, done);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    written.insert(written.end(), bytes, bytes + *done);
    return answer.result;
  }
  UsbHardware* Clone() override { return nullptr; }
  Result GetProductId(uint32_t*) override { return rc::kNotImplemented; }
  Result GetName(std::string*) override { return rc::kNotImplemented; }
  Result GetPath(std::string*) override { return rc::kNotImplemented; }

 private:
  Answer Next(uint32_t length, uint32_t* done) {
    asked.push_back(length);
    Answer answer = when_empty;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    *done = answer.bytes < length ? answer.bytes : length;
    return answer;
  }
  uint32_t moved_ = 0;
};

struct FullCase {
  const char* what;
  uint32_t length;
  std::vector<ScriptedTransport::Answer> answers;
  Result expected;
  size_t calls;
};

const FullCase kCases[] = {
    {"three calls of at most 1000",
     2048,
     {{rc::kOk, 1000}, {rc::kOk, 1000}, {rc::kOk, 1000}},
     rc::kOk,
     3},
    {"failure after 1000 bytes", 2048, {{rc::kOk, 1000}, {rc::kTimeout, 200}}, rc::kTimeout, 2},
    {"positive result with bytes missing", 2048, {{rc::kOk, 1000}, {1, 500}}, rc::kShortTransfer,
     2},
    {"positive result with nothing missing", 100, {{1, 100}}, 1, 1},
    {"one empty call is forgiven", 100, {{rc::kOk, 0}, {rc::kOk, 100}}, rc::kOk, 2},
    // A transport that keeps moving nothing used to hold the caller for ever.
    {"only empty calls", 100, {}, rc::kShortTransfer, 3},
    {"nothing to move", 0, {}, rc::kOk, 0},
};

TEST(ReadFullyTest, SumsPartialReadsAndEndsOnFailure) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ScriptedTransport transport;
    transport.answers.assign(c.answers.begin(), c.answers.end());
    std::vector<uint8_t> buffer(c.length + 1, 0xEE);
    EXPECT_EQ(ReadFully(transport, buffer.data(), c.length, 500), c.expected);
    EXPECT_EQ(transport.asked.size(), c.calls);
    if (c.expected == rc::kOk) {
      for (uint32_t i = 0; i < c.length; ++i) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i));
    }
    EXPECT_EQ(buffer[c.length], 0xEE);
    if (!transport.asked.empty()) {
      EXPECT_EQ(transport.asked[0], c.length);
    }
  }
}

TEST(WriteFullyTest, SumsPartialWritesAndEndsOnFailure) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ScriptedTransport transport;
    transport.answers.assign(c.answers.begin(), c.answers.end());
    std::vector<uint8_t> data(c.length);
    for (uint32_t i = 0; i < c.length; ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(WriteFully(transport, data.data(), c.length, 500), c.expected);
    EXPECT_EQ(transport.asked.size(), c.calls);
    if (c.expected == rc::kOk) {
      EXPECT_EQ(transport.written, data);
    }
  }
}

TEST(ReadFullyTest, AsksForTheRestEachTime) {
  ScriptedTransport transport;
  transport.answers = {{rc::kOk, 1000}, {rc::kOk, 1000}, {rc::kOk, 1000}};
  std::vector<uint8_t> buffer(2048);
  ASSERT_EQ(ReadFully(transport, buffer.data(), 2048, 500), rc::kOk);
  EXPECT_EQ(transport.asked, (std::vector<uint32_t>{2048, 1048, 48}));
}

}  // namespace
