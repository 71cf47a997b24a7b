// Helpers shared by the tests: a fresh temporary folder per test, the built programs, small
// file utilities.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// A new empty folder under the system's temporary directory, removed with its contents when
// the object goes out of scope. aInfix becomes part of the name (it may contain spaces).
class TempDir {
 public:
  explicit TempDir(const std::string& aInfix = "quorvik");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Folder path without a trailing "/".
  const std::string& path() const { return mPath; }
  // path() + "/" + aName.
  std::string file(const std::string& aName) const { return mPath + "/" + aName; }

 private:
  std::string mPath;
};

// Full path of a program built with the project (build/quorvik, build/quorvik-generate, ...).
std::string programPath(const std::string& aName);
// Full path of a file under the repository's tests/ folder.
std::string testDataPath(const std::string& aRelative);

// Runs aArguments[0] with the given arguments (no shell), standard output and standard
// error redirected to the given files (empty: /dev/null). Returns the exit status, or
// 128 + signal number when the program was killed by a signal.
int runProgram(const std::vector<std::string>& aArguments, const std::string& aStdout = "",
               const std::string& aStderr = "");

// Limits of the program's resources in runProgram, in bytes; 0: as the tests have them.
struct CLimits {
  // Largest file the program may write (RLIMIT_FSIZE, with SIGXFSZ ignored, so that a write
  // past it fails with "File too large" as on a full disk).
  long long mFileSize = 0;
  // Largest address space (RLIMIT_AS): allocations beyond it fail.
  long long mAddressSpace = 0;
};

// runProgram with aLimits set for the program alone.
int runProgram(const std::vector<std::string>& aArguments, const CLimits& aLimits,
               const std::string& aStdout = "", const std::string& aStderr = "");

std::string readFile(const std::string& aPath);
void writeFile(const std::string& aPath, const std::string& aContents);
bool fileExists(const std::string& aPath);

// A status log without its timings ("TIME FOR" and "Computation time" lines), which differ from
// run to run.
std::string withoutTimes(const std::string& aLog);

}  // namespace testutil
