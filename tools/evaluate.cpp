// quorvik-evaluate: scores the segmentation results of one sequence against per-pixel ground
// truth in the DAVIS layout (the measures and the file rules: evaluation/SequenceEvaluation.h)
// and prints a table; with --csv also writes one CSV row with a header line. Warns on standard
// error when the results folder does not hold the results of one finished run, or the ground
// truth holds no object.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "evaluation/ResultFiles.h"
#include "evaluation/SequenceEvaluation.h"
#include "foundation/CommandLine.h"
#include "foundation/FileWrite.h"

namespace {

const char* const kUsage =
    "usage: quorvik-evaluate --truth DIR --results DIR [--first N] [--name SEQ] [--csv FILE]\n"
    "                        [--tracks FILE] [--per-frame] [--identity]\n"
    "  --truth DIR      ground truth: NNNNN.png per frame (absolute frame numbers), grey\n"
    "                   (every value but 0 is the object) or palette indices (0 = background)\n"
    "  --results DIR    the run's results: Regions%03d.png and/or Mask%03d.png per frame\n"
    "                   (relative frame numbers from 0; or %05d, as quorvik-segment writes)\n"
    "  --first N        ground-truth frame of result frame 0 (default 0)\n"
    "  --name SEQ       sequence name in the report (default: the truth folder's name, or\n"
    "                   its parent's when it is called masks)\n"
    "  --csv FILE       also write the header and one row of named columns to FILE (written\n"
    "                   whole; a symbolic link is written through; no FIFO or device)\n"
    "  --tracks FILE    also score the run's trajectories (Tracks<N>.dat) as sparse labels\n"
    "  --per-frame      also print J and F of every scored frame\n"
    "  --identity       also print, per object, the regions that hold it (its region in a\n"
    "                   frame: the one holding most of it, unless that is the background's)\n"
    "                   and how often its region changes (identity switches)\n"
    "  --help           print this and exit";

constexpr const char* kProgram = "quorvik-evaluate";

constexpr int kBadCommandLine = 2;
constexpr int kFailed = 1;

struct COptions {
  CEvaluationRequest mRequest;
  std::string mCsv;
  bool mPerFrame = false;
  bool mIdentity = false;
};

bool parseOptions(int argc, char** argv, COptions& o) {
  bool aTruth = false, aResults = false;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    const bool aHasValue = i + 1 < argc;
    bool aOk = true;
    if (a == "--truth" && aHasValue) {
      o.mRequest.mTruthDir = argv[++i];
      aTruth = true;
    } else if (a == "--results" && aHasValue) {
      o.mRequest.mResultDir = argv[++i];
      aResults = true;
    } else if (a == "--first" && aHasValue) {
      // Ground-truth frames have five digits.
      if (!NCommandLine::parseInteger(kProgram, a, argv[++i], 0, 99999, o.mRequest.mFirst))
        return false;
    } else if (a == "--name" && aHasValue) {
      o.mRequest.mName = argv[++i];
      aOk = !o.mRequest.mName.empty();
    } else if (a == "--csv" && aHasValue) {
      o.mCsv = argv[++i];
      aOk = !o.mCsv.empty();
    } else if (a == "--tracks" && aHasValue) {
      o.mRequest.mTracksFile = argv[++i];
      aOk = !o.mRequest.mTracksFile.empty();
    } else if (a == "--per-frame") {
      o.mPerFrame = true;
    } else if (a == "--identity") {
      o.mIdentity = true;
    } else {
      std::cerr << "quorvik-evaluate: unknown or incomplete option " << a << "\n"
                << kUsage << std::endl;
      return false;
    }
    if (!aOk) {
      std::cerr << "quorvik-evaluate: bad value for " << a << "\n" << kUsage << std::endl;
      return false;
    }
  }
  if (!aTruth || !aResults) {
    std::cerr << "quorvik-evaluate: --truth and --results are required\n" << kUsage << std::endl;
    return false;
  }
  return true;
}

// A measure with three decimals, or "-" when it was not taken.
std::string show(double aValue) {
  if (std::isnan(aValue)) return "-";
  char aText[32];
  std::snprintf(aText, sizeof(aText), "%.3f", aValue);
  return aText;
}

void printObjects(const char* aKind, const CMultiObjectScore& aScore) {
  std::printf("  %-14s %7d %9d %9s %7s %7s %7s\n", aKind, aScore.mRegions, aScore.mExtracted,
              show(aScore.mPrecision).c_str(), show(aScore.mRecall).c_str(),
              show(aScore.mF).c_str(), show(aScore.mDensity).c_str());
}

void printMatches(const char* aKind, const CMultiObjectScore& aScore) {
  for (const CObjectScore& aObject : aScore.mPerObject) {
    const std::string aRegion = aObject.mRegion < 0 ? "none" : std::to_string(aObject.mRegion);
    std::printf("  %s: object %d%s matched to region %s, precision %s, recall %s, F %s\n", aKind,
                aObject.mObject, aObject.mObject == 0 ? " (background)" : "", aRegion.c_str(),
                show(aObject.mPrecision).c_str(), show(aObject.mRecall).c_str(),
                show(aObject.mF).c_str());
  }
}

