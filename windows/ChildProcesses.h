// Programs run as child processes, several side by side: each with its output in a log file,
// ended when this process dies, and watched for its end and its memory. While an object of this
// class lives, SIGINT, SIGTERM, SIGHUP and SIGCHLD are held back on the calling thread (and on
// threads it starts), so that wait() notices a child's end or a request to stop at once.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

// A child that has ended.
struct CChildEnd {
  int mTag = 0;         // as given to start
  int mStatus = 0;      // exit status, or 128 + the signal that ended it
  double mSeconds = 0;  // wall-clock seconds it ran
  // Processor seconds (user and system) of it and the children it waited for: unlike the
  // wall-clock seconds, the same on a machine that others share.
  double mProcessorSeconds = 0;
  std::string mLog;  // its log file (empty: it wrote to this process's output)
};

class CChildren {
 public:
  CChildren();
  // Children still running are stopped (SIGTERM) and waited for; the signals are let through
  // again (one that is pending then takes its usual effect).
  ~CChildren();
  CChildren(const CChildren&) = delete;
  CChildren& operator=(const CChildren&) = delete;

  // Starts the program aArguments[0] (a path) with the other arguments, standard input from
  // /dev/null, standard output and error into aLog (created or emptied; empty: this process's),
  // and SIGTERM for it when this process ends. aSetting's "NAME=VALUE" entries replace this
  // process's NAME or are added to its environment. False after one line on standard error.
  bool start(const std::vector<std::string>& aArguments, const std::string& aLog, int aTag,
             const std::vector<std::string>& aSetting = {});
  int running() const { return static_cast<int>(mRunning.size()); }

  // Waits up to aSeconds for children to end and returns those that did (possibly none).
  // aStop becomes true when SIGINT, SIGTERM or SIGHUP arrived; the children keep running.
  std::vector<CChildEnd> wait(double aSeconds, bool& aStop);

  // True when SIGINT, SIGTERM or SIGHUP arrived since the last wait or call.
  bool stopRequested();

  // Resident memory of the running children together, in bytes.
  long long residentBytes() const;
  // Sends SIGTERM to every running child and waits for all of them.
  void stopAll();

 private:
  struct CRunning {
    pid_t mPid;
    int mTag;
    double mStart;
    std::string mLog;
  };
  std::vector<CRunning> mRunning;
  sigset_t mHeld, mBefore;
};

// Wall-clock seconds from an arbitrary fixed start (steady clock).
double secondsNow();
// Resident memory of this process, in bytes.
long long ownResidentBytes();
// User plus system seconds of a resource usage (getrusage, wait4).
double processorSeconds(const struct rusage& aUsage);
// The last line of aLog that is not empty (the reason a program gives for failing).
std::string lastLine(const std::string& aLog);
