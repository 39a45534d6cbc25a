// The fixture of the map engine's object tests: every test ends with as many
// live COM objects as it started with, so an object a test (or the engine)
// forgot to release fails the test that leaked it.
#pragma once

#include <gtest/gtest.h>

#include "platform/com/runtime.h"

class LiveObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override { liveAtStart_ = com::LiveObjectCount(); }
  void TearDown() override { EXPECT_EQ(com::LiveObjectCount(), liveAtStart_) << "a COM object outlived the test"; }

  long liveAtStart_ = 0;
};
