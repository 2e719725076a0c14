// Start-up of the plug-in process: check the host's command line, wire the request handler to the host link,
// run the GUI event loop until the host goes away, then shut down in an order that leaves no thread using a
// deleted object.

#include "device/CQZConnect.h"
#include "device/CRecordRecovery.h"
#include "device/CRecordWorker.h"
#include "requests/CPluginManage.h"
#include "requests/HostLink.h"
#include "runtime/BuildVariant.h"
#include "runtime/CDataCenter.h"
#include "runtime/CloseSignals.h"
#include "runtime/CommandLine.h"
#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/ListenThread.h"
#include "runtime/MainThreadObject.h"
#include "runtime/MemoryRelease.h"
#include "runtime/SecretMask.h"
#include "windows/LocalInfoFile.h"
#include "windows/PluginRegion.h"

#include <QApplication>
#include <QDebug>
#include <QFile>

#include <cstdio>
#include <memory>
#include <stdexcept>

#ifndef QUORRIN_PREVIEW_BUDGET
#define QUORRIN_PREVIEW_BUDGET 0
#endif

int main(int argc, char *argv[])
{
    MemoryRelease::BoundArenas();
    CommandLine line;
    try {
        if (argc >= 4) {
            QString strArgs = QString::fromLocal8Bit(argv[0]);
            for (int i = 1; i < argc; ++i)
                strArgs += " " + SecretMask::Mask(QString::fromLocal8Bit(argv[i]));
            qDebug().noquote() << strArgs;
            QCoreApplication::addLibraryPath(QString::fromLocal8Bit(argv[3]));
        }
        line = CommandLine::Parse(argc, argv);
    } catch (const std::exception &e) {
        // A bad command line ends the process before anything is created, logged or shown.
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    QApplication app(argc, argv);
    // From here on a termination signal is the host's close: the recordings are finished before the end.
    CloseSignals closeSignals;
    auto argText = [&](int i) { return i < argc ? SecretMask::Mask(QString::fromLocal8Bit(argv[i])) : QString(); };
    LOGN(QString("argv0=%1, argv1=%2, argv2=%3, argv3=%4, argv4=%5, argv5=%6")
             .arg(argText(0), argText(1), argText(2), argText(3), argText(4), argText(5)),
         "main");
    LOGN("start plugin", "main");

    QFile styleFile(QCoreApplication::applicationDirPath() + "/style.ss");
    if (styleFile.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(styleFile.readAll()));

    MainThreadObject::RegisterMetaTypes();
    qRegisterMetaType<PluginRegion>("PluginRegion");

    if (!line.m_strSdkInfo.isEmpty())
        CDataCenter::GetInstance()->InitSDKInfo(line.m_strSdkInfo);
    // The data centre knows no device layer: what it took from the SDK information is handed on here, before
    // the request handler starts the device library with it.
    const SdkInfo &sdkInfo = CDataCenter::GetInstance()->m_stSdkInfo;
    if (sdkInfo.bHandOn)
        CQZConnect::GetInstance()->SetSDKInfo(&sdkInfo.Account, &sdkInfo.UserData, sdkInfo.bAccount);
    CDataCenter::GetInstance()->m_nSessionId = line.m_nSessionId;
    // Before any recording: this run holds its temporary folder, and what killed runs left becomes their files.
    const QString strAppDir = CDataCenter::GetInstance()->m_strAppDir;
    CRecordRecovery::Start(strAppDir, line.m_nSessionId, [strAppDir] {
        LocalInfo info{};
        LocalInfoFile::Read(info, strAppDir);
        return FixedText::ReadLocal(info.RecPath);
    });
    g_bPreviewMemoryBudget = QUORRIN_PREVIEW_BUDGET != 0;

    CPluginManage *pManage = new CPluginManage(line.m_strWndHandle, line.m_nSessionId, nullptr);
    std::unique_ptr<ListenThread> pListen = StartHostLink(line.m_strServerName, pManage);
    CRecordWorker::SetFailCallBack(&CPluginManage::RecordFailCallBack, pManage);
    // The logout of the host's disconnection, on the request thread, then the end of the event loop. It is not
    // waited for here: the logout waits for the GUI thread.
    QObject::connect(&closeSignals, &CloseSignals::closeSig, pManage, [pManage] {
        pManage->onDisconnect();
        QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
    }, Qt::QueuedConnection);

    const int nResult = app.exec();

    // Nothing may use an object after it is gone, and the GUI thread keeps running route-1 calls while it waits:
    // first the link ends (it may be waiting for the logout of the host's disconnection), then the request
    // thread, then the device library's threads, then the recordings that were still being finished when their
    // channels closed, then the data centre goes, and last the log is flushed.
    pListen->Stop();
    pManage->StopThread();
    CQZConnect::GetInstance()->Cleanup();
    if (!CRecordWorker::WaitForAll(std::chrono::seconds(30)))
        LOGW("a recording was still being finished at the end", "main");
    CRecordWorker::SetFailCallBack(nullptr, nullptr);
    if (!CRecordRecovery::Wait(std::chrono::seconds(30)))
        LOGW("the recordings of an earlier run were still being recovered at the end", "main");
    pListen.reset();
    CDataCenter::ReleaseInstance();
    styleFile.close();
    LightWeightLog::Flush();
    return nResult;
}
