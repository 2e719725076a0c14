#pragma once

// Control of the simulated device library for tests.

#include <string>
#include <vector>

namespace KorvexControl {

// Every API call made since the last reset, as "Name arg1 arg2 ..." lines (secrets are not recorded).
std::vector<std::string> Journal();
void ClearJournal();

// What the set-up calls received.
bool IsInitialised();
std::string AppUuid();
std::string AppKey();
int AppMoveCard();
int UserDataType();
std::string UserData();

// Forgets every setting and state (the library must be cleaned up first).
void Reset();

} // namespace KorvexControl
