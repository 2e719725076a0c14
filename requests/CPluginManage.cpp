#include "requests/CPluginManage.h"

#include "device/CQZConnect.h"
#include "device/CTalk.h"
#include "device/VoiceCustom.h"
#include "requests/BrowseChooser.h"
#include "requests/CGetSystemStatus.h"
#include "requests/WebMessage.h"
#include "runtime/ResultCodes.h"
#include "runtime/FixedText.h"
#include "runtime/HandOffSync.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/SecretMask.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <exception>

namespace {
std::atomic<CPluginManage *> g_pInstance{nullptr};
std::atomic<Qt::HANDLE> g_guiThreadId{nullptr};

// The snapshot's reply carries its "SubType" (the channel) as "Channel".
constexpr int kSnapshotType = 19;

// The answer to a request whose handler met a field it could not read: the envelope as the handlers write it,
// a "SubType" that is no int copied as it stands, and "Ret" 1016.
WebMessage FailedReply(const Json::Value &request, int nMainType)
{
    const char *pSubKey = nMainType == kSnapshotType ? "Channel" : "SubMsg";
    const Json::Value &subType = request["SubType"];
    const bool bIntSubType = subType.isConvertibleTo(Json::intValue);
    WebMessage reply = WebMessage::Reply(nMainType, bIntSubType ? subType.asInt() : 0, request, pSubKey);
    if (!bIntSubType)
        reply[pSubKey] = subType;
    reply.SetRet(RET_FAIL);
    return reply;
}

QString ExceptionText(const std::exception_ptr &pError)
{
    try {
        std::rethrow_exception(pError);
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}
}

CPluginManage::CPluginManage(const QString &strWndHandle, int nSessionId, QObject *parent)
    : QObject(parent)
    , m_nSessionId(nSessionId)
    , m_strWndHandle(strWndHandle)
{
    g_guiThreadId = QThread::currentThreadId();
    g_pInstance = this;

    m_pSystemStatus = new CGetSystemStatus(this);
    connect(m_pSystemStatus, &CGetSystemStatus::sendSystemStatusSig, this, &CPluginManage::onSendSystemStatus);

    // The custom voice's events go to the page as they are.
    connect(VoiceCustom::GetInstance(), &VoiceCustom::VoiceRecordTime, this,
            [this](QString strEvent) { sendWebSocketMsg(strEvent, 1); });

    MainThreadObject *pMain = MainThreadObject::GetInstance();
    connect(this, &CPluginManage::returnToMainThreadSyncSig, pMain, &MainThreadObject::onReturnToMainThread,
            Qt::BlockingQueuedConnection);
    connect(this, &CPluginManage::returnToMainThreadAsyncSig, pMain, &MainThreadObject::onReturnToMainThread,
            Qt::QueuedConnection);
    // Work carried back from a library's thread has no request to answer: an exception in it is logged, and the
    // request thread's event loop, which it must not cross, goes on.
    connect(this, &CPluginManage::returnToThisThreadSig, this, [](std::function<void(void)> fn) {
        try {
            fn();
        } catch (...) {
            MainThreadObject::NoteFailedHandOff();
            LOGE("a function handed back to the request thread failed: " + ExceptionText(std::current_exception()),
                 "CPluginManage::returnToThisThreadSig");
        }
    });

    CQZConnect::GetInstance()->InitKorvex(&CPluginManage::DisconnectFunction, this);

    // The thread is owned, not parented, so that moving this object does not move the thread object as well.
    m_pThread = std::make_unique<QThread>();
    // Its timer can be stopped only on the request thread: the sampler is deleted there as the thread ends.
    connect(m_pThread.get(), &QThread::finished, m_pSystemStatus, &QObject::deleteLater);
    // The choosers still open end with the thread they belong to, on it, and none of them answers any more.
    connect(m_pThread.get(), &QThread::finished, this, [this] { BrowseChooser::CloseAll(this); }, Qt::DirectConnection);
    moveToThread(m_pThread.get());
    m_pThread->start(QThread::InheritPriority);
}

CPluginManage::~CPluginManage()
{
    StopThread();
    CPluginManage *pSelf = this;
    g_pInstance.compare_exchange_strong(pSelf, nullptr);
}

CPluginManage *CPluginManage::Instance()
{
    return g_pInstance;
}

Qt::HANDLE CPluginManage::GuiThreadId()
{
    return g_guiThreadId;
}

void CPluginManage::StopThread()
{
    if (!m_pThread)
        return;
    m_pThread->quit();
    // The request thread's last handler, timer or posted job may still wait on the GUI thread.
    MainThreadObject::ServeWhile([this] { m_pThread->wait(); });
    // Nothing serves route 1 from here on: a call made now returns at once, and one posted just before runs.
    if (QThread::currentThreadId() == g_guiThreadId.load()) {
        disconnect(this, &CPluginManage::returnToMainThreadSyncSig, nullptr, nullptr);
        QCoreApplication::sendPostedEvents(MainThreadObject::GetInstance(), QEvent::MetaCall);
    }
}

void CPluginManage::returnToMainThreadSync(std::function<void(void)> fn)
{
    if (QThread::currentThreadId() == g_guiThreadId.load()) {
        fn();
        return;
    }
    // An exception must not cross the GUI thread's event loop, which would end the process: it is carried back
    // and raised here, in the caller, whose guard answers it as its own.
    std::exception_ptr pError;
    const std::function<void(void)> guarded = [&fn, &pError] {
        try {
            fn();
        } catch (...) {
            MainThreadObject::NoteFailedHandOff();
            pError = std::current_exception();
            LOGE("a function run on the GUI thread failed: " + ExceptionText(pError), "CPluginManage::returnToMainThreadSync");
        }
    };
    HandOffSync::Blocking(guarded, [this](std::function<void(void)> announced) { emit returnToMainThreadSyncSig(announced); });
    if (pError)
        std::rethrow_exception(pError);
}

QByteArray CPluginManage::CutMessage(const QString &strMsg)
{
    QByteArray utf8 = strMsg.toUtf8();
    const int nZero = utf8.indexOf('\0');
    if (nZero >= 0)
        utf8.truncate(nZero);
    return FixedText::CutUtf8(utf8, kMaxMsgBytes);
}

bool CPluginManage::FitMessage(const QString &strMsg, QString &strText)
{
    const QString strTag = "CPluginManage::sendWebSocketMsg";
    QByteArray utf8 = strMsg.toUtf8();
    const int nZero = utf8.indexOf('\0');
    if (nZero >= 0)
        utf8.truncate(nZero);
    if (utf8.size() <= kMaxMsgBytes) {
        strText = nZero >= 0 ? QString::fromUtf8(utf8) : strMsg;
        return true;
    }
    // A text cut short would not parse, and the page would lose the whole message: its values give way instead.
    Json::Value value;
    WebMessage::FitReport report;
    if (!JsonText::Parse(utf8.toStdString(), value) || !WebMessage::Fit(value, kMaxMsgBytes, report)) {
        LOGE(QString("a message of %1 bytes that cannot be shortened is not sent").arg(utf8.size()), strTag);
        return false;
    }
    const std::string strFit = JsonText::Write(value);
    QStringList what;
    for (const WebMessage::FitReport::Cut &cut : report.cuts)
        what << QString("\"%1\" %2 -> %3").arg(QString::fromStdString(cut.strWhere)).arg(cut.nBefore).arg(cut.nAfter);
    for (const std::string &strNulled : report.nulled)
        what << QString("\"%1\" null").arg(QString::fromStdString(strNulled));
    LOGW(QString("message of %1 bytes shortened to %2: %3").arg(utf8.size()).arg(strFit.size()).arg(what.join(", ")),
         strTag);
    strText = QString::fromStdString(strFit);
    return true;
}

void CPluginManage::sendWebSocketMsg(const QString &strMsg, quint8 nLogFlag)
{
    // The log holds the text as it is sent.
    QString strText;
    if (!FitMessage(strMsg, strText))
        return;
    if (nLogFlag == 1 && LightWeightLog::GetInstance()->IsEnabled())
        LOGN(SecretMask::Mask(strText), "CPluginManage::sendWebSocketMsg");
    emit sendWebSocketMsgSig(strText);
}

const std::map<int, CPluginManage::Handler> &CPluginManage::HandlerTable()
{
    static const std::map<int, Handler> table = {
        {2, &CPluginManage::onMainMsgChangePage},
        {3, &CPluginManage::onMainMsgChangeSplit},
        {4, &CPluginManage::onMainMsgPreview},
        {5, &CPluginManage::onMainMsgPlayback},
        {6, &CPluginManage::onMainMsgColorPreview},
        {8, &CPluginManage::onMainMsgLogin},
        {9, &CPluginManage::onMainMsgLogout},
        {11, &CPluginManage::onMainMsgSetCurWnd},
        {12, &CPluginManage::onMainMsgWidgetStatus},
        {14, &CPluginManage::onMainMsgAlarmType},
        {15, &CPluginManage::onMainMsgQueryAlarmType},
        {16, &CPluginManage::onMainMsgTalk},
        {18, &CPluginManage::onMainMsgClientConfig},
        {19, &CPluginManage::onMainMsgCapturePicture},
        {20, &CPluginManage::onMainMsgVoiceCustom},
        {21, &CPluginManage::onMainMsgOnlineUpgrade},
        {22, &CPluginManage::onMainMsgCheckToolVersion},
        {24, &CPluginManage::onMainMsgElectPTZ},
        {25, &CPluginManage::onMainMsgLocalUpgrade},
        {28, &CPluginManage::onMainMsgReLogin},
        {29, &CPluginManage::onMainMsgScaleSwitch},
        {30, &CPluginManage::onMainMsgImportFile},
        {32, &CPluginManage::onMainMsgConsultAesKey},
        {34, &CPluginManage::onMainMsgSmartRule},
        {36, &CPluginManage::onMainMsgCheckWebVersion},
    };
    return table;
}

std::vector<int> CPluginManage::HandledMainTypes()
{
    std::vector<int> types;
    for (const auto &entry : HandlerTable())
        types.push_back(entry.first);
    return types;
}

void CPluginManage::onRecvWebsocketMsg(QString msg)
{
    const QString strTag = "CPluginManage::onRecvWebsocketMsg";
    const QByteArray text = CutMessage(msg);
    // The request is logged as far as it is read, so a huge one costs the log no more than 64 KiB.
    if (LightWeightLog::GetInstance()->IsEnabled())
        LOGN(QStringLiteral("RecvWeb msg=") + SecretMask::Mask(QString::fromUtf8(text)), strTag);
    Json::Value request;
    int nMainType = 0;
    bool bHandled = false;
    try {
        if (!JsonText::Parse(text.toStdString(), request))
            return;
        nMainType = request["MainType"].asInt();
        if (nMainType == 0)
            return;
        const auto it = HandlerTable().find(nMainType);
        if (it != HandlerTable().end()) {
            bHandled = true;
            (this->*(it->second))(request);
            return;
        }
        sendWebSocketMsg(WebMessage::Unsupported(request).ToQString(), 1);
    } catch (...) {
        LOGE("can not analyze json", strTag);
        // A request that reached its handler is answered, so that the page does not wait for it in vain; one
        // whose envelope cannot be read ("MainType" no int, not an object) has nothing to answer with.
        if (bHandled)
            sendWebSocketMsg(FailedReply(request, nMainType).ToQString(), 1);
    }
}

void CPluginManage::onDisconnect()
{
    onMainMsgLogout(Json::Value());
}
