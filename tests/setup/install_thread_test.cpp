// The install thread on its own: the family decides the checks and the replacer, the result
// flags, and a completion that comes whatever the work ran into.
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine_fixture.h"
#include "setup/install_thread.h"

namespace {

BOOL WINAPI NotAMember(HANDLE, PSID, PBOOL member) {
  *member = FALSE;
  return TRUE;
}

class InstallThreadTest : public EngineFixture {
 protected:
  InstallThreadTest() {
    layout.ShipDriverAndProvider(RECORDER_2_5);
    SetDesktopApplicationPath("");
    environment.folders = layout.Folders();
    environment.driver_api = api;
    environment.registration_pause_ms = 0;
    LoadAdminCheckApi(&environment.admin_api);
  }
  ~InstallThreadTest() override {
    if (thread) thread->Destroy();
  }

  // Runs the install on its thread and returns the thread's exit code.
  Result RunThread() {
    thread = new InstallThread(environment);
    EXPECT_EQ(thread->Start(nullptr, 0, true), 0);
    return thread->Wait(60000);
  }

  SetupEnvironment environment;
  InstallThread* thread = nullptr;
};

TEST_F(InstallThreadTest, Windows9xSkipsTheAdministratorCheckAndTheDriverUpdate) {
  environment.nt_family = false;
  environment.admin_api.check_membership = &NotAMember;
  EXPECT_EQ(RunThread(), 0);
  EXPECT_TRUE(thread->ManualStage());
  EXPECT_FALSE(thread->RestartNeeded());
  EXPECT_TRUE(fake.update_calls.empty());
  EXPECT_EQ(thread->LastLogLine(), "RegisterFile: " + layout.System("TORVEX.DLL"));
}

TEST_F(InstallThreadTest, DriverAskingForARestartIsRecorded) {
  fake.answers["USB\\Vid_0e21&Pid_501f"].reboot = true;
  EXPECT_EQ(RunThread(), 0);
  EXPECT_TRUE(thread->RestartNeeded());
  EXPECT_FALSE(thread->ManualStage());
}

TEST_F(InstallThreadTest, WorkThatThrowsStillEndsWithACode) {
  fake.on_update = [] { throw std::runtime_error("unexpected"); };
  EXPECT_EQ(RunThread(), static_cast<Result>(0xC0040009));
  EXPECT_EQ(thread->LastLogLine(), "UpdateDriver: USB\\Vid_0e21&Pid_5001");
}

TEST_F(InstallThreadTest, WaitingTimesOutWhileTheWorkRuns) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  fake.on_update = [&] { WaitForSingleObject(release, 60000); };
  thread = new InstallThread(environment);
  ASSERT_EQ(thread->Start(nullptr, 0, true), 0);
  EXPECT_EQ(thread->Wait(50), static_cast<Result>(0x80040802));
  SetEvent(release);
  EXPECT_EQ(thread->Wait(60000), 0);
  CloseHandle(release);
}

}  // namespace
