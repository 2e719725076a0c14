// A process that ends while a decode port still plays into a window, with another window's repaint still waiting
// and nothing torn down (as a host may end the program). The decode stand-in's static object stops the port at
// exit, after the window stand-in's own statics were destroyed, and that stop clears the port's window, which asks
// for a repaint. Under AddressSanitizer this failed on the repaint registry, used after its destruction; the test
// expects a clean exit with status 0.

#include "platform/pavline.h"
#include "standin/windows/NativeSurface.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>

namespace {
// Kept to the end of the process, reachable (so no leak is reported): nothing is destroyed before exit.
QApplication *g_pApp = nullptr;
QWidget *g_pPlayed = nullptr;
QWidget *g_pWaiting = nullptr;
constexpr int kPort = 5;
} // namespace

int main(int argc, char *argv[])
{
    g_pApp = new QApplication(argc, argv);
    // The decode library first: its static object is made before the window stand-in's, so it is destroyed after.
    if (KTN_VIEW_OpenStream(kPort, nullptr, 0, 1 << 20) == 0) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }
    g_pPlayed = new QWidget;
    g_pPlayed->resize(64, 48);
    g_pWaiting = new QWidget;
    g_pWaiting->resize(64, 48);
    // The played window's surface is made by the play and has no repaint waiting, so the stop at exit asks for one.
    const HWND hPlayed = reinterpret_cast<HWND>(g_pPlayed->winId());
    if (KTN_VIEW_Play(kPort, hPlayed) == 0) {
        std::fprintf(stderr, "the port did not play\n");
        return 1;
    }
    // Another window's repaint waits in the registry: the event loop never runs to take it.
    NativeSurface::Attach(g_pWaiting)->Clear();
    return 0;
}
