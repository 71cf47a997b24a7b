// What every program of the project (the run and each tool) does alike with its command line
// and its end: one rule for numeric arguments, the "--help" request, and an allocation
// failure turned into one line instead of an abort.
#pragma once

#include <functional>
#include <string>

namespace NCommandLine {

// The one rule for a whole-number argument: an optional leading "-" followed by decimal
// digits, and nothing else (no blank, no "+", no suffix, no other base). True, with aValue
// set, when aText follows it and the number fits in a long long; false otherwise.
bool readInteger(const char* aText, long long& aValue);

// The same rule for a number with a fraction: an optional leading "-", decimal digits, and
// optionally "." and more digits ("2", "-1.5"). True, with aValue set, when aText follows it.
bool readDecimal(const char* aText, double& aValue);

// readInteger, then the range aMin ... aMax. False after one line on standard error naming
// the program, the argument and the text given:
//   PROGRAM: ARGUMENT must be a whole number, not "TEXT"
//   PROGRAM: ARGUMENT must be between MIN and MAX, not TEXT
bool parseInteger(const std::string& aProgram, const std::string& aArgument, const char* aText,
                  long long aMin, long long aMax, int& aValue);

// readDecimal with the same message for text that does not follow it (range checks are the
// caller's).
bool parseDecimal(const std::string& aProgram, const std::string& aArgument, const char* aText,
                  double& aValue);

// True when one of the arguments after the program's name is "--help".
bool wantsHelp(int argc, char** argv);

// Runs a program's body and returns its exit status. Writes beyond a file-size limit fail
// and are reported instead of killing the process (SIGXFSZ is ignored). An allocation that
// fails, on this thread or on any other (an exception that would end the process), becomes
// the line "PROGRAM: out of memory" on standard error and exit status 1.
int runProgram(const char* aProgram, const std::function<int()>& aBody);

}  // namespace NCommandLine
