// Files written whole: the content goes to a temporary file beside the target, which is
// renamed over the target only once everything has been written and closed. A killed or
// failed writer (a full disk, a file-size limit) therefore never leaves a half-written file
// under the target's name, a reader never sees one, and what the target held before stays
// intact until the new contents are complete.
//
// A target that is a symbolic link is written through it: the temporary file goes beside the
// link's final target, which is replaced, and the link stays. A target that exists and is not
// a regular file (a folder, a FIFO, a device) is refused and left alone.
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
  // The target exists and is not a regular file (nothing was written).
  bool mNotRegular = false;
  // errno of the step that failed (creating, writing, closing or renaming the file); 0 when
  // the writer reported a failure of its own or nothing failed.
  int mError = 0;
};

// Name of the temporary file beside aFilename: aFilename + ".part" + the process id, so two
// processes writing the same target do not share it.
std::string temporaryName(const std::string& aFilename);

// The writer's process id when aName (a file name without folder) is a temporary file's name,
// else 0.
long temporaryWriter(const std::string& aName);

// Creates the temporary file of aFilename's final target (aFilename itself unless it is a
// symbolic link) for binary writing and hands it to aWrite, which writes the contents and
// returns false on any failure. The file is then closed and, when aWrite succeeded and the
// close did too, renamed over the target. Otherwise the temporary file is removed and the
// target is left as it was. Prints nothing: the caller reports a failure in its own words
// (failureReason).
CWriteResult writeThenRename(const std::string& aFilename,
                             const std::function<bool(FILE* aFile)>& aWrite);

// Why a write failed, for a message: "not a regular file", the system's text for mError
// ("No space left on device", "File too large") or "write failed".
std::string failureReason(const CWriteResult& aResult);

// writeThenRename that reports a failure with one line on standard error, "Cannot write " +
// aKind + " " + aFilename + ": " + failureReason (aKind: "picture", "CSV file", ...; empty:
// "Cannot write " + aFilename + ...). True when the target holds the complete contents.
bool writeWhole(const std::string& aFilename, const std::string& aKind,
                const std::function<bool(FILE* aFile)>& aWrite);
bool writeWhole(const std::string& aFilename, const std::string& aKind,
                const std::string& aContents);

}  // namespace NFile
