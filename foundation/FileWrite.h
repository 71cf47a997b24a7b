// Files written whole: the content goes to a temporary file beside the target, which is
// renamed over the target only once everything has been written and closed. A killed or
// failed writer therefore never leaves a half-written file under the target's name, and a
// reader never sees one.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace NFile {

// How a write ended.
struct CWriteResult {
  // The temporary file could be created.
  bool mOpened = false;
  // The target holds the complete new contents.
  bool mComplete = false;
  // errno of the step that failed (creating, closing or renaming the file); 0 when the
  // writer itself reported the failure or nothing failed.
  int mError = 0;
};

// Name of the temporary file beside aFilename: aFilename + ".part" + the process id, so two
// processes writing the same target do not share it.
std::string temporaryName(const std::string& aFilename);

// The writer's process id when aName (a file name without folder) is a temporary file's name,
// else 0.
long temporaryWriter(const std::string& aName);

// Creates temporaryName(aFilename) for binary writing and hands it to aWrite, which writes
// the contents and returns false on any failure. The file is then closed and, when aWrite
// succeeded and the close did too, renamed to aFilename (replacing an existing file).
// Otherwise the temporary file is removed and aFilename is left as it was. Prints nothing:
// the caller reports a failure in its own words.
CWriteResult writeThenRename(const std::string& aFilename,
                             const std::function<bool(FILE* aFile)>& aWrite);

}  // namespace NFile
