// quorvik-generate: writes a synthetic video with known motion for tests and demonstrations:
// a textured background (optionally translating) and two or three textured objects that
// translate, rotate and scale, the later ones passing in front of the earlier ones; or, for
// long videos, objects that enter the picture one after another, cross it and leave it;
// optionally with depth: a row of near posts, part of the static scene, that move a multiple of
// the background's translation (the parallax of a camera moving sideways). Output:
// PPM frames, the ".bmf" sequence description, the "<name>_truth.txt" annotation (reference
// points on every object and on the background with their true positions), per-pixel
// ground-truth masks in the DAVIS layout ("masks/NNNNN.png", palette-indexed: 0 background and
// posts, 1 ... K the objects, a nearer object covering a farther one) and, on request, the
// trajectory cache an ideal tracker would produce.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CommandLine.h"
#include "foundation/FileWrite.h"
#include "foundation/PNGFile.h"
#include "settings/ResultNames.h"

namespace {

// Palette of the masks: black background, then the objects in the colours of the DAVIS
// annotations (dark red, green, olive).
const NPNG::CPalette kMaskPalette = {{0, 0, 0}, {128, 0, 0}, {0, 128, 0}, {128, 128, 0}};
// Frame numbers in the frame names take at least this many digits.
constexpr int kFrameDigits = 3;

// The first aCount colours of the DAVIS annotations' palette (the bits of the label spread over
// red, green and blue from the top bit down), of which kMaskPalette is the start.
NPNG::CPalette annotationPalette(int aCount) {
  NPNG::CPalette aPalette(aCount);
  for (int i = 0; i < aCount; i++) {
    int r = 0, g = 0, b = 0;
    for (int aLabel = i, aShift = 7; aLabel > 0; aLabel >>= 3, aShift--) {
      r |= (aLabel & 1) << aShift;
      g |= ((aLabel >> 1) & 1) << aShift;
      b |= ((aLabel >> 2) & 1) << aShift;
    }
    aPalette[i] = {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                   static_cast<unsigned char>(b)};
  }
  return aPalette;
}

// Objects that may cross the picture one after another in a long video.
constexpr int kMaxPassing = 50;
// The bounding distance of a crossing object from its centre, in half-sizes (a turned square's
// corner lies 1.42 half-sizes out).
constexpr double kReach = 1.5;
// Near posts: at most this many across the picture; each this share of the width wide and of
// the height tall, standing on the lower border.
constexpr int kMaxPosts = 50;
constexpr double kPostWidth = 0.12;
constexpr double kPostHeight = 0.6;
// Mean brightness of the posts' texture: darker than the background and every object.
constexpr double kPostBrightness = 60;

const char* const kUsage =
    "usage: quorvik-generate [--out DIR] [--name NAME] [--size WIDTH HEIGHT] [--frames N]\n"
    "                        [--objects 2|3 | --passing N] [--seed S] [--background DX DY]\n"
    "                        [--noise PIXELS] [--speed FACTOR] [--tracks FIRST COUNT STEP]\n"
    "                        [--near N FACTOR] [--ideal-labels]\n"
    "  --out DIR            output folder, created if missing (default .)\n"
    "  --name NAME          sequence name without dots (default synth): NAME.bmf,\n"
    "                       NAME000.ppm ..., NAME_truth.txt; masks in DIR/masks/00000.png ...\n"
    "  --size W H           frame size in pixels (default 160 120, at least 32 x 32)\n"
    "  --frames N           number of frames (default 10, at least 2); frame names take as many\n"
    "                       digits as the last number needs, at least three\n"
    "  --objects K          moving objects, 2 or 3 (default 2)\n"
    "  --passing N          instead: N objects (1 ... 50) that enter the picture one after "
    "another\n"
    "                       at even intervals over the frames, cross it from one side to the\n"
    "                       other (alternately) and leave it; mask labels 1 ... N\n"
    "  --seed S             seed of textures and motion variation (default 1)\n"
    "  --background DX DY   background translation per frame in pixels (default 0 0)\n"
    "  --near N FACTOR      depth: N textured posts (1 ... 50) standing on the lower border,\n"
    "                       evenly spread over the width, in front of the background and\n"
    "                       behind the objects, moving FACTOR times the background's\n"
    "                       translation per frame (a row that repeats: one leaving the picture\n"
    "                       comes back on the other side); part of the scene, 0 in the masks\n"
    "                       and the background in the annotation and the ideal labels\n"
    "  --noise PIXELS       position noise of the ideal trajectories (default 0.05)\n"
    "  --speed FACTOR       multiplies the objects' motion per frame (translation, rotation and\n"
    "                       growth; default 1: about one pixel per frame at 160 x 120)\n"
    "  --tracks F C S       also write the ideal trajectory cache for a run with start frame F,\n"
    "                       C frames and grid step S: "
    "DIR/QuorvikResults/NAMETracks_FFF_CCC_SS.txt\n"
    "  --ideal-labels       label the cached trajectories with their true layer (0 = background,\n"
    "                       1 ... = objects) instead of -1, as a perfect segmentation\n"
    "  --help               print this and exit";

constexpr const char* kProgram = "quorvik-generate";
// Exit status of a bad command line, and of a failure.
constexpr int kBadCommandLine = 2;
constexpr int kFailed = 1;
// Bound of every whole-number option value, and of the motion and noise options (pixels).
constexpr int kMaxOptionValue = 1000000;
constexpr double kMaxMotion = 1000;

// Deterministic generator so that a seed always gives the same sequence.
struct CSceneRandom {
  explicit CSceneRandom(unsigned aSeed) : mState(aSeed * 2654435761u + 12345u) {}
  unsigned next() {
    mState ^= mState << 13;
    mState ^= mState >> 17;
    mState ^= mState << 5;
    return mState;
  }
  // Uniform in [0, 1).
  double uniform() { return (next() & 0xffffff) / 16777216.0; }
  double range(double a, double b) { return a + (b - a) * uniform(); }
  unsigned mState;
};

// A smooth colour texture on the plane: two octaves of bilinear value noise per channel.
class CTexture {
 public:
  CTexture(CSceneRandom& aRandom, double aBase) : mBase(aBase) {
    mValues.resize(3 * kPeriod * kPeriod);
    for (double& v : mValues) v = aRandom.uniform();
  }
  void colour(double x, double y, float aRGB[3]) const {
    for (int c = 0; c < 3; c++) {
      const double v = 0.65 * lattice(c, x / 6.0, y / 6.0) + 0.35 * lattice(c, x / 2.0, y / 2.0);
      aRGB[c] = static_cast<float>(std::min(255.0, std::max(0.0, mBase + 150.0 * (v - 0.5))));
    }
  }

