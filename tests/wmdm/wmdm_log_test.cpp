#include "wmdm/wmdm_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wmdm/wmdm_interfaces.h"

namespace {

struct LoggedLine {
  DWORD flags;
  std::string source;
  std::string format;
  DWORD value;
};

// What the fake loggers of one test saw; the creator is a plain function, so it is global.
struct LoggerWorld {
  bool enabled = true;
  HRESULT create_result = S_OK;
  HRESULT log_result = S_OK;
  int created = 0;
  int live = 0;
  int enabled_queries = 0;
  std::vector<LoggedLine> lines;
};
LoggerWorld* g_world = nullptr;

class FakeLogger final : public IWMDMLogger {
 public:
  FakeLogger() { ++g_world->live; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) {
      --g_world->live;
      delete this;
    }
    return refs;
  }
  HRESULT STDMETHODCALLTYPE IsEnabled(BOOL* enabled) override {
    ++g_world->enabled_queries;
    *enabled = g_world->enabled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Enable(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLogFileName(LPSTR, UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetLogFileName(LPSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LogString(DWORD, LPSTR, LPSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LogDword(DWORD flags, LPSTR source, LPSTR format,
                                     DWORD value) override {
    g_world->lines.push_back({flags, source, format, value});
    return g_world->log_result;
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeParams(DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSizeParams(DWORD, DWORD) override { return E_NOTIMPL; }

 private:
  ULONG refs_ = 1;
};

HRESULT CreateFakeLogger(IWMDMLogger** logger) {
  ++g_world->created;
  if (FAILED(g_world->create_result)) return g_world->create_result;
  *logger = new FakeLogger;
  return S_OK;
}

class WmdmLogTest : public testing::Test {
 protected:
  void SetUp() override {
    g_world = &world_;
    previous_ = SetWmdmLoggerCreator(CreateFakeLogger);
  }
  void TearDown() override {
    SetWmdmLoggerCreator(previous_);
    EXPECT_EQ(world_.live, 0) << "a logger instance was not released";
    g_world = nullptr;
  }

  LoggerWorld world_;
  WmdmLoggerCreator previous_ = nullptr;
};

TEST_F(WmdmLogTest, EnabledAnswerIsAskedOnceAndCached) {
  EXPECT_TRUE(WmdmLogEnabled());
  world_.enabled = false;  // the logger's later answers are not asked
  EXPECT_TRUE(WmdmLogEnabled());
  EXPECT_EQ(world_.enabled_queries, 1);
  EXPECT_EQ(world_.created, 1);
}

TEST_F(WmdmLogTest, DisabledLoggingCreatesNoLoggerAfterTheFirstCheck) {
  world_.enabled = false;
  EXPECT_FALSE(WmdmLogEnabled());
  const int after_check = world_.created;
  EXPECT_EQ(WmdmLogResult("CMDSPDevice::GetStatus", E_INVALIDARG), E_INVALIDARG);
  EXPECT_EQ(WmdmLogResult("CMDSPDevice::GetType", S_OK), S_OK);
  EXPECT_EQ(WmdmLog("text", 1, S_OK), S_OK);
  EXPECT_EQ(world_.created, after_check);
  EXPECT_TRUE(world_.lines.empty());
}

TEST_F(WmdmLogTest, FailedLoggerCreationCountsAsDisabled) {
  world_.create_result = REGDB_E_CLASSNOTREG;
  EXPECT_FALSE(WmdmLogEnabled());
  EXPECT_EQ(WmdmLogResult("CMDSPStorage::GetName", 1), 1);
  EXPECT_EQ(world_.created, 1);
}

TEST_F(WmdmLogTest, ResultLineCarriesSourceFormatSeverityAndValue) {
  const struct {
    HRESULT status;
    DWORD flags;
  } cases[] = {
      {S_OK, WMDM_LOG_SEV_INFO},
      {S_FALSE, WMDM_LOG_SEV_INFO},
      {static_cast<HRESULT>(0x80045008), WMDM_LOG_SEV_ERROR},
      {static_cast<HRESULT>(0xC0040002), WMDM_LOG_SEV_ERROR},
  };
  for (const auto& c : cases) {
    world_.lines.clear();
    EXPECT_EQ(WmdmLogResult("CMDSPDevice::GetName", c.status), c.status);
    ASSERT_EQ(world_.lines.size(), 1u);
    EXPECT_EQ(world_.lines[0].flags, c.flags);
    EXPECT_EQ(world_.lines[0].source, "TORVEX");
    EXPECT_EQ(world_.lines[0].format, "CMDSPDevice::GetName returned 0x%08lx");
    EXPECT_EQ(world_.lines[0].value, static_cast<DWORD>(c.status));
  }
}

TEST_F(WmdmLogTest, LogReturnsTheLoggersResult) {
  world_.log_result = E_ACCESSDENIED;
  EXPECT_EQ(WmdmLog("dwFlags is 0x%08lx", 7, S_OK), E_ACCESSDENIED);
  ASSERT_EQ(world_.lines.size(), 1u);
  EXPECT_EQ(world_.lines[0].format, "dwFlags is 0x%08lx");
  EXPECT_EQ(world_.lines[0].value, 7u);
  // The result line still hands back the method's status.
  EXPECT_EQ(WmdmLogResult("X::Y", S_OK), S_OK);
}

TEST_F(WmdmLogTest, LoggerThatCannotBeCreatedForALineFailsOnlyTheLine) {
  ASSERT_TRUE(WmdmLogEnabled());
  world_.create_result = E_OUTOFMEMORY;
  EXPECT_EQ(WmdmLog("text", 0, S_OK), E_OUTOFMEMORY);
  EXPECT_EQ(WmdmLogResult("X::Y", S_FALSE), S_FALSE);
  EXPECT_TRUE(world_.lines.empty());
}

TEST_F(WmdmLogTest, ResultTextCannotAddFormatPlaceholders) {
  WmdmLogResult("odd %s name", S_OK);
  ASSERT_EQ(world_.lines.size(), 1u);
  EXPECT_EQ(world_.lines[0].format, "odd %%s name returned 0x%08lx");
}

TEST_F(WmdmLogTest, ResultTextIsLimitedTo1024Characters) {
  const std::string text(5000, 'a');
  WmdmLogResult(text.c_str(), S_OK);
  ASSERT_EQ(world_.lines.size(), 1u);
  EXPECT_EQ(world_.lines[0].format, std::string(1024, 'a') + " returned 0x%08lx");
}

TEST_F(WmdmLogTest, CheckOutPointerChain) {
  int target = 0;
  EXPECT_EQ(CheckOutPointer(S_OK, &target), S_OK);
  EXPECT_EQ(CheckOutPointer(S_FALSE, &target), S_FALSE);
  EXPECT_TRUE(world_.lines.empty());

  EXPECT_EQ(CheckOutPointer(S_OK, nullptr), E_INVALIDARG);
  ASSERT_EQ(world_.lines.size(), 1u);
  EXPECT_EQ(world_.lines[0].format, "NULL input pointer");
  EXPECT_EQ(world_.lines[0].flags, WMDM_LOG_SEV_ERROR);

  // An earlier failure passes unchanged and logs nothing more.
  EXPECT_EQ(CheckOutPointer(CheckOutPointer(S_OK, nullptr), &target), E_INVALIDARG);
  EXPECT_EQ(CheckOutPointer(E_OUTOFMEMORY, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(world_.lines.size(), 2u);
}

// The real creator: this machine has no WMDM, so its logger cannot be made and logging is off.
TEST(WmdmLogDefault, WithoutWmdmLoggingIsOff) {
  const WmdmLoggerCreator previous = SetWmdmLoggerCreator(nullptr);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_FALSE(WmdmLogEnabled());
  EXPECT_EQ(WmdmLogResult("X::Y", E_FAIL), E_FAIL);
  CoUninitialize();
  SetWmdmLoggerCreator(previous);
}

}  // namespace
