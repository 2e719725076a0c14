#pragma once

// Control header: whether the plug-in's widgets are used on the GUI thread only.
//
// The stand-in notes each use of one of the plug-in's own (real) windows from another thread: an event that Qt
// delivers to a widget on another thread (what a widget operation sends at once: a resize, a move, a show, a
// paint...), and a user32 call about a plug-in window made off the GUI thread. Tests read what was noted.

#include <string>
#include <vector>

namespace GuiThreadCheck {

// Whether the calling thread is the application's GUI thread (false while there is no application).
bool OnGuiThread();
// Called by the stand-in where a widget is used: off the GUI thread the use is noted, with what it was.
void Note(const char *pWhat);
// Uses noted since the last reset, and the first of them as "what (thread id)".
int Violations();
std::vector<std::string> Reports();
void Reset();

} // namespace GuiThreadCheck