 private:
  static constexpr int kPeriod = 64;
  double at(int c, int i, int j) const {
    i = ((i % kPeriod) + kPeriod) % kPeriod;
    j = ((j % kPeriod) + kPeriod) % kPeriod;
    return mValues[(c * kPeriod + j) * kPeriod + i];
  }
  double lattice(int c, double x, double y) const {
    const double fx = std::floor(x), fy = std::floor(y);
    const int i = static_cast<int>(fx), j = static_cast<int>(fy);
    const double ax = x - fx, ay = y - fy;
    return (1 - ay) * ((1 - ax) * at(c, i, j) + ax * at(c, i + 1, j)) +
           ay * ((1 - ax) * at(c, i, j + 1) + ax * at(c, i + 1, j + 1));
  }
  std::vector<double> mValues;
  double mBase;
};

// One moving layer: the background (index 0), the row of posts or an object. Canonical
// coordinates q map to the picture at frame f by
// p = centre + velocity * f + scale^f * R(rotation * f) * q.
struct CLayer {
  bool mIsObject;  // false: the whole plane (background)
  bool mRound;     // disc (radius mHalfX) or rectangle (half-sizes mHalfX, mHalfY)
  double mHalfX, mHalfY;
  double mCx, mCy, mVx, mVy;  // centre at frame 0 and its motion per frame
  double mRotation, mScale;   // per frame
  CTexture mTexture;
  double mReach = 0;  // see mayCover
  // Above 0: a row of posts repeating every mPeriod pixels along x, each 2 mHalfX wide, reaching
  // from mHalfY above the centre's height down without end.
  double mPeriod = 0;
  // The layer's label in the masks, the annotation (plus 1) and the ideal labels: the
  // background's and the posts' 0, the objects' 1 ... K.
  int mLabel = 0;

