// The simulated browser windows behind the user32 calls: the tree and its files, texts, relations and z-order,
// geometry, the plug-in's own widgets in the tree, destruction with WM_DESTROY, the foreign parent windows, the
// screen's DPI and the Windows version.

#include "platform/winapi.h"
#include "standin/windows/BrowserControl.h"
#include "tests/support/WaitUntil.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class BrowserWindowsTest : public ::testing::Test
{
protected:
    void SetUp() override { BrowserControl::Reset(); }
    void TearDown() override { BrowserControl::Reset(); }
};

HWND HandleOf(QWidget *pWidget) { return reinterpret_cast<HWND>(pWidget->winId()); }

QRect WindowRect(HWND hWnd)
{
    RECT rc{0, 0, 0, 0};
    if (!GetWindowRect(hWnd, &rc))
        return QRect();
    return QRect(QPoint(rc.left, rc.top), QPoint(rc.right - 1, rc.bottom - 1));
}

QString Title8(HWND hWnd, int nMax = 256)
{
    std::vector<char> buffer(static_cast<size_t>(nMax), 'x');
    const int n = GetWindowTextA(hWnd, buffer.data(), nMax);
    return QString::fromUtf8(buffer.data(), n);
}

// A plug-in window as the system makes it: on WM_DESTROY it may move itself into another window.
class DestroyAwareWidget : public QWidget
{
public:
    HWND hMoveTo = nullptr;     // where to go on WM_DESTROY; null: ignore it
    std::vector<MSG> received;

protected:
    bool nativeEvent(const QByteArray &eventType, void *pMessage, long *) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        MSG *pMsg = static_cast<MSG *>(pMessage);
        received.push_back(*pMsg);
        if (pMsg->message != WM_DESTROY || !hMoveTo)
            return false;
        SetParent(pMsg->hwnd, hMoveTo);
        return true;
    }
};

} // namespace

TEST_F(BrowserWindowsTest, DefaultTreeIsABrowserWithItsContentWindowInFront)
{
    const HWND hTop = BrowserControl::Window("browser");
    const HWND hContent = BrowserControl::Window("content");
    ASSERT_TRUE(IsWindow(hTop));
    ASSERT_TRUE(IsWindow(hContent));
    EXPECT_EQ(GetForegroundWindow(), hTop);
    EXPECT_EQ(Title8(hTop), "Web Viewer");
    char szClass[128];
    GetClassNameA(hContent, szClass, sizeof szClass);
    EXPECT_STREQ(szClass, "Chrome_RenderWidgetHostHWND");
    EXPECT_EQ(GetParent(hContent), hTop);
    EXPECT_EQ(GetParent(hTop), nullptr);
    EXPECT_EQ(GetWindow(hTop, GW_CHILD), hContent);
    EXPECT_EQ(GetWindow(GetDesktopWindow(), GW_CHILD), hTop);
    EXPECT_TRUE(IsWindowVisible(hContent));

    RECT rc;
    ASSERT_TRUE(GetClientRect(hContent, &rc));
    EXPECT_EQ(rc.right, 1280);
    EXPECT_EQ(rc.bottom, 720);
    // The content window's client origin on the screen and in the top window's client area.
    POINT pts[2] = {{0, 0}, {10, 20}};
    const int nOffset = MapWindowPoints(hContent, GetDesktopWindow(), pts, 2);
    const QPoint origin = BrowserControl::ClientRectOnScreen(hContent).topLeft();
    EXPECT_EQ(QPoint(pts[0].x, pts[0].y), origin);
    EXPECT_EQ(QPoint(pts[1].x, pts[1].y), origin + QPoint(10, 20));
    EXPECT_EQ(nOffset, (origin.y() << 16) | origin.x());
    POINT pt{0, 0};
    MapWindowPoints(hContent, hTop, &pt, 1);
    EXPECT_EQ(QPoint(pt.x, pt.y), origin - BrowserControl::ClientRectOnScreen(hTop).topLeft());
    // The top window's frame lies around its client area.
    EXPECT_TRUE(WindowRect(hTop).contains(BrowserControl::ClientRectOnScreen(hTop)));
    EXPECT_NE(WindowRect(hTop), BrowserControl::ClientRectOnScreen(hTop));

    // Moving the top window moves the content window with it.
    BrowserControl::Move(hTop, WindowRect(hTop).topLeft() + QPoint(30, 40));
    EXPECT_EQ(BrowserControl::ClientRectOnScreen(hContent).topLeft(), origin + QPoint(30, 40));

    // Nothing is followed after a window is gone.
    BrowserControl::Destroy(hTop);
    EXPECT_FALSE(IsWindow(hTop));
    EXPECT_FALSE(IsWindow(hContent));
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(GetWindowTextA(hTop, szClass, sizeof szClass), 0);
    EXPECT_STREQ(szClass, "");
    EXPECT_EQ(MapWindowPoints(hContent, nullptr, &pt, 1), 0);
}

