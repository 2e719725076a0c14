#pragma once

#include <functional>

// Processes the GUI thread's events until pred() holds; false when the time ran out.
bool WaitUntil(const std::function<bool()> &pred, int nTimeoutMs = 5000);
