// Every allocation the driver makes while it is added, started and used can fail: each such
// run ends with a clear status, and nothing is left behind once the device is removed.
#include "driver/driver_fixture.h"

namespace {

class AllocationFailureTest : public DriverFixture {};

bool Failed(NTSTATUS status) { return !NT_SUCCESS(status); }

TEST_F(AllocationFailureTest, EachAllocationFailsInTurn) {
  int n = 1;
  for (;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
    ksub::FailAllocation(n);
    NTSTATUS status = host_->AddDevice();
    if (!Failed(status)) status = host_->Start();
    std::vector<uint8_t> buffer(0x50000);
    if (!Failed(status)) {
      std::unique_ptr<File> file;
      status = host_->Open(L"\\PIPE00", &file);
      if (!Failed(status)) {
        auto read = host_->Read(file.get(), buffer.data(), 0x50000);
        ASSERT_TRUE(read->Wait());
        status = read->status();
        host_->Close(std::move(file));
      }
    }
    const bool fired = ksub::AllocationFailureFired();
    if (fired) {
      EXPECT_TRUE(status == STATUS_INSUFFICIENT_RESOURCES || status == STATUS_UNSUCCESSFUL ||
                  NT_SUCCESS(status))
          << std::hex << status;
    } else {
      EXPECT_EQ(status, STATUS_SUCCESS);
    }
    TearDown();
    if (!fired || HasFatalFailure()) break;
    SetUp();
  }
  EXPECT_GT(n, 10) << "the start and the read allocate more than this";
  SetUp();  // for the fixture's own TearDown
}

}  // namespace