TEST_F(BrowserWindowsTest, TreeFromTheFileNamedByTheEnvironment)
{
    QTemporaryDir dir;
    const QString strPath = dir.filePath("browser.json");
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"foreground": "popup", "windows": [
      {"id": "popup", "class": "Popup", "title": "Popup", "rect": [5, 5, 100, 100], "owner": "ie", "style": 2147483648},
      {"id": "ie", "class": "IEFrame", "title": "Web Viewer - Internet Explorer", "rect": [0, 0, 1024, 768],
       "frame": [4, 50, 4, 4], "children": [
        {"id": "doc", "class": "Internet Explorer_Server", "title": "", "rect": [0, 0, 1016, 714], "visible": false}]}
    ]})");
    file.close();
    qputenv("QUORRIN_BROWSER", strPath.toLocal8Bit());
    BrowserControl::Reset();
    const HWND hPopup = BrowserControl::Window("popup");
    const HWND hIe = BrowserControl::Window("ie");
    const HWND hDoc = BrowserControl::Window("doc");
    EXPECT_EQ(BrowserControl::Window("browser"), nullptr);
    EXPECT_EQ(GetForegroundWindow(), hPopup);
    EXPECT_EQ(GetWindow(hPopup, GW_OWNER), hIe);
    EXPECT_EQ(GetParent(hPopup), hIe);     // a popup's parent is its owner
    EXPECT_EQ(GetWindow(hPopup, GW_HWNDNEXT), hIe);
    EXPECT_FALSE(IsWindowVisible(hDoc));
    EXPECT_EQ(BrowserControl::ClientRectOnScreen(hDoc), QRect(4, 50, 1016, 714));

    // A file that is not a tree leaves the default.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(R"({"windows": [{"class": "no rectangle"}]})");
    file.close();
    BrowserControl::Reset();
    EXPECT_NE(BrowserControl::Window("browser"), nullptr);
    qunsetenv("QUORRIN_BROWSER");

    QString strError;
    EXPECT_FALSE(BrowserControl::LoadTree(R"({"windows": [{"rect": [0, 0, 1, 1], "owner": "nobody"}]})", &strError));
    EXPECT_TRUE(strError.contains("owner"));
    EXPECT_NE(BrowserControl::Window("browser"), nullptr);
}

TEST_F(BrowserWindowsTest, WindowsVersionFromTheEnvironmentOrTheControl)
{
    struct Case
    {
        const char *pEnv;   // null: unset
        int nVersion;
    };
    const Case cases[] = {{nullptr, WV_WINDOWS10}, {"144", WV_WINDOWS7}, {"0xa0", WV_WINDOWS8}, {"junk", WV_WINDOWS10}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pEnv ? c.pEnv : "unset");
        if (c.pEnv)
            qputenv("QUORRIN_WINDOWS_VERSION", c.pEnv);
        else
            qunsetenv("QUORRIN_WINDOWS_VERSION");
        EXPECT_EQ(WindowsVersion(), c.nVersion);
    }
    BrowserControl::SetWindowsVersion(WV_WINDOWS7);
    EXPECT_EQ(WindowsVersion(), WV_WINDOWS7);
    qunsetenv("QUORRIN_WINDOWS_VERSION");
}

