#include "windows/TextFiles.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "foundation/FileWrite.h"

bool writeTextFile(const std::string& aPath, const std::string& aText) {
  return NFile::writeWhole(aPath, "", aText);
}

std::string readTextFile(const std::string& aPath) {
  std::ifstream aFile(aPath, std::ios::binary);
  std::ostringstream aText;
  aText << aFile.rdbuf();
  return aText.str();
}

bool makeFolders(const std::string& aPath) {
  std::error_code aError;
  std::filesystem::create_directories(aPath, aError);
  if (!aError) return true;
  std::cerr << "Cannot create folder " << aPath << ": " << aError.message() << std::endl;
  return false;
}
