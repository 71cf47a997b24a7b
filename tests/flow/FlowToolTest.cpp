// The quorvik-flow program from outside: arguments, unreadable frames, and the files it writes.
#include <gtest/gtest.h>

#include <string>

#include "FlowTestUtil.h"
#include "tests/TestUtil.h"

using namespace testutil;

namespace {

// A binary P6 file of the picture (values already in 0 ... 255).
std::string ppm(const CTensor<float>& aPicture) {
  std::string s = "P6\n" + std::to_string(aPicture.xSize()) + " " +
                  std::to_string(aPicture.ySize()) + "\n255\n";
  for (int y = 0; y < aPicture.ySize(); y++)
    for (int x = 0; x < aPicture.xSize(); x++)
      for (int c = 0; c < 3; c++) s += static_cast<char>(static_cast<int>(aPicture(x, y, c)));
  return s;
}

int countLines(const std::string& aText) {
  int n = 0;
  for (char c : aText) n += c == '\n';
  return n;
}

}  // namespace

TEST(FlowTool, RejectsWrongArgumentsWithOneLine) {
  TempDir aDir;
  EXPECT_NE(runProgram({programPath("quorvik-flow"), "a.ppm"}, "", aDir.file("err")), 0);
  EXPECT_EQ(countLines(readFile(aDir.file("err"))), 1);
  EXPECT_NE(runProgram({programPath("quorvik-flow"), aDir.file("missing1.ppm"),
                        aDir.file("missing2.ppm"), aDir.file("out")},
                       "", aDir.file("err2")),
            0);
  EXPECT_EQ(countLines(readFile(aDir.file("err2"))), 1);
  EXPECT_FALSE(fileExists(aDir.file("out/ForwardFlow000.flo")));
}

TEST(FlowTool, RejectsFramesOfDifferentSize) {
  CRandom aRandom;
  TempDir aDir;
  const std::vector<flowtest::Blob> aBlobs = flowtest::randomBlobs(48, 40, 40, 2, 5, aRandom);
  writeFile(aDir.file("a.ppm"), ppm(flowtest::render(aBlobs, 48, 40)));
  writeFile(aDir.file("b.ppm"), ppm(flowtest::render(aBlobs, 40, 40)));
  EXPECT_NE(runProgram({programPath("quorvik-flow"), aDir.file("a.ppm"), aDir.file("b.ppm"),
                        aDir.file("out")},
                       "", aDir.file("err")),
            0);
  EXPECT_EQ(countLines(readFile(aDir.file("err"))), 1);
  // A run of frames stops at the first that does not fit, with the pairs before it written.
  EXPECT_NE(runProgram({programPath("quorvik-flow"), aDir.file("a.ppm"), aDir.file("a.ppm"),
                        aDir.file("b.ppm"), aDir.file("a.ppm"), aDir.file("out")},
                       "", aDir.file("err")),
            0);
  EXPECT_EQ(countLines(readFile(aDir.file("err"))), 1);
  EXPECT_TRUE(fileExists(aDir.file("out/FlowSource000.txt")));
  EXPECT_FALSE(fileExists(aDir.file("out/ForwardFlow001.flo")));
}

TEST(FlowTool, WritesBothFlowFieldsAndPictures) {
  CRandom aRandom;
  TempDir aDir;
  const std::vector<flowtest::Blob> aBlobs = flowtest::randomBlobs(48, 40, 40, 2, 5, aRandom);
  writeFile(aDir.file("a.ppm"), ppm(flowtest::render(aBlobs, 48, 40)));
  writeFile(aDir.file("b.ppm"), ppm(flowtest::render(aBlobs, 48, 40, 1, 0)));
  ASSERT_EQ(runProgram({programPath("quorvik-flow"), aDir.file("a.ppm"), aDir.file("b.ppm"),
                        aDir.file("out")}),
            0);
  for (const char* aName : {"ForwardFlow000", "BackwardFlow000"}) {
    const std::string aFlo = readFile(aDir.file(std::string("out/") + aName + ".flo"));
    ASSERT_EQ(aFlo.size(), 12u + 8u * 48 * 40) << aName;
    EXPECT_EQ(aFlo.substr(0, 4), "PIEH");
    EXPECT_TRUE(fileExists(aDir.file(std::string("out/") + aName + ".ppm"))) << aName;
  }
}