  void toPicture(double qx, double qy, int f, double& px, double& py) const {
    const double a = mRotation * f, s = std::pow(mScale, f);
    px = mCx + mVx * f + s * (std::cos(a) * qx - std::sin(a) * qy);
    py = mCy + mVy * f + s * (std::sin(a) * qx + std::cos(a) * qy);
  }
  void toCanonical(double px, double py, int f, double& qx, double& qy) const {
    const double a = -mRotation * f, s = std::pow(mScale, f);
    const double dx = (px - mCx - mVx * f) / s, dy = (py - mCy - mVy * f) / s;
    qx = std::cos(a) * dx - std::sin(a) * dy;
    qy = std::sin(a) * dx + std::cos(a) * dy;
  }
  // False when picture point (px, py) of frame f lies beyond mReach of the centre, so that the
  // layer cannot cover it; 0 means no bound.
  bool mayCover(double px, double py, int f) const {
    return mReach <= 0 ||
           (std::fabs(px - mCx - mVx * f) <= mReach && std::fabs(py - mCy - mVy * f) <= mReach);
  }
  bool inside(double qx, double qy) const {
    if (mPeriod > 0) {
      const double x = qx - mPeriod * std::floor(qx / mPeriod + 0.5);
      return std::fabs(x) <= mHalfX && qy >= -mHalfY;
    }
    if (!mIsObject) return true;
    if (mRound) return qx * qx + qy * qy <= mHalfX * mHalfX;
    return std::fabs(qx) <= mHalfX && std::fabs(qy) <= mHalfY;
  }
};

struct COptions {
  std::string mOut = ".";
  std::string mName = "synth";
  int mWidth = 160, mHeight = 120, mFrames = 10, mObjects = 2, mPassing = 0;
  unsigned mSeed = 1;
  double mBackgroundX = 0, mBackgroundY = 0, mNoise = 0.05, mSpeed = 1;
  int mPosts = 0;
  double mPostFactor = 1;
  bool mTracks = false;
  bool mIdealLabels = false;
  int mFirst = 0, mCount = 0, mStep = 0;
};

// Parses the command line; false with a message on a bad one. A value that is not a number
// by NCommandLine's rule gets that rule's one line; a number out of range the usage.
bool parseOptions(int argc, char** argv, COptions& o) {
  bool aRefused = false;
  const std::string* aOption = nullptr;
  auto integer = [&](const char* aText, int& aValue) {
    aRefused = aRefused || !NCommandLine::parseInteger(kProgram, *aOption, aText, -kMaxOptionValue,
                                                       kMaxOptionValue, aValue);
    return !aRefused;
  };
  auto number = [&](const char* aText, double& aValue) {
    aRefused = aRefused || !NCommandLine::parseDecimal(kProgram, *aOption, aText, aValue);
    return !aRefused && std::fabs(aValue) < kMaxMotion;
  };
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    aOption = &a;
    auto aNeed = [&](int n) { return i + n < argc; };
    bool aOk = true;
    if (a == "--out" && aNeed(1)) {
      o.mOut = argv[++i];
    } else if (a == "--name" && aNeed(1)) {
      o.mName = argv[++i];
      aOk = !o.mName.empty() && o.mName.find_first_of("./ \t") == std::string::npos;
    } else if (a == "--size" && aNeed(2)) {
      aOk = integer(argv[i + 1], o.mWidth) && integer(argv[i + 2], o.mHeight) && o.mWidth >= 32 &&
            o.mHeight >= 32 && o.mWidth <= 4096 && o.mHeight <= 4096;
      i += 2;
    } else if (a == "--frames" && aNeed(1)) {
      aOk = integer(argv[++i], o.mFrames) && o.mFrames >= 2 && o.mFrames <= 999999;
    } else if (a == "--objects" && aNeed(1)) {
      aOk = integer(argv[++i], o.mObjects) && (o.mObjects == 2 || o.mObjects == 3);
    } else if (a == "--passing" && aNeed(1)) {
      aOk = integer(argv[++i], o.mPassing) && o.mPassing >= 1 && o.mPassing <= kMaxPassing;
    } else if (a == "--seed" && aNeed(1)) {
      int s = 0;
      aOk = integer(argv[++i], s);
      o.mSeed = static_cast<unsigned>(s);
    } else if (a == "--background" && aNeed(2)) {
      aOk = number(argv[i + 1], o.mBackgroundX) && number(argv[i + 2], o.mBackgroundY);
      i += 2;
    } else if (a == "--near" && aNeed(2)) {
      aOk = integer(argv[i + 1], o.mPosts) && number(argv[i + 2], o.mPostFactor) && o.mPosts >= 1 &&
            o.mPosts <= kMaxPosts;
      i += 2;
    } else if (a == "--speed" && aNeed(1)) {
      aOk = number(argv[++i], o.mSpeed) && o.mSpeed != 0;
    } else if (a == "--noise" && aNeed(1)) {
      aOk = number(argv[++i], o.mNoise) && o.mNoise >= 0;
    } else if (a == "--ideal-labels") {
      o.mIdealLabels = true;
    } else if (a == "--tracks" && aNeed(3)) {
      aOk = integer(argv[i + 1], o.mFirst) && integer(argv[i + 2], o.mCount) &&
            integer(argv[i + 3], o.mStep) && o.mFirst >= 0 && o.mCount >= 1 && o.mStep >= 1 &&
            o.mStep <= 99;
      o.mTracks = true;
      i += 3;
    } else {
      std::cerr << "quorvik-generate: unknown or incomplete option " << a << "\n"
                << kUsage << std::endl;
      return false;
    }
    if (aRefused) return false;
    if (!aOk) {
      std::cerr << "quorvik-generate: bad value for " << a << "\n" << kUsage << std::endl;
      return false;
    }
  }
  if (o.mTracks && o.mFirst + o.mCount > o.mFrames) {
    std::cerr << "quorvik-generate: --tracks " << o.mFirst << " " << o.mCount << " runs past the "
              << o.mFrames << " frames" << std::endl;
    return false;
  }
  return true;
}

