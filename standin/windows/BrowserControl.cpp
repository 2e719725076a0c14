#include "standin/windows/BrowserControl.h"

#include "standin/windows/BrowserTreeFile.h"
#include "standin/windows/BrowserWindows.h"
#include "standin/windows/NativeEventDelivery.h"

#include <QPointer>
#include <QWidget>

#include <algorithm>

namespace BrowserControl {

namespace {

using Node = WindowTree::Node;

BrowserWindows &Windows() { return BrowserWindows::Instance(); }

// Changes a foreign window under the lock, then brings the foreign parents up to date.
template <typename F>
bool ChangeForeign(HWND hWnd, F &&change)
{
    const bool bChanged = Windows().Locked([&](WindowTree &tree) {
        Node *pNode = tree.Find(hWnd);
        if (!pNode || !pNode->bForeign)
            return false;
        change(*pNode);
        return true;
    });
    if (bChanged)
        Windows().SyncForeignParents();
    return bChanged;
}

} // namespace

void Reset() { Windows().Reset(); }

bool LoadTree(const QByteArray &json, QString *pError)
{
    const bool bOk = Windows().Locked([&](WindowTree &tree) { return BrowserTreeFile::Load(json, tree, pError); });
    Windows().SyncForeignParents();
    return bOk;
}

HWND Window(const QString &strId)
{
    return Windows().Locked([&](WindowTree &tree) { return tree.ForeignById(strId); });
}

HWND AddWindow(HWND hParent, const QString &strClass, const QString &strTitle, const QRect &rcWindow,
               const QMargins &frame, bool bVisible)
{
    const HWND hWnd = Windows().Locked([&](WindowTree &tree) -> HWND {
        if (hParent == WindowTree::Desktop())
            hParent = nullptr;
        if (hParent && !tree.Find(hParent))
            return nullptr;
        Node node = tree.NewForeign(hParent);
        node.strClass = strClass;
        node.strTitle = strTitle;
        node.rcWindow = rcWindow;
        node.frame = frame;
        node.bVisible = bVisible;
        tree.AddOnTop(node);
        return node.hWnd;
    });
    if (hWnd)
        Windows().SyncForeignParents();
    return hWnd;
}

bool SetTitle(HWND hWnd, const QString &strTitle)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.strTitle = strTitle; });
}

bool SetForeground(HWND hWnd) { return Windows().SetForegroundWindow(hWnd); }

bool Move(HWND hWnd, const QPoint &pos)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.rcWindow.moveTo(pos); });
}

bool Resize(HWND hWnd, const QSize &size)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.rcWindow.setSize(size); });
}

bool SetVisible(HWND hWnd, bool bVisible)
{
    return ChangeForeign(hWnd, [&](Node &node) { node.bVisible = bVisible; });
}

bool MoveInto(HWND hWnd, HWND hNewParent)
{
    const bool bMoved = Windows().Locked([&](WindowTree &tree) {
        const Node *pNode = tree.Find(hWnd);
        if (!pNode || !pNode->bForeign)
            return false;
        bool bOk = false;
        Windows().SetParent(hWnd, hNewParent, bOk);
        return bOk;
    });
    if (bMoved)
        Windows().SyncForeignParents();
    return bMoved;
}

bool Destroy(HWND hWnd)
{
    std::vector<std::pair<HWND, int>> targets;  // plug-in windows under it, with their depth
    const bool bForeign = Windows().Locked([&](WindowTree &tree) {
        const Node *pNode = tree.Find(hWnd);
        if (!pNode || !pNode->bForeign)
            return false;
        for (const auto &entry : tree.Nodes()) {
            if (entry.second.bForeign || !tree.UnderAny(entry.first, {hWnd}))
                continue;
            int nDepth = 0;
            for (HWND h = entry.second.hParent; h; h = tree.Nodes().at(h).hParent)
                ++nDepth;
            targets.emplace_back(entry.first, nDepth);
        }
        return true;
    });
    if (!bForeign)
        return false;
    // Windows hear of it before their children, each on its own handle.
    std::stable_sort(targets.begin(), targets.end(),
                     [](const auto &a, const auto &b) { return a.second < b.second; });
    for (const auto &target : targets) {
        QWidget *pWidget = Windows().Locked([&](WindowTree &tree) -> QWidget * {
            const Node *pTarget = tree.Find(target.first);
            return pTarget && tree.UnderAny(target.first, {hWnd}) ? pTarget->pWidget.data() : nullptr;
        });
        if (pWidget)
            NativeEventDelivery::Deliver(pWidget, target.first, WM_DESTROY);
    }

    std::vector<QPointer<QWidget>> lost;
    Windows().Locked([&](WindowTree &tree) {
        tree.Purge();
        std::vector<HWND> dying;
        for (const auto &entry : tree.Nodes())
            if (tree.UnderAny(entry.first, {hWnd}))
                dying.push_back(entry.first);
        for (HWND h : dying) {
            auto it = tree.Nodes().find(h);
            if (it == tree.Nodes().end())
                continue;
            if (!it->second.bForeign && it->second.pWidget && it->second.pWidget->isWindow())
                lost.push_back(it->second.pWidget);
            tree.Remove(h);
        }
    });
    // A plug-in window still under it goes from the screen with it.
    for (const QPointer<QWidget> &pWidget : lost)
        if (pWidget)
            pWidget->hide();
    Windows().SyncForeignParents();
    return true;
}

void SetWindowsVersion(int nVersion) { Windows().SetWindowsVersion(nVersion); }
void SetScreenDpi(int nDpi) { Windows().SetScreenDpi(nDpi); }

QRect ClientRectOnScreen(HWND hWnd)
{
    return Windows().Locked([&](WindowTree &tree) { return tree.ClientRectOnScreen(hWnd); });
}

HWND ParentOf(HWND hWnd)
{
    return Windows().Locked([&](WindowTree &tree) {
        const Node *pNode = tree.Find(hWnd);
        return pNode ? pNode->hParent : nullptr;
    });
}

HWND OwnerOf(HWND hWnd)
{
    return Windows().Locked([&](WindowTree &tree) {
        const Node *pNode = tree.Find(hWnd);
        return pNode ? pNode->hOwner : nullptr;
    });
}

std::vector<HWND> Children(HWND hParent)
{
    return Windows().Locked([&](WindowTree &tree) {
        tree.Purge();
        if (!hParent || hParent == WindowTree::Desktop())
            return tree.TopLevel();
        const Node *pNode = tree.Find(hParent);
        return pNode ? pNode->children : std::vector<HWND>();
    });
}

int Calls(const char *pName) { return Windows().Calls(pName); }
int AttachedInputs() { return Windows().AttachedInputs(); }
int ForeignParents(HWND hWnd) { return Windows().ForeignParents(hWnd); }
int ForeignParentsFreedWhileParenting() { return Windows().ForeignParentsFreedWhileParenting(); }

} // namespace BrowserControl
