// Handles on the driver: pipe files by name, one handle a pipe, the device handle.
#include "driver/driver_fixture.h"

extern "C" {
#include "driver.h"
}

namespace {

class PipeFilesTest : public DriverFixture {};

struct PipeNameCase {
  const wchar_t* name;
  bool valid;
  ULONG index;
};

TEST(PipeNameTest, TakesTheLastRunOfDigits) {
  const PipeNameCase cases[] = {
      {L"\\PIPE00", true, 0},
      {L"\\PIPE01", true, 1},
      {L"\\PIPE5", true, 5},
      {L"\\PIPE6", false, 0},
      {L"\\PIPE7", false, 0},
      {L"\\PIPE", false, 0},
      {L"", false, 0},
      {L"\\PIPE1X", true, 1},
      {L"\\P9IPE02", true, 2},
      {L"\\PIPE0000000000000000000001", true, 1},
      {L"\\PIPE4294967296", false, 0},  // wraps to 0 in 32 bits
      {L"\\PIPE99999999999999999999", false, 0},
  };
  for (const auto& c : cases) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, c.name);
    ULONG index = 99;
    EXPECT_EQ(MirrinParsePipeIndex(&name, &index), c.valid ? TRUE : FALSE)
        << std::string(c.name, c.name + wcslen(c.name));
    if (c.valid) { EXPECT_EQ(index, c.index); }
  }
}

TEST_F(PipeFilesTest, OpensOnlyPipesTheInterfaceHas) {
  StartPlayer();
  const struct {
    const wchar_t* name;
    NTSTATUS status;
  } cases[] = {
      {L"\\PIPE00", STATUS_SUCCESS},
      {L"\\PIPE01", STATUS_SUCCESS},
      {L"\\PIPE02", STATUS_INVALID_PARAMETER},  // the players have two pipes
      {L"\\PIPE7", STATUS_INVALID_PARAMETER},
      {L"\\PIPE", STATUS_INVALID_PARAMETER},
      {L"\\PIPE4294967297", STATUS_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    std::unique_ptr<File> file;
    EXPECT_EQ(host_->Open(c.name, &file), c.status)
        << std::string(c.name, c.name + wcslen(c.name));
    if (file) host_->Close(std::move(file));
  }
}

TEST_F(PipeFilesTest, OneHandleAPipeAndOneDeviceHandle) {
  StartPlayer();
  for (const wchar_t* name : {L"\\PIPE01", L""}) {
    auto first = Open(name);
    std::unique_ptr<File> second;
    EXPECT_EQ(host_->Open(name, &second), STATUS_DEVICE_BUSY);
    host_->Close(std::move(first));
    auto again = Open(name);
    ASSERT_TRUE(again);
    host_->Close(std::move(again));
  }
  // Different pipes are independent.
  auto read = Open(L"\\PIPE00");
  auto write = Open(L"\\PIPE01");
  auto device = Open(L"");
  host_->Close(std::move(read));
  host_->Close(std::move(write));
  host_->Close(std::move(device));
}

TEST_F(PipeFilesTest, NothingOpensBeforeStartOrAfterStop) {
  ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
  std::unique_ptr<File> file;
  EXPECT_EQ(host_->Open(L"\\PIPE00", &file), STATUS_INVALID_DEVICE_STATE);
  ASSERT_EQ(host_->Start(), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
  EXPECT_EQ(host_->Open(L"", &file), STATUS_INVALID_DEVICE_STATE);
}

TEST_F(PipeFilesTest, AHandleKeptOpenAcrossAStopStillHoldsItsPipe) {
  StartPlayer();
  auto held = Open(L"\\PIPE00");
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
  std::unique_ptr<File> second;
  EXPECT_EQ(host_->Open(L"\\PIPE00", &second), STATUS_DEVICE_BUSY);
  host_->Close(std::move(held));
}

}  // namespace