// Objects that cross the picture one after another: object k (from 0) enters at frame
// k * frames / N on the left (even k) or the right side, moves across at 0.7 to 1.3 times
// |speed| * 1.2 pixels per frame at 160 x 120 (scaled with the picture), slightly up or down,
// along the upper third of the picture when it moves right and the lower third when it moves
// left, and leaves on the other side; squares, discs and bars in turn, some slowly turning.
void addPassingObjects(const COptions& o, CSceneRandom& aRandom, std::vector<CLayer>& aLayers) {
  const double W = o.mWidth, H = o.mHeight, m = std::min(W, H), u = m / 120.0;
  const double aSpeed = 1.2 * std::fabs(o.mSpeed) * u;
  auto jitter = [&](double x, double r) { return x + aRandom.range(-r, r); };
  for (int k = 0; k < o.mPassing; k++) {
    const int aShape = k % 3;
    const double aHalfX = jitter(aShape == 2 ? 0.2 : 0.14, 0.02) * m;
    const double aHalfY = aShape == 2 ? 0.5 * aHalfX : aHalfX;
    const double aReach = kReach * aHalfX;
    const double aDirection = k % 2 == 0 ? 1.0 : -1.0;
    const double aEnter = static_cast<double>(k) * o.mFrames / o.mPassing;
    // Rightward objects in the upper third, leftward ones in the lower: two that are in the
    // picture together pass each other well apart.
    const double aLane = aDirection > 0 ? 0.27 + 0.06 * std::fmod(0.618034 * k, 1.0)
                                        : 0.73 - 0.06 * std::fmod(0.618034 * k, 1.0);
    // Speeds and slopes differ from object to object, so that no two share one motion.
    const double aOwnSpeed = aSpeed * (0.7 + 0.6 * std::fmod(0.618034 * k + 0.5, 1.0));
    const double vx = aDirection * jitter(aOwnSpeed, 0.05 * aSpeed);
    const double vy = (k % 4 < 2 ? 1 : -1) * jitter(0.2 * aSpeed, 0.05 * aSpeed);
    // The centre at frame aEnter lies just outside the picture on the entering side.
    const double aStartX = aDirection > 0 ? -aReach : W - 1 + aReach;
    const double cx = aStartX - vx * aEnter, cy = jitter(aLane * H, 0.05 * H) - vy * aEnter;
    const double aTurn = aShape == 1 ? 0.0 : jitter(0, 0.004);
    CLayer aLayer{true,
                  aShape == 1,
                  aHalfX,
                  aHalfY,
                  cx,
                  cy,
                  vx,
                  vy,
                  aTurn,
                  1.0,
                  CTexture(aRandom, 90 + 25 * (k % 5))};
    aLayer.mReach = aReach;
    aLayers.push_back(aLayer);
  }
}

