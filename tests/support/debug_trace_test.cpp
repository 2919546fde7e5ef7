#include "support/debug_trace.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testlib/temp_dir.h"

namespace {

// Keeps every emitted piece; can disturb the last Win32 error the way a real sink might.
class CaptureSink : public TraceSink {
 public:
  void Write(const char* text) override {
    lines.emplace_back(text);
    SetLastError(ERROR_ACCESS_DENIED);
  }
  std::vector<std::string> lines;
};

class DebugTraceTest : public testing::Test {
 protected:
  void SetUp() override { DebugTrace::SetSink(&sink_); }
  void TearDown() override { DebugTrace::SetSink(nullptr); }

  CaptureSink sink_;
};

void FormatThroughVaList(const char* file, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugTrace::FormatV(file, line, format, args);
  va_end(args);
}

TEST_F(DebugTraceTest, FormatVPrefixesTheLocationAndEmitsOnePiece) {
  FormatThroughVaList("a.cpp", 12, "x=%d\n", 5);
  ASSERT_EQ(sink_.lines.size(), 1u);
  EXPECT_EQ(sink_.lines[0], "a.cpp(12) : x=5\n");
}

TEST_F(DebugTraceTest, VariadicFormsAndMacroCarryTheirLocation) {
  DebugTrace::Format("b.cpp", 3, "%s-%u", "id", 7u);
  TracePrintf(TraceLocation{"c.cpp", 40}, "%c\n", 'z');
  const int line = __LINE__ + 1;
  TORVEX_TRACE("n=%d\n", -1);
  ASSERT_EQ(sink_.lines.size(), 3u);
  EXPECT_EQ(sink_.lines[0], "b.cpp(3) : id-7");
  EXPECT_EQ(sink_.lines[1], "c.cpp(40) : z\n");
  EXPECT_EQ(sink_.lines[2], std::string(__FILE__) + "(" + std::to_string(line) + ") : n=-1\n");
}

TEST_F(DebugTraceTest, LongMessageOrSourceNameLeavesWhole) {
  const std::string text(600, 'q');
  DebugTrace::Format("long.cpp", 1, "%s|", text.c_str());
  const std::string file(600, 'f');
  DebugTrace::Format(file.c_str(), 2, "x=%d\n", 5);
  ASSERT_EQ(sink_.lines.size(), 2u);
  EXPECT_EQ(sink_.lines[0], "long.cpp(1) : " + text + "|");
  EXPECT_EQ(sink_.lines[1], file + "(2) : x=5\n");
}

TEST_F(DebugTraceTest, EmitWritesTextUnchangedAndKeepsTheLastError) {
  SetLastError(1234);
  DebugTrace::Emit("plain %d text");
  EXPECT_EQ(GetLastError(), 1234u);
  ASSERT_EQ(sink_.lines.size(), 1u);
  EXPECT_EQ(sink_.lines[0], "plain %d text");
}

TEST_F(DebugTraceTest, OutputFileGetsEveryLineFlushed) {
  TempDir dir;
  const std::string path = dir.File("trace.txt");
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  DebugTrace::SetOutputFile(file);
  DebugTrace::Format("d.cpp", 9, "one\n");
  DebugTrace::Emit("two\n");
  // Read while the file is still open: each line must already be flushed.
  EXPECT_EQ(TempDir::ReadFile(path), "d.cpp(9) : one\ntwo\n");
  DebugTrace::SetOutputFile(nullptr);
  DebugTrace::Emit("three\n");
  std::fclose(file);
  EXPECT_EQ(TempDir::ReadFile(path), "d.cpp(9) : one\ntwo\n");
}

}  // namespace
