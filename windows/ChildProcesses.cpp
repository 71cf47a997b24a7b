#include "windows/ChildProcesses.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

extern char** environ;

namespace {

// The resident set of a process from its statm file (pages), in bytes; 0 when it has gone.
long long residentOf(const std::string& aStatm) {
  std::ifstream aFile(aStatm);
  long long aSize = 0, aResident = 0;
  if (!(aFile >> aSize >> aResident)) return 0;
  return aResident * sysconf(_SC_PAGESIZE);
}

int exitStatus(int aWaitStatus) {
  if (WIFEXITED(aWaitStatus)) return WEXITSTATUS(aWaitStatus);
  if (WIFSIGNALED(aWaitStatus)) return 128 + WTERMSIG(aWaitStatus);
  return 1;
}

}  // namespace

double secondsNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double processorSeconds(const struct rusage& aUsage) {
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return seconds(aUsage.ru_utime) + seconds(aUsage.ru_stime);
}

long long ownResidentBytes() {
  return residentOf("/proc/self/statm");
}

std::string lastLine(const std::string& aLog) {
  std::ifstream aFile(aLog);
  std::string aLine, aLast;
  while (std::getline(aFile, aLine))
    if (aLine.find_first_not_of(" \t\r") != std::string::npos) aLast = aLine;
  // A progress line rewritten in place keeps only its last state.
  const size_t aReturn = aLast.rfind('\r');
  if (aReturn != std::string::npos) aLast = aLast.substr(aReturn + 1);
  return aLast;
}

CChildren::CChildren() {
  sigemptyset(&mHeld);
  for (int aSignal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&mHeld, aSignal);
  pthread_sigmask(SIG_BLOCK, &mHeld, &mBefore);
}

CChildren::~CChildren() {
  stopAll();
  // A request to stop that is still pending takes its usual effect now.
  pthread_sigmask(SIG_SETMASK, &mBefore, nullptr);
}

bool CChildren::start(const std::vector<std::string>& aArguments, const std::string& aLog, int aTag,
                      const std::vector<std::string>& aSetting) {
  std::vector<char*> aArgv;
  for (const std::string& a : aArguments) aArgv.push_back(const_cast<char*>(a.c_str()));
  aArgv.push_back(nullptr);
  // Built before the fork: the child may not allocate.
  std::vector<char*> aEnvironment;
  for (char** e = environ; *e != nullptr; e++) {
    const char* aEqual = std::strchr(*e, '=');
    const size_t aName = aEqual != nullptr ? static_cast<size_t>(aEqual - *e) : std::strlen(*e);
    bool aReplaced = false;
    for (const std::string& s : aSetting)
      aReplaced =
          aReplaced || (s.size() > aName && s[aName] == '=' && s.compare(0, aName, *e, aName) == 0);
    if (!aReplaced) aEnvironment.push_back(*e);
  }
  for (const std::string& s : aSetting) aEnvironment.push_back(const_cast<char*>(s.c_str()));
  aEnvironment.push_back(nullptr);
  int aOut = -1;
  if (!aLog.empty()) {
    aOut = open(aLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (aOut < 0) {
      std::cerr << "Cannot write log " << aLog << ": " << std::strerror(errno) << std::endl;
      return false;
    }
  }
  const pid_t aParent = getpid();
  const pid_t aPid = fork();
  if (aPid == 0) {
    // Only async-signal-safe calls from here to exec.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != aParent) _exit(127);
    sigprocmask(SIG_SETMASK, &mBefore, nullptr);
    const int aNull = open("/dev/null", O_RDONLY);
    if (aNull >= 0) dup2(aNull, 0);
    if (aOut >= 0) {
      dup2(aOut, 1);
      dup2(aOut, 2);
    }
    execve(aArgv[0], aArgv.data(), aEnvironment.data());
    const char* aWhy = "cannot start program: ";
    (void)!write(2, aWhy, std::strlen(aWhy));
    (void)!write(2, aArgv[0], std::strlen(aArgv[0]));
    (void)!write(2, "\n", 1);
    _exit(127);
  }
  const int aForkError = errno;
  if (aOut >= 0) close(aOut);
  if (aPid < 0) {
    std::cerr << "Cannot start " << aArguments[0] << ": " << std::strerror(aForkError) << std::endl;
    return false;
  }
  mRunning.push_back({aPid, aTag, secondsNow(), aLog});
  return true;
}

std::vector<CChildEnd> CChildren::wait(double aSeconds, bool& aStop) {
  std::vector<CChildEnd> aEnded;
  const double aUntil = secondsNow() + aSeconds;
  while (true) {
    for (size_t i = 0; i < mRunning.size();) {
      int aWaitStatus = 0;
      struct rusage aUsage;
      if (wait4(mRunning[i].mPid, &aWaitStatus, WNOHANG, &aUsage) == mRunning[i].mPid) {
        aEnded.push_back({mRunning[i].mTag, exitStatus(aWaitStatus),
                          secondsNow() - mRunning[i].mStart, processorSeconds(aUsage),
                          mRunning[i].mLog});
        mRunning.erase(mRunning.begin() + static_cast<long>(i));
      } else {
        i++;
      }
    }
    const double aLeft = aUntil - secondsNow();
    if (!aEnded.empty() || aStop || aLeft <= 0) return aEnded;
    timespec aWait;
    aWait.tv_sec = static_cast<time_t>(aLeft);
    aWait.tv_nsec = static_cast<long>((aLeft - static_cast<double>(aWait.tv_sec)) * 1e9);
    const int aSignal = sigtimedwait(&mHeld, nullptr, &aWait);
    if (aSignal == SIGINT || aSignal == SIGTERM || aSignal == SIGHUP) aStop = true;
  }
}

bool CChildren::stopRequested() {
  sigset_t aStop;
  sigemptyset(&aStop);
  for (int aSignal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&aStop, aSignal);
  timespec aNoTime{0, 0};
  return sigtimedwait(&aStop, nullptr, &aNoTime) > 0;
}

long long CChildren::residentBytes() const {
  long long aSum = 0;
  for (const CRunning& c : mRunning)
    aSum += residentOf("/proc/" + std::to_string(c.mPid) + "/statm");
  return aSum;
}

void CChildren::stopAll() {
  for (const CRunning& c : mRunning) kill(c.mPid, SIGTERM);
  for (const CRunning& c : mRunning) {
    int aWaitStatus = 0;
    while (waitpid(c.mPid, &aWaitStatus, 0) < 0 && errno == EINTR) {
    }
  }
  mRunning.clear();
}
