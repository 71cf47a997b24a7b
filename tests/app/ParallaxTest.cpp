// The whole program on a generated shot with depth: the camera pans over a scene with near posts
// that move several times as fast as the far background (parallax), while two objects move out
// of the picture. The posts belong to the scene; the objects stay objects until they are gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/PNGFile.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

// 256 x 192, 16 frames: the background pans right by 1.5 pixels per frame, three posts by twice
// that; the square moves left and the disc right by 5 to 7 pixels per frame, both leaving the
// picture over the second half of the shot.
const std::vector<std::string> kScene = {"--size",       "256", "192", "--frames", "16",
                                         "--background", "1.5", "0",   "--speed",  "-3"};
const std::vector<std::string> kPosts = {"--near", "3", "2"};
constexpr int kFrames = 16, kWidth = 256, kPixels = kWidth * 192;
// The posts' motion per frame in pixels.
constexpr int kPostStep = 3;

int generate(const std::string& aFolder, std::vector<std::string> aOptions) {
  aOptions.insert(aOptions.begin(),
                  {testutil::programPath("quorvik-generate"), "--out", aFolder, "--name", "synth"});
  return testutil::runProgram(aOptions);
}

std::string name(const char* aPattern, int t) {
  char aName[64];
  std::snprintf(aName, sizeof(aName), aPattern, t);
  return aName;
}

// The pixels of a generated frame (after the header "P6\n256 192\n255\n").
std::string framePixels(const std::string& aPath) {
  const std::string aFrame = testutil::readFile(aPath);
  const std::string aHeader = "P6\n256 192\n255\n";
  EXPECT_EQ(aFrame.size(), aHeader.size() + 3 * kPixels) << aPath;
  return aFrame.size() == aHeader.size() + 3 * kPixels ? aFrame.substr(aHeader.size())
                                                       : std::string(3 * kPixels, '\0');
}

// The named columns of quorvik-evaluate's CSV row.
std::map<std::string, double> scores(const TempDir& aDir) {
  std::map<std::string, double> aScores;
  EXPECT_EQ(testutil::runProgram({testutil::programPath("quorvik-evaluate"), "--truth",
                                  aDir.file("masks"), "--results", aDir.file("QuorvikResults"),
                                  "--csv", aDir.file("scores.csv")}),
            0);
  std::istringstream aLines(testutil::readFile(aDir.file("scores.csv")));
  std::string aHeader, aRow;
  std::getline(aLines, aHeader);
  std::getline(aLines, aRow);
  std::istringstream aNames(aHeader), aValues(aRow);
  for (std::string aName, aValue;
       std::getline(aNames, aName, ',') && std::getline(aValues, aValue, ',');)
    if (!aValue.empty() && aName != "sequence") aScores[aName] = std::stod(aValue);
  return aScores;
}

}  // namespace

TEST(Parallax, PanningOverNearPostsFindsTheObjectsLeavingThePictureAndLeavesThePostsOut) {
  TempDir aDir;
  std::vector<std::string> aWithPosts = kScene;
  aWithPosts.insert(aWithPosts.end(), kPosts.begin(), kPosts.end());
  ASSERT_EQ(generate(aDir.path(), aWithPosts), 0);
  // The same scene without the posts: the objects' masks are the same (the posts are scene),
  // and the frames differ exactly where a post is seen.
  ASSERT_EQ(generate(aDir.file("flat"), kScene), 0);
  std::vector<std::vector<bool>> aPost(kFrames, std::vector<bool>(kPixels, false));
  long long aPostPixels = 0;
  for (int t = 0; t < kFrames; t++) {
    EXPECT_EQ(testutil::readFile(aDir.file(name("masks/%05d.png", t))),
              testutil::readFile(aDir.file(name("flat/masks/%05d.png", t))))
        << t;
    const std::string aWith = framePixels(aDir.file(name("synth%03d.ppm", t)));
    const std::string aWithout = framePixels(aDir.file(name("flat/synth%03d.ppm", t)));
    for (int i = 0; i < kPixels; i++) {
      aPost[t][i] = aWith.compare(3 * i, 3, aWithout, 3 * i, 3) != 0;
      aPostPixels += aPost[t][i];
    }
  }
  // Three posts of 12 % of the width over the lower 60 % of the picture, partly hidden.
  EXPECT_GT(aPostPixels, 0.1 * kFrames * kPixels);
  EXPECT_LT(aPostPixels, 0.22 * kFrames * kPixels);
  // Their left edges move by twice the background's 1.5 pixels per frame (but where an object
  // covers one).
  int aEdges = 0, aMoved = 0;
  for (int t = 0; t + 1 < kFrames; t++)
    for (int i = 0; i < kPixels; i++) {
      const int x = i % kWidth;
      if (x < 1 || x + kPostStep >= kWidth || !aPost[t][i] || aPost[t][i - 1]) continue;
      aEdges++;
      aMoved += aPost[t + 1][i + kPostStep] && !aPost[t + 1][i + kPostStep - 1];
    }
  EXPECT_GT(aMoved, 0.8 * aEdges);

  ASSERT_EQ(testutil::runProgram({testutil::programPath("quorvik"), aDir.file("synth.bmf"), "0",
                                  std::to_string(kFrames), "8"},
                                 "", aDir.file("err.txt")),
            0)
      << testutil::readFile(aDir.file("err.txt"));

  // The run's own masks find the objects about as well as the best set of the run's regions, also
  // where they touch the border and while they leave the picture.
  std::map<std::string, double> aScores = scores(aDir);
  EXPECT_GE(aScores["mask_J"], 0.85);
  EXPECT_GE(aScores["mask_J"], aScores["oracle_J"] - 0.05)
      << "best set of regions " << aScores["oracle_J"];

  // Hardly a post pixel in the masks.
  long long aInMask = 0;
  for (int t = 0; t < kFrames; t++) {
    NPNG::CImage aMask;
    ASSERT_TRUE(NPNG::readPNG(aDir.file(name("QuorvikResults/Mask%03d.png", t)), aMask));
    ASSERT_EQ(aMask.mPixels.size(), kPixels);
    for (int i = 0; i < kPixels; i++) aInMask += aPost[t][i] && aMask.mPixels.data()[i] >= 128.0f;
  }
  EXPECT_LT(aInMask, 0.02 * aPostPixels);
}
