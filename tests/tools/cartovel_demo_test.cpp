// The demonstration program as a script or the build runs it: on a device
// root without maps it says so and fails.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(CartovelDemo, WithoutAMapItSaysSoAndFails) {
  const testing_support::TempFolder root("cartovel-demo");
  const testing_support::CommandResult said =
      testing_support::RunCommand({CARTOVEL_DEMO_COMMAND, "--root", root.string()}, true);
  EXPECT_EQ(said.exitStatus, 1) << said.output;
  EXPECT_NE(said.output.find("cartovel-demo: no map loaded"), std::string::npos) << said.output;
}

}  // namespace
