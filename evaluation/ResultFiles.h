// The numbered files of a ground-truth or results folder, and whether a results folder holds
// the results of one finished run.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "settings/ResultNames.h"

// Files of aDir named as aKind numbers them (CNumberedName::numberOf), by number. Only regular
// files count; a folder that cannot be read gives none.
std::map<int, std::string> numberedFiles(const std::string& aDir, const CNumberedName& aKind);

// What a results folder records about the run that wrote it: the run's status logs
// ("Status<N>.txt", N frames) and its per-frame results ("Regions%03d.png", "Mask%03d.png").
// The last run is the one whose status log was written last; a finished run's log ends with
// its "Computation time:" line. Returns one line per finding (without a prefix), empty when
// the folder holds no status log (results of another program) or the results of exactly one
// finished run:
// - the last run has not finished (killed, failed or still running);
// - frames 0 ... N - 1 of the last run that lack a Regions or a Mask file (of the kinds the
//   folder holds), listed;
// - Regions or Mask files of frames N or later, which another run wrote, listed.
std::vector<std::string> resultFolderWarnings(const std::string& aResultDir);
