#include "standin/windows/BrowserControl.h"

#include "standin/windows/BrowserWindows.h"

namespace BrowserControl {

namespace {
BrowserWindows &Tree() { return BrowserWindows::Instance(); }
} // namespace

void Reset() { Tree().Reset(); }
bool LoadTree(const QByteArray &json, QString *pError) { return Tree().LoadTree(json, pError); }
HWND Window(const QString &strId) { return Tree().WindowById(strId); }

HWND AddWindow(HWND hParent, const QString &strClass, const QString &strTitle, const QRect &rcWindow,
               const QMargins &frame, bool bVisible)
{
    return Tree().AddWindow(hParent, strClass, strTitle, rcWindow, frame, bVisible);
}

bool SetTitle(HWND hWnd, const QString &strTitle) { return Tree().SetTitle(hWnd, strTitle); }
bool SetForeground(HWND hWnd) { return Tree().SetForeground(hWnd); }
bool Move(HWND hWnd, const QPoint &pos) { return Tree().MoveWindow(hWnd, pos); }
bool Resize(HWND hWnd, const QSize &size) { return Tree().ResizeWindow(hWnd, size); }
bool SetVisible(HWND hWnd, bool bVisible) { return Tree().SetVisible(hWnd, bVisible); }
bool Destroy(HWND hWnd) { return Tree().Destroy(hWnd); }
bool MoveInto(HWND hWnd, HWND hNewParent) { return Tree().MoveInto(hWnd, hNewParent); }
void SetWindowsVersion(int nVersion) { Tree().SetWindowsVersion(nVersion); }
void SetScreenDpi(int nDpi) { Tree().SetScreenDpi(nDpi); }

QRect ClientRectOnScreen(HWND hWnd) { return Tree().ClientRectOnScreen(hWnd); }
HWND ParentOf(HWND hWnd) { return Tree().ParentOf(hWnd); }
HWND OwnerOf(HWND hWnd) { return Tree().OwnerOf(hWnd); }
std::vector<HWND> Children(HWND hParent) { return Tree().Children(hParent); }
int Calls(const char *pName) { return Tree().Calls(pName); }
int AttachedInputs() { return Tree().AttachedInputs(); }
int ForeignParents(HWND hWnd) { return Tree().ForeignParents(hWnd); }
int ForeignParentsFreedWhileParenting() { return Tree().ForeignParentsFreedWhileParenting(); }

} // namespace BrowserControl
