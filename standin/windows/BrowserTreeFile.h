#pragma once

#include "platform/winapi.h"
#include "standin/windows/WindowTree.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <utility>
#include <vector>

class QJsonArray;

// The browser's windows as a file gives them, in the JSON form BrowserControl.h describes: from a text, from
// the file named by QUORRIN_BROWSER, or the default tree (a browser top window with its content window).
class BrowserTreeFile
{
public:
    // The tree becomes the text's windows; false, with the reason, when the text is not a tree (the tree stays
    // as it was).
    static bool Load(const QByteArray &json, WindowTree &tree, QString *pError);
    // The tree of the file QUORRIN_BROWSER names or, without one (or with a warning when it is not a tree), the
    // default tree.
    static void LoadConfigured(WindowTree &tree);

private:
    explicit BrowserTreeFile(WindowTree &tree) : m_tree(tree) {}
    // The windows of a list, top of the z-order first, with their children.
    bool ParseList(const QJsonArray &list, HWND hParent, std::vector<HWND> &siblings);

    WindowTree &m_tree;
    std::map<HWND, WindowTree::Node> m_nodes;
    std::map<QString, HWND> m_ids;
    std::vector<std::pair<HWND, QString>> m_owners;   // windows with the "id" of their owner
    QString m_strError;
};
