#include "flow/SideBySide.h"

#include <system_error>
#include <thread>

void runSideBySide(const std::function<void()>& aFirst, const std::function<void()>& aSecond) {
  std::thread aThread;
  try {
    aThread = std::thread(aFirst);
  } catch (const std::system_error&) {
    // No thread available: the tasks simply run one after the other.
  }
  aSecond();
  if (aThread.joinable())
    aThread.join();
  else
    aFirst();
}
