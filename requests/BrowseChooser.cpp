#include "requests/BrowseChooser.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QVariant>

#include <memory>

namespace {
// Marks the process objects that are choosers, so CloseAll leaves other children alone.
const char *const kChooserProperty = "quorrinBrowseChooser";
} // namespace

QString BrowseChooser::Result::Path() const
{
    const int nZero = output.indexOf('\0');
    return QString::fromUtf8(nZero < 0 ? output : output.left(nZero));
}

QString BrowseChooser::ProgramPath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath("Browse");
}

void BrowseChooser::Start(QObject *pOwner, int nFirst, int nSecond, Callback fnDone)
{
    Start(pOwner, ProgramPath(), nFirst, nSecond, std::move(fnDone));
}

void BrowseChooser::Start(QObject *pOwner, const QString &strProgram, int nFirst, int nSecond, Callback fnDone)
{
    QProcess *pProcess = new QProcess(pOwner);
    pProcess->setProperty(kChooserProperty, true);
    // Shared by the two ways the chooser can end, so that exactly one of them answers.
    auto pDone = std::make_shared<Callback>(std::move(fnDone));
    auto finish = [pProcess, pDone](const Result &result) {
        if (!*pDone)
            return;
        const Callback fn = std::move(*pDone);
        *pDone = nullptr;
        pProcess->disconnect();
        pProcess->deleteLater();
        fn(result);
    };
    QObject::connect(pProcess, &QProcess::errorOccurred, pProcess, [finish](QProcess::ProcessError error) {
        // Crashes and read errors still end in finished; only a failed start never gets there.
        if (error == QProcess::FailedToStart)
            finish(Result{NotStarted, QByteArray()});
    });
    QObject::connect(pProcess, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), pProcess,
                     [pProcess, finish](int nExitCode, QProcess::ExitStatus status) {
                         Result result;
                         result.eOutcome = nExitCode == 0 && status == QProcess::NormalExit ? Chosen : NotChosen;
                         result.output = pProcess->readAllStandardOutput();
                         finish(result);
                     });
    // Its diagnostics go where the program's own go, rather than into a buffer nobody reads.
    pProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    pProcess->start(strProgram, {QString::number(nFirst), QString::number(nSecond)}, QIODevice::ReadWrite);
}

void BrowseChooser::CloseAll(QObject *pOwner)
{
    for (QProcess *pProcess : pOwner->findChildren<QProcess *>()) {
        if (!pProcess->property(kChooserProperty).toBool())
            continue;
        pProcess->disconnect();
        pProcess->close();
        delete pProcess;
    }
}
