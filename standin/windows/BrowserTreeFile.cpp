#include "standin/windows/BrowserTreeFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// One browser top window with its content window, in the foreground.
const char kDefaultTree[] = R"({
  "foreground": "browser",
  "windows": [
    {"id": "browser", "class": "Chrome_WidgetWin_1", "title": "Web Viewer",
     "rect": [100, 50, 1296, 837], "frame": [8, 31, 8, 8],
     "children": [
       {"id": "content", "class": "Chrome_RenderWidgetHostHWND", "title": "Chrome Legacy Window",
        "rect": [0, 78, 1280, 720]}
     ]}
  ]
})";

} // namespace

void BrowserTreeFile::LoadConfigured(WindowTree &tree)
{
    const QByteArray path = qgetenv("QUORRIN_BROWSER");
    QFile file(QString::fromLocal8Bit(path));
    QString strError;
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || !Load(file.readAll(), tree, &strError)) {
        if (!path.isEmpty())
            qWarning("QUORRIN_BROWSER %s: %s", path.constData(), qPrintable(strError));
        Load(kDefaultTree, tree, nullptr);
    }
}

bool BrowserTreeFile::Load(const QByteArray &json, WindowTree &tree, QString *pError)
{
    auto fail = [&](const QString &strWhy) {
        if (pError)
            *pError = strWhy;
        return false;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject())
        return fail("not a JSON object: " + parseError.errorString());
    const QJsonObject root = doc.object();
    if (!root.value("windows").isArray())
        return fail("no \"windows\" list");

    BrowserTreeFile file(tree);
    std::vector<HWND> topLevel;
    if (!file.ParseList(root.value("windows").toArray(), nullptr, topLevel))
        return fail(file.m_strError);
    for (const auto &owner : file.m_owners) {
        auto it = file.m_ids.find(owner.second);
        if (it == file.m_ids.end())
            return fail("unknown owner \"" + owner.second + "\"");
        if (file.m_nodes[owner.first].hParent)
            return fail("a child window has no owner");
        file.m_nodes[owner.first].hOwner = it->second;
    }
    HWND hForeground = topLevel.empty() ? nullptr : topLevel.front();
    if (root.contains("foreground")) {
        auto it = file.m_ids.find(root.value("foreground").toString());
        if (it == file.m_ids.end())
            return fail("unknown foreground window");
        hForeground = it->second;
    }

    tree.Replace(std::move(file.m_nodes), std::move(topLevel), hForeground);
    return true;
}

bool BrowserTreeFile::ParseList(const QJsonArray &list, HWND hParent, std::vector<HWND> &siblings)
{
    for (const QJsonValue &value : list) {
        if (!value.isObject()) {
            m_strError = "a window is not an object";
            return false;
        }
        const QJsonObject object = value.toObject();
        WindowTree::Node node = m_tree.NewForeign(hParent);
        node.strId = object.value("id").toString();
        node.strClass = object.value("class").toString();
        node.strTitle = object.value("title").toString();
        node.bVisible = object.value("visible").toBool(true);
        const QJsonArray rect = object.value("rect").toArray();
        const QJsonArray frame = object.value("frame").toArray();
        if (rect.size() != 4 || (!frame.isEmpty() && frame.size() != 4)) {
            m_strError = "\"rect\" needs 4 numbers and \"frame\" none or 4";
            return false;
        }
        node.rcWindow = QRect(rect[0].toInt(), rect[1].toInt(), rect[2].toInt(), rect[3].toInt());
        if (!frame.isEmpty())
            node.frame = QMargins(frame[0].toInt(), frame[1].toInt(), frame[2].toInt(), frame[3].toInt());
        node.nStyle = static_cast<LONG_PTR>(object.value("style").toDouble(static_cast<double>(node.nStyle)));
        if (!node.strId.isEmpty())
            m_ids[node.strId] = node.hWnd;
        if (object.contains("owner"))
            m_owners.emplace_back(node.hWnd, object.value("owner").toString());
        const HWND hWnd = node.hWnd;
        siblings.push_back(hWnd);
        m_nodes[hWnd] = node;
        std::vector<HWND> children;
        if (!ParseList(object.value("children").toArray(), hWnd, children))
            return false;
        m_nodes[hWnd].children = children;
    }
    return true;
}
