#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP, which end the program as the host's close does instead of at once (a recording
// killed mid-way leaves no playable file). The handler only writes the signal's number to a pipe; the event loop
// of the thread that made the object reads it and emits closeSig, for the first signal only. Further signals are
// taken and dropped until the object goes, so that the files are finished whatever comes meanwhile; then the
// default actions are back. One object per process.
class CloseSignals : public QObject
{
    Q_OBJECT
public:
    explicit CloseSignals(QObject *parent = nullptr);
    ~CloseSignals() override;
    CloseSignals(const CloseSignals &) = delete;
    CloseSignals &operator=(const CloseSignals &) = delete;

    // Whether the handlers are in place (false when the pipe could not be made).
    bool IsInstalled() const { return m_pNotifier != nullptr; }

signals:
    void closeSig(int nSignal);

private slots:
    void onSignalReady();

private:
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    bool m_bClosing = false;
};