void printTable(const CSequenceScore& s, bool aPerFrame) {
  const CFrameScore& aFirst = s.mPerFrame.front();
  const CFrameScore& aLast = s.mPerFrame.back();
  std::printf(
      "Sequence %s: %d frames scored (results %d ... %d = ground truth %05d ... %05d), "
      "%d object(s)\n",
      s.mName.c_str(), s.mFrames, aFirst.t, aLast.t, aFirst.mTruthFrame, aLast.mTruthFrame,
      s.mObjects);
  if (aPerFrame) {
    std::printf("  %6s %6s %9s %9s %9s %9s\n", "result", "truth", "mask J", "mask F", "oracle J",
                "oracle F");
    for (const CFrameScore& f : s.mPerFrame)
      std::printf("  %6d %6.5d %9s %9s %9s %9s\n", f.t, f.mTruthFrame, show(f.mMaskJ).c_str(),
                  show(f.mMaskF).c_str(), show(f.mOracleJ).c_str(), show(f.mOracleF).c_str());
  }
  const std::string aMeans = "mean of " + std::to_string(s.mAveragedFrames) + " frames";
  std::printf("  %-30s %7s %7s\n", aMeans.c_str(), "J", "F");
  std::printf("  %-30s %7s %7s\n", "own masks", show(s.mMaskJ).c_str(), show(s.mMaskF).c_str());
  std::printf("  %-30s %7s %7s\n", "  recall (share above 0.5)", show(s.mMaskJRecall).c_str(),
              show(s.mMaskFRecall).c_str());
  std::printf("  %-30s %7s %7s\n", "  decay (first - last quarter)", show(s.mMaskJDecay).c_str(),
              show(s.mMaskFDecay).c_str());
  std::string aOracle = "oracle";
  if (s.mHasRegions)
    aOracle += " (" + std::to_string(s.mOracleRegions.size()) + " of " +
               std::to_string(s.mRegions.mRegions) + " regions)";
  std::printf("  %-30s %7s %7s\n", aOracle.c_str(), show(s.mOracleJ).c_str(),
              show(s.mOracleF).c_str());
  if (!s.mHasRegions && !s.mHasTracks) return;
  std::printf("  %-14s %7s %9s %9s %7s %7s %7s\n", "multi-object", "regions", "extracted",
              "precision", "recall", "F", "density");
  if (s.mHasRegions) printObjects("regions", s.mRegions);
  if (s.mHasTracks) printObjects("trajectories", s.mTracks);
  if (s.mHasRegions) printMatches("regions", s.mRegions);
  if (s.mHasTracks) printMatches("trajectories", s.mTracks);
}

// Per object: the frames it is seen in, its regions in the order they first hold it, and the
// switches between them.
void printIdentity(const CSequenceScore& s) {
  if (!s.mHasRegions) return;
  std::printf("  identity switches: %d (an object is seen where it covers %.1f %% of the frame)\n",
              s.mIdentity.switches(), 100 * kSeenShare);
  for (const auto& [aObject, aIdentity] : s.mIdentity.objects()) {
    std::string aRegions;
    std::vector<int> aListed;
    for (int r : aIdentity.mRegions)
      if (std::find(aListed.begin(), aListed.end(), r) == aListed.end()) {
        aListed.push_back(r);
        aRegions += (aRegions.empty() ? "" : " ") + std::to_string(r);
      }
    std::printf("  object %d: seen in %d frames, missed in %d, regions %s, %d switches\n", aObject,
                aIdentity.mFrames, aIdentity.mMissed, aRegions.empty() ? "none" : aRegions.c_str(),
                aIdentity.mSwitches);
  }
}

int evaluate(int argc, char** argv) {
  if (NCommandLine::wantsHelp(argc, argv)) {
    std::cout << kUsage << std::endl;
    return 0;
  }
  COptions o;
  if (!parseOptions(argc, argv, o)) return kBadCommandLine;
  CSequenceScore aScore;
  if (!evaluateSequence(o.mRequest, aScore)) return kFailed;
  for (const std::string& aWarning : resultFolderWarnings(o.mRequest.mResultDir))
    std::cerr << kProgram << ": warning: " << aWarning << std::endl;
  if (aScore.mObjects == 0)
    std::cerr << kProgram << ": warning: the ground truth in " << o.mRequest.mTruthDir
              << " holds no object in any scored frame (every pixel is background)" << std::endl;
  printTable(aScore, o.mPerFrame);
  if (o.mIdentity) printIdentity(aScore);
  if (!o.mCsv.empty() && !NFile::writeWhole(o.mCsv, "CSV file", csvHeader() + csvRow(aScore)))
    return kFailed;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return NCommandLine::runProgram(kProgram, [&] { return evaluate(argc, argv); });
}
