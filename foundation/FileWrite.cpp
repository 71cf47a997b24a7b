#include "foundation/FileWrite.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

namespace NFile {

namespace {

constexpr const char* kTemporaryMark = ".part";
// Links followed before a chain is taken for a loop, as the kernel does.
constexpr int kMaxLinks = 40;

// The path a write to aFilename lands on: aFilename, or the final target of the symbolic link
// it names (also when that target does not exist yet). False, with aError set, for a loop or
// a link that cannot be read.
bool finalTarget(const std::string& aFilename, std::string& aTarget, int& aError) {
  aTarget = aFilename;
  for (int aLinks = 0;; aLinks++) {
    struct stat aInfo;
    if (lstat(aTarget.c_str(), &aInfo) != 0 || !S_ISLNK(aInfo.st_mode)) return true;
    if (aLinks == kMaxLinks) {
      aError = ELOOP;
      return false;
    }
    std::vector<char> aBuffer(static_cast<size_t>(aInfo.st_size > 0 ? aInfo.st_size : 255) + 1);
    const ssize_t n = readlink(aTarget.c_str(), aBuffer.data(), aBuffer.size());
    if (n < 0) {
      aError = errno;
      return false;
    }
    const std::string aLink(aBuffer.data(), static_cast<size_t>(n));
    const size_t aSlash = aTarget.rfind('/');
    if (aLink.empty() || aLink[0] == '/' || aSlash == std::string::npos)
      aTarget = aLink;
    else
      aTarget = aTarget.substr(0, aSlash + 1) + aLink;
  }
}

}  // namespace

std::string temporaryName(const std::string& aFilename) {
  return aFilename + kTemporaryMark + std::to_string(getpid());
}

long temporaryWriter(const std::string& aName) {
  const size_t aMark = aName.rfind(kTemporaryMark);
  if (aMark == std::string::npos) return 0;
  const std::string aDigits = aName.substr(aMark + std::strlen(kTemporaryMark));
  if (aDigits.empty() || aDigits.size() > 9 ||
      aDigits.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return std::strtol(aDigits.c_str(), nullptr, 10);
}

CWriteResult writeThenRename(const std::string& aFilename,
                             const std::function<bool(FILE* aFile)>& aWrite) {
  CWriteResult aResult;
  std::string aTarget;
  if (!finalTarget(aFilename, aTarget, aResult.mError)) return aResult;
  struct stat aInfo;
  if (stat(aTarget.c_str(), &aInfo) == 0 && !S_ISREG(aInfo.st_mode)) {
    aResult.mNotRegular = true;
    return aResult;
  }
  const std::string aTemporary = temporaryName(aTarget);
  FILE* aFile = fopen(aTemporary.c_str(), "wb");
  if (aFile == nullptr) {
    aResult.mError = errno;
    return aResult;
  }
  aResult.mOpened = true;
  // A failed fwrite leaves its reason in errno; anything else the writer checks leaves 0.
  errno = 0;
  const bool aWritten = aWrite(aFile);
  if (!aWritten) aResult.mError = errno;
  // Closing flushes the buffer; its failure means the data did not all reach the file.
  bool aOk = aWritten;
  if (fclose(aFile) != 0) {
    if (aOk) aResult.mError = errno;
    aOk = false;
  }
  if (aOk && rename(aTemporary.c_str(), aTarget.c_str()) != 0) {
    aResult.mError = errno;
    aOk = false;
  }
  if (!aOk) std::remove(aTemporary.c_str());
  aResult.mComplete = aOk;
  return aResult;
}

std::string failureReason(const CWriteResult& aResult) {
  if (aResult.mNotRegular) return "not a regular file";
  if (aResult.mError != 0) return std::strerror(aResult.mError);
  return "write failed";
}

bool writeWhole(const std::string& aFilename, const std::string& aKind,
                const std::function<bool(FILE* aFile)>& aWrite) {
  const CWriteResult aResult = writeThenRename(aFilename, aWrite);
  if (aResult.mComplete) return true;
  std::cerr << "Cannot write " << aKind << (aKind.empty() ? "" : " ") << aFilename << ": "
            << failureReason(aResult) << std::endl;
  return false;
}

bool writeWhole(const std::string& aFilename, const std::string& aKind,
                const std::string& aContents) {
  return writeWhole(aFilename, aKind, [&](FILE* aFile) {
    return std::fwrite(aContents.data(), 1, aContents.size(), aFile) == aContents.size();
  });
}

}  // namespace NFile
