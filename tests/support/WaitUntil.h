#pragma once

#include <functional>

// Processes the GUI thread's events until pred() holds; false when the time ran out. The time is a bound for a
// failing test only (a loaded machine may take long), never a pause that a test relies on.
bool WaitUntil(const std::function<bool()> &pred, int nTimeoutMs = 20000);