// The background and the objects, in drawing order.
std::vector<CLayer> buildLayers(const COptions& o, CSceneRandom& aRandom) {
  const double W = o.mWidth, H = o.mHeight, m = std::min(W, H), u = m / 120.0;
  const double v = o.mSpeed * u, k = o.mSpeed;
  std::vector<CLayer> aLayers;
  aLayers.push_back(
      {false, false, 0, 0, 0, 0, o.mBackgroundX, o.mBackgroundY, 0, 1, CTexture(aRandom, 110)});
  if (o.mPassing > 0) {
    addPassingObjects(o, aRandom, aLayers);
    return aLayers;
  }
  auto jitter = [&](double x, double r) { return x + aRandom.range(-r, r); };
  // Object 1: a square drifting right; object 2: a rotating, growing disc moving left in
  // front of it; object 3: a rotating rectangle moving down.
  aLayers.push_back({true, false, 0.2 * m, 0.2 * m, jitter(0.3 * W, 2), jitter(0.55 * H, 2),
                     jitter(0.9, 0.1) * v, jitter(0.3, 0.1) * v, 0.0, 1.0, CTexture(aRandom, 150)});
  aLayers.push_back({true, true, 0.17 * m, 0.17 * m, jitter(0.72 * W, 2), jitter(0.45 * H, 2),
                     jitter(-1.1, 0.1) * v, jitter(0.2, 0.1) * v, jitter(0.02, 0.005) * k,
                     std::pow(1.006, k), CTexture(aRandom, 100)});
  if (o.mObjects == 3)
    aLayers.push_back({true, false, 0.16 * m, 0.09 * m, jitter(0.5 * W, 2), jitter(0.2 * H, 2),
                       jitter(0.3, 0.1) * v, jitter(0.8, 0.1) * v, jitter(-0.015, 0.005) * k, 1.0,
                       CTexture(aRandom, 180)});
  return aLayers;
}

