// Two independent tasks on two threads (internal to flow/). Each task writes only what no
// other task reads or writes, so the results do not depend on how the tasks are scheduled.
#pragma once

#include <functional>

// Runs aFirst on a second thread and aSecond on this one, both to completion; if no thread can
// be started they run one after the other.
void runSideBySide(const std::function<void()>& aFirst, const std::function<void()>& aSecond);
