#include <gtest/gtest.h>

#include "bmp_builder.h"
#include "test_support.h"

using namespace testsupport;

// A missing input ends the run with the open-failure line, status 1, nothing
// on standard output and no output file.
TEST(Run, MissingInputFails) {
  TempDir dir;
  const RunResult run = runTool(dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error: bmpLoad(), File open fail!\n");
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{});
}