// The scene: the background, the posts if asked for (drawn over the background, under the
// objects; their texture drawn last from aRandom, so that the rest of the scene is the one
// without them) and the objects, labelled.
std::vector<CLayer> buildScene(const COptions& o, CSceneRandom& aRandom) {
  std::vector<CLayer> aLayers = buildLayers(o, aRandom);
  for (size_t k = 0; k < aLayers.size(); k++) aLayers[k].mLabel = static_cast<int>(k);
  if (o.mPosts > 0) {
    const double W = o.mWidth, H = o.mHeight, aPeriod = W / o.mPosts;
    // Posts centred at (j + 1/2) periods, their tops kPostHeight of the height above the lower
    // border.
    const double aHalfWidth = 0.5 * kPostWidth * W, aHeight = kPostHeight * H;
    const double vx = o.mPostFactor * o.mBackgroundX, vy = o.mPostFactor * o.mBackgroundY;
    CLayer aPosts{true,
                  false,
                  aHalfWidth,
                  aHeight,
                  0.5 * aPeriod,
                  H,
                  vx,
                  vy,
                  0.0,
                  1.0,
                  CTexture(aRandom, kPostBrightness)};
    aPosts.mPeriod = aPeriod;
    aLayers.insert(aLayers.begin() + 1, aPosts);
  }
  return aLayers;
}

// Index of the front layer at picture point (x, y) of frame f, with its canonical point.
int frontLayer(const std::vector<CLayer>& aLayers, double x, double y, int f, double& qx,
               double& qy) {
  for (int k = static_cast<int>(aLayers.size()) - 1; k >= 1; k--) {
    if (!aLayers[k].mayCover(x, y, f)) continue;
    aLayers[k].toCanonical(x, y, f, qx, qy);
    if (aLayers[k].inside(qx, qy)) return k;
  }
  aLayers[0].toCanonical(x, y, f, qx, qy);
  return 0;
}

// Writes frame f as a PPM picture; aLabel receives the label of the layer seen at every pixel
// (0 = background or post), the mask of exactly the geometry the picture shows.
bool writeFrame(const std::string& aPath, const std::vector<CLayer>& aLayers, const COptions& o,
                int f, CMatrix<int>& aLabel) {
  aLabel.setSize(o.mWidth, o.mHeight);
  std::string aText =
      "P6\n" + std::to_string(o.mWidth) + " " + std::to_string(o.mHeight) + "\n255\n";
  std::vector<unsigned char> aRow(static_cast<size_t>(o.mWidth) * 3);
  for (int y = 0; y < o.mHeight; y++) {
    for (int x = 0; x < o.mWidth; x++) {
      double qx, qy;
      const int k = frontLayer(aLayers, x, y, f, qx, qy);
      aLabel(x, y) = aLayers[k].mLabel;
      float aRGB[3];
      aLayers[k].mTexture.colour(qx, qy, aRGB);
      for (int c = 0; c < 3; c++) aRow[3 * x + c] = static_cast<unsigned char>(aRGB[c]);
    }
    aText.append(aRow.begin(), aRow.end());
  }
  return NFile::writeWhole(aPath, "frame", aText);
}

// Point of layer k (canonical q) is visible and at least aMargin inside the picture at f.
bool visible(const std::vector<CLayer>& aLayers, int k, double qx, double qy, int f,
             const COptions& o, double aMargin, double& px, double& py) {
  aLayers[k].toPicture(qx, qy, f, px, py);
  if (px < aMargin || py < aMargin || px > o.mWidth - 1 - aMargin || py > o.mHeight - 1 - aMargin)
    return false;
  double rx, ry;
  return frontLayer(aLayers, px, py, f, rx, ry) == k;
}

