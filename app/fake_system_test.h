// A test fixture that gives each unit test a fresh scripted system, as a new process would see it.
#ifndef PRESIZER_APP_FAKE_SYSTEM_TEST_H_
#define PRESIZER_APP_FAKE_SYSTEM_TEST_H_

#include <gtest/gtest.h>

#include "app/console.h"
#include "platform/win32_fake.h"
#include "prealloc/preallocate.h"
#include "prealloc/target_file.h"

class FakeSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    win32fake::Reset();
    ResetStandardOutputForTesting();
    pendingIoError = 0;
    fileOpenMode = 2;
    platformFamily = win32::VER_PLATFORM_WIN32_NT;
  }

  win32fake::State& fake = win32fake::state;
};

#endif  // PRESIZER_APP_FAKE_SYSTEM_TEST_H_
