#include "devices/msc/fat32_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "msc_test_player.h"

namespace {

// A formatter whose events come from the test: (command, value) pairs, where the value is the
// percentage of a progress event or the success byte of the done event.
class EventFormatter : public FormatterLibrary {
 public:
  static std::vector<std::pair<DWORD, DWORD>> events;
  bool available = true;
  int loads = 0, unloads = 0;
  FormatExFunction Load() override {
    ++loads;
    return available ? &FormatEx : nullptr;
  }
  void Unload() override { ++unloads; }
  static VOID WINAPI FormatEx(PWCHAR, DWORD, PWCHAR, PWCHAR, BOOL, DWORD,
                              FormatExCallback callback) {
    for (const auto& event : events) {
      DWORD percent = event.second;
      BOOLEAN ok = static_cast<BOOLEAN>(event.second);
      void* info = event.first == kFormatDone ? static_cast<void*>(&ok) : &percent;
      EXPECT_TRUE(callback(event.first, 0, info));  // always "go on"
    }
  }
};
std::vector<std::pair<DWORD, DWORD>> EventFormatter::events;

constexpr DWORD kOtherCommand = 5;

TEST(Fat32FormatTest, ProgressReachesTheSinkAndTheFormatSucceeds) {
  EventFormatter formatter;
  EventFormatter::events = {{0, 0}, {0, 50}, {kOtherCommand, 7}, {0, 100}, {kFormatDone, 1}};
  ProgressLog progress;
  EXPECT_EQ(FormatVolumeFat32("E:\\", &progress, &formatter), rc::kOk);
  EXPECT_EQ(progress.calls,
            (std::vector<std::pair<uint32_t, uint32_t>>{{0, 100}, {50, 100}, {100, 100}}));
  EXPECT_EQ(formatter.unloads, 1);
}

TEST(Fat32FormatTest, Outcomes) {
  struct Case {
    const char* what;
    std::vector<std::pair<DWORD, DWORD>> events;
    bool with_sink;
    Result sink_answer;
    Result expected;
  } cases[] = {
      {"done reports failure", {{0, 100}, {kFormatDone, 0}}, true, rc::kOk, rc::kFail},
      {"no progress at all", {{kFormatDone, 1}}, true, rc::kOk, rc::kFail},
      {"sink fails the last report", {{0, 100}, {kFormatDone, 1}}, true, rc::kTimeout,
       rc::kTimeout},
      {"sink answers a positive code", {{0, 100}, {kFormatDone, 1}}, true, 1, rc::kOk},
      {"progress without a done event", {{0, 10}, {0, 100}}, true, rc::kOk, rc::kOk},
      // WMDM formats without a progress sink: the format's own outcome stands.
      {"no sink", {{0, 0}, {0, 100}, {kFormatDone, 1}}, false, rc::kOk, rc::kOk},
      {"no sink, failure", {{0, 100}, {kFormatDone, 0}}, false, rc::kOk, rc::kFail},
  };
  for (const Case& c : cases) {
    EventFormatter formatter;
    EventFormatter::events = c.events;
    ProgressLog progress;
    progress.answer = c.sink_answer;
    EXPECT_EQ(FormatVolumeFat32("E:\\", c.with_sink ? &progress : nullptr, &formatter),
              c.expected)
        << c.what;
  }
}

TEST(Fat32FormatTest, MissingFormatterIsNotImplemented) {
  EventFormatter formatter;
  formatter.available = false;
  ProgressLog progress;
  EXPECT_EQ(FormatVolumeFat32("E:\\", &progress, &formatter), rc::kNotImplemented);
  EXPECT_TRUE(progress.calls.empty());
  // This system has no fmifs.dll.
  EXPECT_EQ(FormatVolumeFat32("E:\\", &progress), rc::kNotImplemented);
}

}  // namespace
