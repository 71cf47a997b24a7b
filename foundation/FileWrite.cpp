#include "foundation/FileWrite.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace NFile {

namespace {

constexpr const char* kTemporaryMark = ".part";

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
  const std::string aTemporary = temporaryName(aFilename);
  FILE* aFile = fopen(aTemporary.c_str(), "wb");
  if (aFile == nullptr) {
    aResult.mError = errno;
    return aResult;
  }
  aResult.mOpened = true;
  const bool aWritten = aWrite(aFile);
  // Closing flushes the buffer; its failure means the data did not all reach the file.
  bool aOk = aWritten;
  if (fclose(aFile) != 0) {
    if (aOk) aResult.mError = errno;
    aOk = false;
  }
  if (aOk && rename(aTemporary.c_str(), aFilename.c_str()) != 0) {
    aResult.mError = errno;
    aOk = false;
  }
  if (!aOk) std::remove(aTemporary.c_str());
  aResult.mComplete = aOk;
  return aResult;
}

}  // namespace NFile
