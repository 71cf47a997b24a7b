#include "tests/TestUtil.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testutil {

TempDir::TempDir(const std::string& aInfix) {
  std::string aTemplate =
      std::filesystem::temp_directory_path().string() + "/" + aInfix + "-XXXXXX";
  if (mkdtemp(aTemplate.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  mPath = aTemplate;
}

TempDir::~TempDir() {
  std::error_code aError;
  // Tests may leave read-only folders behind; make them writable so removal succeeds.
  for (auto& aEntry : std::filesystem::recursive_directory_iterator(mPath, aError))
    std::filesystem::permissions(aEntry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, aError);
  std::filesystem::remove_all(mPath, aError);
}

std::string programPath(const std::string& aName) {
  return std::string(QUORVIK_BINARY_DIR) + "/" + aName;
}

std::string testDataPath(const std::string& aRelative) {
  return std::string(QUORVIK_SOURCE_DIR) + "/tests/" + aRelative;
}

static void redirect(const std::string& aPath, int aFd) {
  const int aOut =
      open(aPath.empty() ? "/dev/null" : aPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (aOut >= 0) {
    dup2(aOut, aFd);
    close(aOut);
  }
}

int runProgram(const std::vector<std::string>& aArguments, const std::string& aStdout,
               const std::string& aStderr) {
  return runProgram(aArguments, CLimits(), aStdout, aStderr);
}

int runProgram(const std::vector<std::string>& aArguments, const CLimits& aLimits,
               const std::string& aStdout, const std::string& aStderr) {
  std::vector<char*> aArgv;
  for (const std::string& aArgument : aArguments)
    aArgv.push_back(const_cast<char*>(aArgument.c_str()));
  aArgv.push_back(nullptr);
  const pid_t aPid = fork();
  if (aPid < 0) return -1;
  if (aPid == 0) {
    redirect(aStdout, 1);
    redirect(aStderr, 2);
    // Only the child is limited; an ignored signal stays ignored across exec.
    if (aLimits.mFileSize > 0) {
      signal(SIGXFSZ, SIG_IGN);
      const struct rlimit aLimit = {static_cast<rlim_t>(aLimits.mFileSize),
                                    static_cast<rlim_t>(aLimits.mFileSize)};
      if (setrlimit(RLIMIT_FSIZE, &aLimit) != 0) _exit(126);
    }
    if (aLimits.mAddressSpace > 0) {
      const struct rlimit aLimit = {static_cast<rlim_t>(aLimits.mAddressSpace),
                                    static_cast<rlim_t>(aLimits.mAddressSpace)};
      if (setrlimit(RLIMIT_AS, &aLimit) != 0) _exit(126);
    }
    execv(aArgv[0], aArgv.data());
    _exit(127);
  }
  int aStatus = 0;
  if (waitpid(aPid, &aStatus, 0) < 0) return -1;
  if (WIFSIGNALED(aStatus)) return 128 + WTERMSIG(aStatus);
  return WEXITSTATUS(aStatus);
}

std::string readFile(const std::string& aPath) {
  std::ifstream aIn(aPath, std::ios::binary);
  std::ostringstream aBuffer;
  aBuffer << aIn.rdbuf();
  return aBuffer.str();
}

void writeFile(const std::string& aPath, const std::string& aContents) {
  std::ofstream aOut(aPath, std::ios::binary);
  aOut << aContents;
}

bool fileExists(const std::string& aPath) {
  return std::filesystem::exists(aPath);
}

std::string withoutTimes(const std::string& aLog) {
  std::istringstream aIn(aLog);
  std::string aKept;
  for (std::string aLine; std::getline(aIn, aLine);)
    if (aLine.find("TIME FOR") == std::string::npos && aLine.rfind("Computation time", 0) != 0)
      aKept += aLine + "\n";
  return aKept;
}

}  // namespace testutil
