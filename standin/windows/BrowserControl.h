#pragma once

// Control of the simulated browser windows for tests and tools.
//
// The tree comes from the JSON file named by QUORRIN_BROWSER, or is the default: a top window "browser"
// (class "Chrome_WidgetWin_1", titled "Web Viewer") with a content child "content" (class
// "Chrome_RenderWidgetHostHWND", 1280x720), in the foreground. The file's form:
//   {"foreground": "browser",
//    "windows": [{"id": "browser", "class": "...", "title": "...", "rect": [x, y, width, height],
//                 "frame": [left, top, right, bottom], "visible": true, "style": 13565952, "owner": "id",
//                 "children": [ ... ]}]}
// Lists run from the top of the z-order down; "rect" is the window rectangle relative to the parent's client
// area (the screen for a top-level window); "frame" is what the window rectangle has beyond the client area.
// Only "rect" is required.

#include "platform/winapi.h"

#include <QByteArray>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

namespace BrowserControl {

// The tree of QUORRIN_BROWSER or the default, the Windows version of QUORRIN_WINDOWS_VERSION (decimal or 0x
// hexadecimal; without it one above Windows 7), a screen of 96 DPI, no call counted. Plug-in windows keep
// existing but lose their places in the tree. Handles are never reused.
void Reset();
// Replaces the tree with the JSON text; false, with the reason, when it is not a tree (nothing changes).
bool LoadTree(const QByteArray &json, QString *pError = nullptr);
// The window loaded with that "id", null when there is none.
HWND Window(const QString &strId);

// A new window on top of its siblings (parent null: a top-level window).
HWND AddWindow(HWND hParent, const QString &strClass, const QString &strTitle, const QRect &rcWindow,
               const QMargins &frame = QMargins(), bool bVisible = true);
bool SetTitle(HWND hWnd, const QString &strTitle);
bool SetForeground(HWND hWnd);
// The window's rectangle moves to the position (in its parent's client area) or takes the size.
bool Move(HWND hWnd, const QPoint &pos);
bool Resize(HWND hWnd, const QSize &size);
bool SetVisible(HWND hWnd, bool bVisible);
// Destroys the window with its children and the windows it owns. Each plug-in window among them first gets
// WM_DESTROY as a "windows_generic_MSG" native event; one that has moved out from under the window by then
// survives, the others are hidden and leave the tree.
bool Destroy(HWND hWnd);
// The browser moves a window (its content window) into another window (null: the desktop).
bool MoveInto(HWND hWnd, HWND hNewParent);
// The Windows version WindowsVersion() answers (0: back to the environment's).
void SetWindowsVersion(int nVersion);
// The screen's DPI (0: 96; -1: there is no screen context).
void SetScreenDpi(int nDpi);

// What the tree holds.
QRect ClientRectOnScreen(HWND hWnd);
HWND ParentOf(HWND hWnd);
HWND OwnerOf(HWND hWnd);
std::vector<HWND> Children(HWND hParent);  // top of the z-order first; null: the top-level windows
// Calls of a user32 function (by its name, such as "GetForegroundWindow") since the last reset.
int Calls(const char *pName);
// Thread inputs attached and not detached again.
int AttachedInputs();
// Windows made by CreateForeignParentWindow that are alive, for the handle (null: for any), and how many were
// freed while a window still had them as its parent.
int ForeignParents(HWND hWnd = nullptr);
int ForeignParentsFreedWhileParenting();

} // namespace BrowserControl