TEST_F(BrowserWindowsTest, ZOrderOfSiblings)
{
    const HWND hTop = BrowserControl::Window("browser");
    const HWND hA = BrowserControl::AddWindow(nullptr, "A", "A", QRect(0, 0, 10, 10));
    const HWND hB = BrowserControl::AddWindow(nullptr, "B", "B", QRect(0, 0, 10, 10));
    using Order = std::vector<HWND>;
    EXPECT_EQ(BrowserControl::Children(nullptr), (Order{hB, hA, hTop}));
    EXPECT_EQ(GetWindow(hA, GW_HWNDPREV), hB);
    EXPECT_EQ(GetWindow(hA, GW_HWNDNEXT), hTop);
    EXPECT_EQ(GetWindow(hB, GW_HWNDPREV), nullptr);
    EXPECT_EQ(GetWindow(hTop, GW_HWNDNEXT), nullptr);

    // Directly after (below) a given window, on top, at the bottom; sizes and places untouched.
    const QRect rect = WindowRect(hB);
    EXPECT_TRUE(SetWindowPos(hB, hTop, 99, 99, 1, 1, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
    EXPECT_EQ(BrowserControl::Children(nullptr), (Order{hA, hTop, hB}));
    EXPECT_EQ(WindowRect(hB), rect);
    EXPECT_TRUE(SetWindowPos(hB, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_EQ(BrowserControl::Children(nullptr), (Order{hB, hA, hTop}));
    EXPECT_TRUE(SetWindowPos(hB, reinterpret_cast<HWND>(1), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_EQ(BrowserControl::Children(nullptr), (Order{hA, hTop, hB}));
    EXPECT_TRUE(BringWindowToTop(hTop));
    EXPECT_EQ(BrowserControl::Children(nullptr), (Order{hTop, hA, hB}));
    // A window that is no sibling cannot be the place.
    EXPECT_FALSE(SetWindowPos(hA, BrowserControl::Window("content"), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_EQ(BrowserControl::Children(nullptr), (Order{hTop, hA, hB}));
    // Moved and sized in the parent's client area.
    EXPECT_TRUE(SetWindowPos(hA, nullptr, 7, 8, 30, 40, SWP_NOZORDER));
    EXPECT_EQ(WindowRect(hA), QRect(7, 8, 30, 40));
}

TEST_F(BrowserWindowsTest, PluginWidgetTakesPartInTheTree)
{
    const HWND hTop = BrowserControl::Window("browser");
    const HWND hContent = BrowserControl::Window("content");
    auto pWidget = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    QWidget &widget = *pWidget;
    widget.setWindowTitle("plug-in");
    widget.setGeometry(50, 60, 320, 240);
    const HWND hOwn = HandleOf(&widget);
    EXPECT_TRUE(IsWindow(hOwn));
    EXPECT_FALSE(IsWindowVisible(hOwn));
    EXPECT_EQ(Title8(hOwn), "plug-in");
    EXPECT_EQ(WindowRect(hOwn), QRect(50, 60, 320, 240));
    RECT rc;
    GetClientRect(hOwn, &rc);
    EXPECT_EQ(QSize(rc.right, rc.bottom), QSize(320, 240));
    EXPECT_TRUE(GetWindowLongPtr(hOwn, GWL_STYLE) & WS_POPUP);
    widget.show();
    EXPECT_TRUE(IsWindowVisible(hOwn));
    EXPECT_TRUE(GetWindowLongPtr(hOwn, GWL_STYLE) & WS_VISIBLE);

    // Owned: reads back through GWLP_HWNDPARENT, no parent.
    EXPECT_EQ(SetWindowLongPtr(hOwn, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(hTop)), 0);
    EXPECT_EQ(GetWindowLongPtr(hOwn, GWLP_HWNDPARENT), reinterpret_cast<LONG_PTR>(hTop));
    EXPECT_EQ(BrowserControl::ParentOf(hOwn), nullptr);
    EXPECT_EQ(GetParent(hOwn), hTop);   // popup style
    // A child: the parent, and no owner any more.
    EXPECT_NE(SetParent(hOwn, hContent), nullptr);
    EXPECT_EQ(GetParent(hOwn), hContent);
    EXPECT_EQ(GetWindowLongPtr(hOwn, GWLP_HWNDPARENT), reinterpret_cast<LONG_PTR>(hContent));
    EXPECT_EQ(BrowserControl::OwnerOf(hOwn), nullptr);
    EXPECT_EQ(GetWindow(hContent, GW_CHILD), hOwn);
    // No window under itself.
    EXPECT_EQ(SetParent(hContent, hOwn), nullptr);
    EXPECT_EQ(GetParent(hContent), hTop);
    // The style is kept as set; visibility stays the widget's.
    SetWindowLongPtr(hOwn, GWL_STYLE, WS_CHILD);
    EXPECT_EQ(GetWindowLongPtr(hOwn, GWL_STYLE), WS_CHILD | WS_VISIBLE);

    // A widget that is gone is no window, and leaves the tree.
    pWidget.reset();
    EXPECT_FALSE(IsWindow(hOwn));
    EXPECT_EQ(GetWindow(hContent, GW_CHILD), nullptr);
}

// Destroying a window tells the plug-in windows under it (as children or owned) first; those that move out
// survive, the others are hidden and leave the tree.
TEST_F(BrowserWindowsTest, DestroyDeliversWmDestroyToPluginWindowsUnderIt)
{
    const HWND hTop = BrowserControl::Window("browser");
    const HWND hContent = BrowserControl::Window("content");
    DestroyAwareWidget mover;
    DestroyAwareWidget ignorer;
    DestroyAwareWidget owned;
    DestroyAwareWidget elsewhere;
    for (QWidget *pWidget : std::vector<QWidget *>{&mover, &ignorer, &owned, &elsewhere}) {
        pWidget->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        pWidget->show();
    }
    SetParent(HandleOf(&mover), hContent);
    mover.hMoveTo = hTop;
    SetParent(HandleOf(&ignorer), hContent);
    SetWindowLongPtr(HandleOf(&owned), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(hContent));
    SetParent(HandleOf(&elsewhere), hTop);
    const HWND hPopup = BrowserControl::AddWindow(nullptr, "Popup", "", QRect(0, 0, 5, 5));
    SetWindowLongPtr(hPopup, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(hContent));

    ASSERT_TRUE(BrowserControl::Destroy(hContent));
    for (DestroyAwareWidget *pWidget : {&mover, &ignorer, &owned}) {
        ASSERT_EQ(pWidget->received.size(), 1u);
        EXPECT_EQ(pWidget->received[0].message, static_cast<UINT>(WM_DESTROY));
        EXPECT_EQ(pWidget->received[0].hwnd, HandleOf(pWidget));
    }
    EXPECT_TRUE(elsewhere.received.empty());
    EXPECT_FALSE(IsWindow(hContent));
    EXPECT_FALSE(IsWindow(hPopup));
    // Moved out: alive, visible, in the top window.
    EXPECT_TRUE(mover.isVisible());
    EXPECT_EQ(GetParent(HandleOf(&mover)), hTop);
    // Stayed: gone from the screen and the tree (the widget itself is the application's).
    EXPECT_FALSE(ignorer.isVisible());
    EXPECT_FALSE(owned.isVisible());
    EXPECT_EQ(GetParent(HandleOf(&ignorer)), nullptr);
    EXPECT_EQ(GetWindow(HandleOf(&owned), GW_OWNER), nullptr);
    EXPECT_TRUE(elsewhere.isVisible());
}

TEST_F(BrowserWindowsTest, ForeignParentWindowLiesOnTheClientArea)
{
    const HWND hTop = BrowserControl::Window("browser");
    EXPECT_EQ(CreateForeignParentWindow(reinterpret_cast<HWND>(0x6fff0000)), nullptr);
    std::unique_ptr<QWindow> pParent = CreateForeignParentWindow(hTop);
    ASSERT_NE(pParent, nullptr);
    EXPECT_EQ(BrowserControl::ForeignParents(hTop), 1);
    EXPECT_EQ(pParent->geometry(), BrowserControl::ClientRectOnScreen(hTop));
    EXPECT_TRUE(pParent->isVisible());

    QWidget widget(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    widget.setGeometry(30, 40, 200, 100);
    const HWND hOwn = HandleOf(&widget);
    widget.windowHandle()->setParent(pParent.get());
    widget.show();
    EXPECT_EQ(BrowserControl::ParentOf(hOwn), hTop);
    EXPECT_EQ(GetWindow(hTop, GW_CHILD), hOwn);
    // The real window lies on the top window's client area.
    ASSERT_TRUE(WaitUntil([&] {
        return widget.mapToGlobal(QPoint(0, 0)) == BrowserControl::ClientRectOnScreen(hTop).topLeft() + QPoint(30, 40);
    }));
    EXPECT_EQ(WindowRect(hOwn).topLeft(), BrowserControl::ClientRectOnScreen(hTop).topLeft() + QPoint(30, 40));
    // And follows it.
    BrowserControl::Move(hTop, QPoint(300, 200));
    EXPECT_EQ(pParent->geometry(), BrowserControl::ClientRectOnScreen(hTop));
    ASSERT_TRUE(WaitUntil([&] {
        return widget.mapToGlobal(QPoint(0, 0)) == BrowserControl::ClientRectOnScreen(hTop).topLeft() + QPoint(30, 40);
    }));
    BrowserControl::SetVisible(hTop, false);
    EXPECT_FALSE(pParent->isVisible());

    // Taken away from it: top-level again.
    widget.windowHandle()->setParent(nullptr);
    EXPECT_EQ(BrowserControl::ParentOf(hOwn), nullptr);
    widget.windowHandle()->setParent(pParent.get());
    // Freed while it still parents the window: counted, and the window survives.
    pParent.reset();
    EXPECT_EQ(BrowserControl::ForeignParentsFreedWhileParenting(), 1);
    EXPECT_EQ(BrowserControl::ForeignParents(), 0);
    ASSERT_NE(widget.windowHandle(), nullptr);
    EXPECT_EQ(widget.windowHandle()->parent(), nullptr);
    EXPECT_TRUE(IsWindow(hOwn));
}

TEST_F(BrowserWindowsTest, TextsAreCutAtCharacterBoundaries)
{
    const HWND hTop = BrowserControl::Window("browser");
    BrowserControl::SetTitle(hTop, QString::fromUtf8("Caméra 𝄞 web"));
    struct Case
    {
        int nMax;
        const char *pExpected;
    };
    // "Cam" 3 bytes, "é" 2, "ra " 3, the clef 4 bytes.
    const Case cases8[] = {{1, ""}, {4, "Cam"}, {5, "Cam"}, {6, "Camé"}, {12, "Caméra "}, {13, "Caméra 𝄞"}, {256, "Caméra 𝄞 web"}};
    for (const Case &c : cases8) {
        SCOPED_TRACE(c.nMax);
        EXPECT_EQ(Title8(hTop, c.nMax), QString::fromUtf8(c.pExpected));
    }
    // UTF-16: the clef is a surrogate pair.
    const Case cases16[] = {{8, "Caméra "}, {9, "Caméra "}, {10, "Caméra 𝄞"}};
    for (const Case &c : cases16) {
        SCOPED_TRACE(c.nMax);
        std::vector<WCHAR> buffer(static_cast<size_t>(c.nMax), u'x');
        const int n = GetWindowTextW(hTop, buffer.data(), c.nMax);
        EXPECT_EQ(buffer[static_cast<size_t>(n)], 0);
        EXPECT_EQ(QString::fromUtf16(buffer.data(), n), QString::fromUtf8(c.pExpected));
    }
    WCHAR szClass[8];
    EXPECT_EQ(GetClassNameW(hTop, szClass, 8), 7);
    EXPECT_EQ(QString::fromUtf16(szClass), "Chrome_");
}

TEST_F(BrowserWindowsTest, ScreenDpiAndThreadInput)
{
    HDC hDC = GetDC(nullptr);
    ASSERT_NE(hDC, nullptr);
    EXPECT_EQ(GetDeviceCaps(hDC, LOGPIXELSX), 96);
    EXPECT_EQ(ReleaseDC(nullptr, hDC), 1);
    EXPECT_EQ(ReleaseDC(nullptr, hDC), 0);
    EXPECT_EQ(GetDeviceCaps(hDC, LOGPIXELSX), 0);
    BrowserControl::SetScreenDpi(144);
    hDC = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(hDC, LOGPIXELSX), 144);
    ReleaseDC(nullptr, hDC);
    BrowserControl::SetScreenDpi(-1);
    EXPECT_EQ(GetDC(nullptr), nullptr);

    DWORD nProcess = 0;
    const DWORD nBrowserThread = GetWindowThreadProcessId(BrowserControl::Window("browser"), &nProcess);
    EXPECT_NE(nBrowserThread, 0u);
    EXPECT_NE(nProcess, 0u);
    EXPECT_NE(nBrowserThread, GetCurrentThreadId());
    EXPECT_FALSE(AttachThreadInput(GetCurrentThreadId(), GetCurrentThreadId(), 1));
    EXPECT_FALSE(AttachThreadInput(GetCurrentThreadId(), nBrowserThread, 0));
    EXPECT_TRUE(AttachThreadInput(GetCurrentThreadId(), nBrowserThread, 1));
    EXPECT_EQ(BrowserControl::AttachedInputs(), 1);
    EXPECT_TRUE(AttachThreadInput(GetCurrentThreadId(), nBrowserThread, 0));
    EXPECT_EQ(BrowserControl::AttachedInputs(), 0);
}
