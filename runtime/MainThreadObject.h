#pragma once

#include <QMetaType>
#include <QObject>

#include <functional>

Q_DECLARE_METATYPE(std::function<void(void)>)

// Runs hand-off functions on the GUI thread (the application's thread).
class MainThreadObject : public QObject
{
    Q_OBJECT
public:
    static MainThreadObject *GetInstance();

    explicit MainThreadObject(QObject *parent = nullptr);

    // Registers the hand-off function type under the names the queued connections use.
    static void RegisterMetaTypes();

    // For the GUI thread's waits at the end: runs fnWait on a helper thread while the calling GUI thread goes on
    // running hand-off functions (and its other events), and returns once fnWait has returned. Called on another
    // thread, it just runs fnWait.
    static void ServeWhile(const std::function<void()> &fnWait);

    // Hand-off functions that ended with an exception, on whichever route: the guards keep the process alive,
    // but each one is a fault (a request's field read off the request thread, say), which tests and the
    // request fuzzer look for here.
    static int FailedHandOffs();
    static void NoteFailedHandOff();

public slots:
    void onReturnToMainThread(std::function<void(void)> callback);

protected:
    bool event(QEvent *pEvent) override;
};
