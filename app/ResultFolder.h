// The result folder of a run: held by one run at a time, cleared of the temporary files that
// killed writers left, and announced when a run of another sequence replaces what it holds.
#pragma once

#include <string>

#include "settings/RunSettings.h"

// A run's hold on its result folder: an advisory lock on the folder's "Run.lock", kept while
// the object holds it (and never beyond the process, also when the process is killed). Two
// holds, in one process or in two, never hold one folder at the same time.
class CResultFolderHold {
 public:
  CResultFolderHold() = default;
  // Gives the folder up.
  ~CResultFolderHold();
  CResultFolderHold(const CResultFolderHold&) = delete;
  CResultFolderHold& operator=(const CResultFolderHold&) = delete;

  // Takes aSettings.mResultDir (which must exist) for the run of aSettings; gives up a folder
  // held before. The lock file then records this run (process id, aSequence, the ".bmf" file's
  // name, and aCommand). Temporary files of writers that no longer run (names ending in ".part"
  // and a process id) are removed. When the folder last held results of another sequence, one
  // line on standard error says which of this run's result files (those that exist) it
  // replaces. Returns false, after one line on standard error naming the folder and the run
  // that holds it, when another run holds the folder; nothing in the folder is touched then.
  bool hold(const CRunSettings& aSettings, const std::string& aSequence,
            const std::string& aCommand);
  // Gives the folder up (a run may take it again).
  void release();

 private:
  int mLock = -1;
};

// The run a lock file's text (process id, sequence and command, one a line; any bytes, as a
// damaged or foreign file may hold) describes, for messages: "process P: COMMAND", one line.
std::string describeLockHolder(const std::string& aText);
