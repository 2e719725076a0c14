#include "tests/support/HostedPlugin.h"

#include "runtime/JsonText.h"
#include "tests/support/WaitUntil.h"
#include "tools/plugin-host/PluginHost.h"

#include <QFile>

#include <csignal>
#include <sys/types.h>

namespace {
bool SameJson(const Json::Value &a, const Json::Value &b)
{
    return JsonText::Write(a) == JsonText::Write(b);
}

bool IsInt(const Json::Value &value, int nExpected)
{
    return value.isInt() && value.asInt() == nExpected;
}
} // namespace

const Json::Value &HostMessage::operator[](const char *pKey) const
{
    static const Json::Value null;
    return value.isObject() ? value[pKey] : null;
}

HostedPlugin::HostedPlugin()
    : HostedPlugin(Options())
{
}

HostedPlugin::HostedPlugin(const Options &options)
    : m_options(options)
    , m_app(options.strVariant)
    , m_env(QProcessEnvironment::systemEnvironment())
{
    if (!m_env.contains("QT_QPA_PLATFORM"))
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
    m_strOutputFile = m_app.Path() + ".output";
}

HostedPlugin::~HostedPlugin()
{
    if (!m_pHost)
        return;
    if (!HasExited()) {
        CloseLink();
        if (!WaitExit())
            m_pHost->Kill();
    }
    m_pHost.reset();
}

void HostedPlugin::SetEnv(const QString &strName, const QString &strValue)
{
    m_env.insert(strName, strValue);
}

bool HostedPlugin::Start()
{
    if (!App().IsValid() || m_pHost)
        return false;
    PluginHost::Options options;
    options.strProgram = App().Program();
    options.args << QString::number(m_options.nSessionId) << "{server}" << App().Path();
    if (!m_options.strWndHandle.isEmpty() || !m_options.strSdkInfo.isEmpty())
        options.args << m_options.strWndHandle;
    if (!m_options.strSdkInfo.isEmpty())
        options.args << m_options.strSdkInfo;
    options.strWorkingDir = App().Path();
    options.env = m_env;
    options.strOutputFile = m_strOutputFile;
    m_pHost = std::make_unique<PluginHost>(options);
    QObject::connect(m_pHost.get(), &PluginHost::messageSig, [this](const QByteArray &payload) { onMessage(payload); });
    if (!m_pHost->Start()) {
        m_pHost.reset();
        return false;
    }
    return WaitUntil([this] { return m_pHost->IsLinked() || m_pHost->HasFinished(); }, kWaitMs)
        && m_pHost->IsLinked();
}

void HostedPlugin::onMessage(const QByteArray &payload)
{
    Received received;
    received.message.text = payload;
    if (!JsonText::Parse(payload.toStdString(), received.message.value))
        received.message.value = Json::Value();
    const Json::Value &value = received.message.value;
    received.bLoad = value.isObject() && IsInt(value["MainEvent"], 0) && IsInt(value["SubEvent"], 5);
    m_received.append(received);
}

Json::Value HostedPlugin::NewRequest(int nMainType, int nSubType, const Json::Value &msgId)
{
    Json::Value request(Json::objectValue);
    request["MainType"] = nMainType;
    request["SubType"] = nSubType;
    request["MsgID"] = msgId;
    return request;
}

void HostedPlugin::Send(const QByteArray &text)
{
    if (m_pHost)
        m_pHost->Send(text);
}

void HostedPlugin::Send(const Json::Value &request)
{
    std::string strText = JsonText::Write(request);
    if (!strText.empty() && strText.back() == '\n')
        strText.pop_back();
    Send(QByteArray::fromStdString(strText));
}

HostMessage HostedPlugin::Take(bool bLoad, const std::function<bool(const HostMessage &)> &pred, int nTimeoutMs)
{
    HostMessage found;
    WaitUntil([&] {
        for (Received &received : m_received) {
            if (received.bTaken || received.bLoad != bLoad || !pred(received.message))
                continue;
            received.bTaken = true;
            found = received.message;
            return true;
        }
        return false;
    }, nTimeoutMs);
    return found;
}

HostMessage HostedPlugin::WaitReply(const Json::Value &msgId, int nTimeoutMs)
{
    return Take(false, [&](const HostMessage &message) {
        return message.value.isObject() && message.value.isMember("Msg") && message.value.isMember("MsgID")
            && SameJson(message.value["MsgID"], msgId);
    }, nTimeoutMs);
}

HostMessage HostedPlugin::Request(const Json::Value &request, int nTimeoutMs)
{
    Send(request);
    return WaitReply(request.isObject() ? request["MsgID"] : Json::Value(), nTimeoutMs);
}

HostMessage HostedPlugin::WaitEvent(int nMainEvent, int nSubEvent, int nTimeoutMs)
{
    const bool bLoad = nMainEvent == 0 && nSubEvent == 5;
    return Take(bLoad, [&](const HostMessage &message) {
        return message.value.isObject() && IsInt(message.value["MainEvent"], nMainEvent)
            && IsInt(message.value["SubEvent"], nSubEvent);
    }, nTimeoutMs);
}

HostMessage HostedPlugin::WaitMessage(const std::function<bool(const HostMessage &)> &pred, int nTimeoutMs)
{
    return Take(false, pred, nTimeoutMs);
}

bool HostedPlugin::Sync(int nTimeoutMs)
{
    return static_cast<bool>(Request(NewRequest(1, 0, "host-sync-" + std::to_string(++m_nSyncCount)), nTimeoutMs));
}

QList<HostMessage> HostedPlugin::Messages() const
{
    QList<HostMessage> messages;
    for (const Received &received : m_received)
        if (!received.bLoad)
            messages << received.message;
    return messages;
}

QList<HostMessage> HostedPlugin::LoadEvents() const
{
    QList<HostMessage> messages;
    for (const Received &received : m_received)
        if (received.bLoad)
            messages << received.message;
    return messages;
}

QByteArray HostedPlugin::Output()
{
    QFile file(m_strOutputFile);
    if (file.open(QIODevice::ReadOnly) && file.seek(m_nOutputRead)) {
        const QByteArray more = file.readAll();
        m_output += more;
        m_nOutputRead += more.size();
    }
    return m_output;
}

bool HostedPlugin::WaitForLog(const QByteArray &text, int nTimeoutMs)
{
    return WaitUntil([&] { return Output().contains(text); }, nTimeoutMs);
}

void HostedPlugin::CloseLink()
{
    if (m_pHost)
        m_pHost->CloseLink();
}

bool HostedPlugin::Signal(int nSignal)
{
    return m_pHost && !HasExited() && m_pHost->ProgramPid() > 0
        && kill(static_cast<pid_t>(m_pHost->ProgramPid()), nSignal) == 0;
}

bool HostedPlugin::WaitExit(int nTimeoutMs)
{
    return m_pHost && WaitUntil([this] { return m_pHost->HasFinished(); }, nTimeoutMs);
}

bool HostedPlugin::HasExited() const
{
    return m_pHost && m_pHost->HasFinished();
}

qint64 HostedPlugin::ProgramPid() const
{
    return m_pHost && !m_pHost->HasFinished() ? m_pHost->ProgramPid() : 0;
}

int HostedPlugin::ExitCode() const
{
    return m_pHost ? m_pHost->ExitCode() : -1;
}

bool HostedPlugin::Crashed() const
{
    return m_pHost && m_pHost->Crashed();
}
