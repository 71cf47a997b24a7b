// The small files of the long-video mode (sequence descriptions, records, the summary) and its
// folders: written whole or not at all (foundation/FileWrite.h), read whole.
#pragma once

#include <string>

// Writes aText to aPath through a temporary file. False after one line on standard error.
bool writeTextFile(const std::string& aPath, const std::string& aText);
// The whole contents of aPath; empty when it cannot be read.
std::string readTextFile(const std::string& aPath);
// Creates aPath and its missing parents. False after one line on standard error.
bool makeFolders(const std::string& aPath);