// Reference points: a grid per layer, kept when visible in every frame.
bool writeTruth(const std::string& aPath, const std::vector<CLayer>& aLayers, const COptions& o) {
  struct CRef {
    int mLayer;
    double qx, qy;
  };
  std::vector<CRef> aRefs;
  const double aSpacing = std::max(4.0, std::min(o.mWidth, o.mHeight) / 20.0);
  for (double y = aSpacing / 2; y < o.mHeight; y += aSpacing)
    for (double x = aSpacing / 2; x < o.mWidth; x += aSpacing) {
      double qx, qy;
      const int k = frontLayer(aLayers, x, y, 0, qx, qy);
      // Keep away from object outlines so that a point never sits on a motion boundary.
      bool aOk = true;
      for (int f = 0; f < o.mFrames && aOk; f++) {
        double px, py;
        aOk = visible(aLayers, k, qx, qy, f, o, 2, px, py);
        for (int d = 0; d < 4 && aOk; d++) {
          const double ox = px + 3 * (d == 0) - 3 * (d == 1), oy = py + 3 * (d == 2) - 3 * (d == 3);
          double rx, ry;
          aOk = frontLayer(aLayers, ox, oy, f, rx, ry) == k;
        }
      }
      if (aOk) aRefs.push_back({k, qx, qy});
    }
  std::ostringstream aOut;
  aOut << aRefs.size() << " " << o.mFrames << " 0\n";
  for (int f = 0; f < o.mFrames; f++) {
    for (const CRef& r : aRefs) {
      double px, py;
      aLayers[r.mLayer].toPicture(r.qx, r.qy, f, px, py);
      aOut << std::lround(px) << " " << std::lround(py) << " " << aLayers[r.mLayer].mLabel + 1
           << "  ";
    }
    aOut << "\n";
  }
  return NFile::writeWhole(aPath, "annotation", aOut.str());
}

// One trajectory of the ideal tracker, in relative frames of the run.
struct CIdealTrack {
  int mLayer;
  double qx, qy;
  int mox, moy, mSetupTime;
  bool mStopped = false;
  std::vector<float> mx, my, mFlowVar;
};

// Ideal tracks: grid points seeded where no live track is near, moved by the true motion,
// ended where they leave the picture or are covered by a layer in front.
bool writeTrackCache(const std::string& aPath, const std::vector<CLayer>& aLayers,
                     const COptions& o, CSceneRandom& aRandom) {
  std::vector<CIdealTrack> aTracks;
  std::vector<size_t> aLive;
  const int S = o.mStep;
  for (int t = 0; t < o.mCount; t++) {
    const int f = o.mFirst + t;
    // Coverage of the live tracks on the grid cells; new seeds go to uncovered cells.
    const int aCellsX = (o.mWidth + S - 1) / S, aCellsY = (o.mHeight + S - 1) / S;
    std::vector<char> aCovered(static_cast<size_t>(aCellsX) * aCellsY, 0);
    for (size_t i : aLive) {
      const CIdealTrack& r = aTracks[i];
      const double x = r.mx.empty() ? r.mox : r.mx.back(), y = r.my.empty() ? r.moy : r.my.back();
      const int cx = static_cast<int>(x + 0.5 * S) / S, cy = static_cast<int>(y + 0.5 * S) / S;
      if (cx >= 0 && cy >= 0 && cx < aCellsX && cy < aCellsY) aCovered[cy * aCellsX + cx] = 1;
    }
    for (int y = 0; y < o.mHeight; y += S)
      for (int x = 0; x < o.mWidth; x += S) {
        if (x < 2 || y < 2 || x > o.mWidth - 3 || y > o.mHeight - 3) continue;
        if (aCovered[(y / S) * aCellsX + x / S]) continue;
        CIdealTrack r;
        r.mLayer = frontLayer(aLayers, x, y, f, r.qx, r.qy);
        r.mox = x;
        r.moy = y;
        r.mSetupTime = t;
        aLive.push_back(aTracks.size());
        aTracks.push_back(r);
      }
    if (t + 1 == o.mCount) break;
    // Step every live track to frame f + 1.
    std::vector<size_t> aStillLive;
    for (size_t i : aLive) {
      CIdealTrack& r = aTracks[i];
      double px, py;
      if (!visible(aLayers, r.mLayer, r.qx, r.qy, f + 1, o, 1, px, py)) {
        r.mStopped = true;
        continue;
      }
      r.mx.push_back(static_cast<float>(px + aRandom.range(-o.mNoise, o.mNoise)));
      r.my.push_back(static_cast<float>(py + aRandom.range(-o.mNoise, o.mNoise)));
      // Local flow variation of a step: small and nearly constant inside a rigid layer.
      const float aVariation = static_cast<float>(aRandom.range(0.08, 0.12));
      r.mFlowVar.push_back((r.mFlowVar.empty() ? 0.0f : r.mFlowVar.back()) + aVariation);
      aStillLive.push_back(i);
    }
    aLive.swap(aStillLive);
  }
  std::ostringstream aOut;
  aOut << aTracks.size() << std::endl;
  for (const CIdealTrack& r : aTracks) {
    aOut << r.mox << " " << r.moy << std::endl << r.mx.size() << std::endl;
    for (size_t k = 0; k < r.mx.size(); k++)
      aOut << r.mx[k] << " " << r.my[k] << " " << r.mFlowVar[k] << std::endl;
    aOut << (o.mIdealLabels ? aLayers[r.mLayer].mLabel : -1) << " " << (r.mStopped ? 1 : 0) << " "
         << 1 << " " << r.mSetupTime << std::endl;
    aOut << 0 << std::endl << std::endl << 12 << std::endl;
    for (int j = 0; j < 12; j++) aOut << -1 << " " << 1e9f << " " << 1e9f << " ";
  }
  aOut << std::endl;
  return NFile::writeWhole(aPath, "track cache", aOut.str());
}

