// A fresh platform for each test, destroyed afterwards.
#pragma once

#include <gtest/gtest.h>

#include "platform/control_bits.h"
#include "platform/ir_time.h"
#include "platform/platform.h"
#include "platform/sys_log.h"

class PlatformFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_ = CreatePlatform();
    ASSERT_NE(nullptr, platform_);
    log_ = static_cast<ISysLog*>(platform_->GetInterface("ISysLog"));
    bits_ = static_cast<IControlBits*>(platform_->GetInterface("IControlBits"));
    time_ = static_cast<IRTime*>(platform_->GetInterface("IRTime"));
    ASSERT_NE(nullptr, log_);
    ASSERT_NE(nullptr, bits_);
    ASSERT_NE(nullptr, time_);
  }
  void TearDown() override {
    DestroyPlatform();
    ISysLog::SetPrintFlags(true, true, false);
  }

  IRPlatform* platform_ = nullptr;
  ISysLog* log_ = nullptr;
  IControlBits* bits_ = nullptr;
  IRTime* time_ = nullptr;
};
