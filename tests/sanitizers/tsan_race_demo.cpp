// A race on purpose, for the ThreadSanitizer build only: a plain int written by a std::thread and by a lambda
// that Qt's event queue runs on the application's thread, with nothing ordering the two. The suite expects
// ThreadSanitizer to report it: a suppression that hid races between the project's threads and the work Qt
// delivers to a thread would make this test fail.

#include <QCoreApplication>
#include <QMetaObject>

#include <thread>

namespace {
int g_nRaced = 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::thread writer([] { g_nRaced = 1; });
    QMetaObject::invokeMethod(
        &app,
        [] {
            g_nRaced = 2;
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    const int nResult = QCoreApplication::exec();
    writer.join();
    return nResult + (g_nRaced == 0 ? 1 : 0);
}
