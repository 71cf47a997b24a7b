#include "foundation/CommandLine.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

namespace NCommandLine {

namespace {

constexpr int kOutOfMemory = 1;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// An optional "-", then digits; aFraction also admits one "." followed by digits.
bool followsRule(const char* aText, bool aFraction) {
  const char* p = aText;
  if (*p == '-') p++;
  if (!isDigit(*p)) return false;
  while (isDigit(*p)) p++;
  if (aFraction && *p == '.') {
    p++;
    if (!isDigit(*p)) return false;
    while (isDigit(*p)) p++;
  }
  return *p == '\0';
}

// A std::bad_alloc that escapes a thread's function (an OpenMP worker, say) ends the process
// through std::terminate; it ends it with the same line as one on the main thread.
[[noreturn]] void onTerminate() {
  if (std::exception_ptr aCurrent = std::current_exception()) {
    try {
      std::rethrow_exception(aCurrent);
    } catch (const std::bad_alloc&) {
      // Nothing is allocated here: the C library's copy of the program's name (argv[0]'s last
      // part) and a fixed text.
      const char* aName = program_invocation_short_name;
      const char aText[] = ": out of memory\n";
      if (write(2, aName, std::strlen(aName)) < 0 || write(2, aText, sizeof(aText) - 1) < 0) {
      }
      _exit(kOutOfMemory);
    } catch (...) {
    }
  }
  std::abort();
}

}  // namespace

bool readInteger(const char* aText, long long& aValue) {
  if (aText == nullptr || !followsRule(aText, false)) return false;
  errno = 0;
  const long long v = std::strtoll(aText, nullptr, 10);
  if (errno == ERANGE) return false;
  aValue = v;
  return true;
}

bool readDecimal(const char* aText, double& aValue) {
  if (aText == nullptr || !followsRule(aText, true)) return false;
  errno = 0;
  const double v = std::strtod(aText, nullptr);
  if (errno == ERANGE) return false;
  aValue = v;
  return true;
}

bool parseInteger(const std::string& aProgram, const std::string& aArgument, const char* aText,
                  long long aMin, long long aMax, int& aValue) {
  long long v = 0;
  if (!readInteger(aText, v)) {
    std::cerr << aProgram << ": " << aArgument << " must be a whole number, not \""
              << (aText ? aText : "") << "\"" << std::endl;
    return false;
  }
  if (v < aMin || v > aMax) {
    std::cerr << aProgram << ": " << aArgument << " must be between " << aMin << " and " << aMax
              << ", not " << aText << std::endl;
    return false;
  }
  aValue = static_cast<int>(v);
  return true;
}

bool parseDecimal(const std::string& aProgram, const std::string& aArgument, const char* aText,
                  double& aValue) {
  if (readDecimal(aText, aValue)) return true;
  std::cerr << aProgram << ": " << aArgument << " must be a number, not \"" << (aText ? aText : "")
            << "\"" << std::endl;
  return false;
}

bool wantsHelp(int argc, char** argv) {
  for (int i = 1; i < argc; i++)
    if (std::strcmp(argv[i], "--help") == 0) return true;
  return false;
}

int runProgram(const char* aProgram, const std::function<int()>& aBody) {
  std::signal(SIGXFSZ, SIG_IGN);
  std::set_terminate(onTerminate);
  try {
    return aBody();
  } catch (const std::bad_alloc&) {
    std::cerr << aProgram << ": out of memory" << std::endl;
    return kOutOfMemory;
  }
}

}  // namespace NCommandLine