int generate(int argc, char** argv) {
  if (NCommandLine::wantsHelp(argc, argv)) {
    std::cout << kUsage << std::endl;
    return 0;
  }
  COptions o;
  if (!parseOptions(argc, argv, o)) return kBadCommandLine;
  mkdir(o.mOut.c_str(), 0755);
  const std::string aDir = o.mOut + "/";
  CSceneRandom aRandom(o.mSeed);
  const std::vector<CLayer> aLayers = buildScene(o, aRandom);

  // Every file is written whole, and the sequence description last: it never lists a frame
  // that is not there.
  const std::string aMaskDir = aDir + "masks/";
  mkdir(aMaskDir.c_str(), 0755);
  std::string aBmf = std::to_string(o.mFrames) + " 1\n";
  const NPNG::CPalette aMaskPalette =
      o.mPassing > 0 ? annotationPalette(std::max(4, o.mPassing + 1)) : kMaskPalette;
  const int aDigits =
      std::max(kFrameDigits, static_cast<int>(std::to_string(o.mFrames - 1).size()));
  for (int f = 0; f < o.mFrames; f++) {
    std::string aNumber = std::to_string(f);
    aNumber.insert(0, static_cast<size_t>(std::max(0, aDigits - static_cast<int>(aNumber.size()))),
                   '0');
    const std::string aFrame = o.mName + aNumber + ".ppm";
    aBmf += aFrame + "\n";
    CMatrix<int> aLabel;
    if (!writeFrame(aDir + aFrame, aLayers, o, f, aLabel)) return kFailed;
    char aName[32];
    std::snprintf(aName, sizeof(aName), "%05d.png", f);
    if (!NPNG::writeIndexedPNG(aMaskDir + aName, aLabel, aMaskPalette)) return kFailed;
  }
  if (!writeTruth(aDir + NResultNames::annotation(o.mName), aLayers, o)) return kFailed;
  if (o.mTracks) {
    const std::string aResults = aDir + NResultNames::kFolder + "/";
    mkdir(aResults.c_str(), 0755);
    const std::string aCache = NResultNames::trackCache(o.mName, o.mFirst, o.mCount, o.mStep);
    if (!writeTrackCache(aResults + aCache, aLayers, o, aRandom)) return kFailed;
  }
  if (!NFile::writeWhole(aDir + o.mName + ".bmf", "sequence description", aBmf)) return kFailed;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return NCommandLine::runProgram(kProgram, [&] { return generate(argc, argv); });
}
