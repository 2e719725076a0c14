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

public slots:
    void onReturnToMainThread(std::function<void(void)> callback);
};
