#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/TestUtil.h"
#include "windows/ChildProcesses.h"

using namespace testutil;

namespace {

// Runs aScript with /bin/sh as a child and returns its exit status; its output goes to aLog.
int runChild(const std::string& aScript, const std::string& aLog,
             const std::vector<std::string>& aSetting) {
  CChildren aChildren;
  if (!aChildren.start({"/bin/sh", "-c", aScript}, aLog, 7, aSetting)) return -1;
  bool aStop = false;
  std::vector<CChildEnd> aEnded;
  while (aEnded.empty()) aEnded = aChildren.wait(10, aStop);
  EXPECT_EQ(aEnded[0].mTag, 7);
  return aEnded[0].mStatus;
}

}  // namespace

// A setting replaces the parent's value of its name (never a second entry of the same name)
// or adds the name; the rest of the environment is passed on as it is.
TEST(ChildProcesses, SettingsReplaceOrAddToTheEnvironment) {
  TempDir aDir;
  ASSERT_EQ(setenv("OMP_NUM_THREADS", "7", 1), 0);
  ASSERT_EQ(setenv("QUORVIK_TEST_KEPT", "kept", 1), 0);
  ASSERT_EQ(setenv("OMP_NUM_THREADS_X", "other", 1), 0);
  ASSERT_EQ(runChild("env | grep -c '^OMP_NUM_THREADS=';"
                     "echo \"$OMP_NUM_THREADS $QUORVIK_TEST_KEPT $OMP_NUM_THREADS_X $ADDED\"",
                     aDir.file("log"), {"OMP_NUM_THREADS=1", "ADDED=new"}),
            0);
  EXPECT_EQ(readFile(aDir.file("log")), "1\n1 kept other new\n");
  ASSERT_EQ(runChild("echo \"$OMP_NUM_THREADS\"", aDir.file("log"), {}), 0);
  EXPECT_EQ(readFile(aDir.file("log")), "7\n");
  unsetenv("OMP_NUM_THREADS");
  unsetenv("QUORVIK_TEST_KEPT");
  unsetenv("OMP_NUM_THREADS_X");
}
