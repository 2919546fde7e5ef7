// An install engine over a temporary Windows folder layout and a scripted driver update, with
// the log it writes; registrations do not pause.
#pragma once

#include <gtest/gtest.h>

#include "fake_driver_setup_api.h"
#include "setup/install_engine.h"
#include "setup_fixture.h"

class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() : fake(layout.Inf()), api(fake.Api()) { engine.SetRegistrationPause(0); }

  WindowsLayout layout;
  FakeDriverSetup fake;
  DriverSetupApi api;
  RecordingLog log;
  NtFileReplacer replacer;
  InstallEngine engine{&replacer, &log, layout.Folders(), &api};
};
