// The request path: CPluginManage::onRecvWebsocketMsg on the request thread, every handler of the dispatch table
// included. Input: the text of one request as the host link delivers it (UTF-8). Checks on every message sent: at
// most 65535 bytes, valid JSON in the writer's compact form (sorted keys, a final line feed); a reply carries
// "Msg", "SubMsg" (the snapshot's "Channel"), "MsgID" and an integer "Ret" (the chooser's answer "nRet" instead),
// echoing the request's "MainType", "SubType" (or a fixed 0, as the alarm-type replies do, or 1, as the local
// upgrade's do) and "MsgID" where it had them (shortened, or null, where the send path made a reply fit the
// link); an event carries integer "MainEvent" and "SubEvent". Text that does not parse, a non-object, a
// "MainType" that is no int or is 0 get no reply; a "MainType" without a handler gets exactly one reply with "Ret"
// 1020. No window is used off the GUI thread (as the windows' stand-in notes it). Half of the mutations give a
// value of the request another JSON type, so that the handlers meet fields they cannot read; an exception that
// escaped a handler or a hand-off would end the process (Qt does not let one cross its event loops), and one
// that the hand-off's guard caught is a fault as well.
//
// The process is set up once as the program sets itself up (offscreen Qt application, log, data centre, the request
// handler with the device library initialised, on its own thread); each request is handled on the request thread
// while the GUI thread serves the hand-offs to the windows, and the harness waits until both are idle. The
// simulated device library knows one small device, and most requests meet it logged in (the harness logs in again by
// request a few requests after an input ended the login), so that the live, view, playback and download handlers go
// past their login checks. Nothing outside the process is reached and nothing waits: the library's clock is held,
// so streams, playbacks, downloads and talks open but deliver nothing; the update server's address is a closed
// local port (version checks fail at once); the windows are offscreen. No program can be started: a seccomp filter
// refuses every new process (threads are allowed), so a chooser ("Browse") or "ffmpeg" fails to start at once (Qt
// reports the refused fork as a crash) and is answered as such. The harness runs from an application folder of its
// own (it starts itself again from a copy of its program in a new folder, in /dev/shm where there is one, so that
// the handlers' writes of "ClientCfg.ini" never wait for a disk): the log is switched off there, and what a handler
// writes there is removed after each input, so that every request meets the same folder.

#include "FuzzSupport.h"

#include "requests/CPluginManage.h"
#include "runtime/CDataCenter.h"
#include "runtime/JsonText.h"
#include "runtime/LightWeightLog.h"
#include "runtime/MainThreadObject.h"
#include "runtime/ResultCodes.h"
#include "standin/korvex/KorvexControl.h"
#include "standin/windows/GuiThreadCheck.h"
#include "windows/PluginRegion.h"

// The classic reader is deprecated in this jsoncpp; it is the one the dispatcher parses requests with.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <json/reader.h>
#pragma GCC diagnostic pop

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

CPluginManage *g_pManage = nullptr;
std::set<int> g_handled;
// Requests for a handler, recent first: a handler may answer after the harness stopped waiting for it.
std::deque<Json::Value> g_recentHandled;
// The keys of the page's requests among the seeds, which the mutator adds to requests.
std::vector<std::string> g_fieldNames;

// What the program sends, collected from any thread. Never destroyed: the request thread's load event goes on
// sending while the process ends, after the harness's own statics are gone.
struct Collected
{
    std::mutex mutex;
    std::vector<QString> messages;
};

Collected &Sent()
{
    static Collected *s_pCollected = new Collected;
    return *s_pCollected;
}

size_t SentCount()
{
    std::lock_guard<std::mutex> lock(Sent().mutex);
    return Sent().messages.size();
}

std::vector<QString> TakeMessages()
{
    std::lock_guard<std::mutex> lock(Sent().mutex);
    std::vector<QString> messages;
    messages.swap(Sent().messages);
    return messages;
}

// Runs the function on the request thread and returns when it has run; meanwhile the GUI thread runs the
// hand-offs to the windows.
void RunOnRequestThread(const std::function<void()> &fn)
{
    QEventLoop loop;
    QMetaObject::invokeMethod(
        g_pManage,
        [&] {
            fn();
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    loop.exec();
}

// Until a round trip through both threads brings no new message (at most a few rounds).
void Settle()
{
    for (int i = 0; i < 4; ++i) {
        const size_t nBefore = SentCount();
        QCoreApplication::processEvents();
        RunOnRequestThread([] {});
        if (SentCount() == nBefore)
            return;
    }
}

bool ParseRequest(const std::string &strText, Json::Value &root)
{
    try {
        Json::Reader reader;
        return reader.parse(strText, root, false);
    } catch (...) {
        // The dispatcher's guard catches what the reader throws (a nesting too deep).
        return false;
    }
}

bool ParseStrict(const std::string &strText, Json::Value &root)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    // A reply may nest one level deeper than the deepest request the dispatcher's reader takes.
    builder.settings_["stackLimit"] = 4000;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string strErrors;
    return reader->parse(strText.data(), strText.data() + strText.size(), &root, &strErrors);
}

void CollectNames(const Json::Value &value, std::set<std::string> &names)
{
    if (value.isObject()) {
        for (const std::string &strName : value.getMemberNames()) {
            names.insert(strName);
            CollectNames(value[strName], names);
        }
    } else if (value.isArray()) {
        for (const Json::Value &item : value)
            CollectNames(item, names);
    }
}

// A value of any of the kinds a request may carry where a handler expects another.
Json::Value AnyKindOfValue(std::minstd_rand &random)
{
    switch (random() % 12) {
    case 0: return Json::Value("1");
    case 1: return Json::Value("");
    case 2: return Json::Value(Json::arrayValue);
    case 3: {
        Json::Value array(Json::arrayValue);
        array.append(1);
        return array;
    }
    case 4: return Json::Value(Json::objectValue);
    case 5: {
        Json::Value object(Json::objectValue);
        object["a"] = 1;
        return object;
    }
    case 6: return Json::Value(1e300);
    case 7: return Json::Value(Json::UInt64(4294967296u));
    case 8: return Json::Value(Json::Int64(-9223372036854775807 - 1));
    case 9: return Json::Value(1.5);
    case 10: return Json::Value(true);
    default: return Json::Value();
    }
}

// Every value of the tree, the root aside, as somewhere to put another.
void CollectPlaces(Json::Value &value, std::vector<Json::Value *> &places)
{
    if (value.isObject()) {
        for (const std::string &strName : value.getMemberNames()) {
            Json::Value &member = value[strName];
            places.push_back(&member);
            CollectPlaces(member, places);
        }
    } else if (value.isArray()) {
        for (Json::Value &item : value) {
            places.push_back(&item);
            CollectPlaces(item, places);
        }
    }
}

// Gives one value of the request (the envelope's included) another kind, or adds a known key, at the top or
// in an object of the request, with a value of any kind.
void MutateType(Json::Value &request, std::minstd_rand &random)
{
    std::vector<Json::Value *> places;
    CollectPlaces(request, places);
    if (places.empty() || (random() % 3 == 0 && !g_fieldNames.empty())) {
        std::vector<Json::Value *> objects = {&request};
        for (Json::Value *pPlace : places) {
            if (pPlace->isObject())
                objects.push_back(pPlace);
        }
        Json::Value &target = *objects[random() % objects.size()];
        target[g_fieldNames[random() % g_fieldNames.size()]] = AnyKindOfValue(random);
        return;
    }
    *places[random() % places.size()] = AnyKindOfValue(random);
}

// Numbers compare by value, whatever type the reader gave them (10000000000000 is unsigned to one reader and
// signed to the other; a handler writes "Msg" as an int from a "MainType" such as 7.0); the rest by structure.
bool SameValue(const Json::Value &a, const Json::Value &b)
{
    const auto isNumber = [](const Json::Value &v) {
        return v.type() == Json::intValue || v.type() == Json::uintValue || v.type() == Json::realValue;
    };
    if (isNumber(a) && isNumber(b)) {
        if (a.type() == Json::realValue || b.type() == Json::realValue)
            return a.asDouble() == b.asDouble();
        const bool bNegA = a.type() == Json::intValue && a.asLargestInt() < 0;
        const bool bNegB = b.type() == Json::intValue && b.asLargestInt() < 0;
        if (bNegA || bNegB)
            return bNegA && bNegB && a.asLargestInt() == b.asLargestInt();
        return a.asLargestUInt() == b.asLargestUInt();
    }
    if (a.type() != b.type() || a.size() != b.size())
        return false;
    if (a.isArray()) {
        for (Json::ArrayIndex i = 0; i < a.size(); ++i) {
            if (!SameValue(a[i], b[i]))
                return false;
        }
        return true;
    }
    if (a.isObject()) {
        for (const std::string &strKey : a.getMemberNames()) {
            if (!b.isMember(strKey) || !SameValue(a[strKey], b[strKey]))
                return false;
        }
        return true;
    }
    return a == b;
}

// A value as it reads back from the writer's text. The writer puts U+FFFD for what is no character (a lone
// surrogate such as "\ude00" in a request), so a copied value is compared in that form.
Json::Value Written(const Json::Value &value)
{
    Json::Value wrapper(Json::arrayValue);
    wrapper.append(value);
    Json::Value back;
    FUZZ_CHECK(ParseStrict(JsonText::Write(wrapper), back) && back.size() == 1, "the writer's text does not read back");
    return back[0];
}

// The snapshot's reply carries the channel (the request's "SubType") in place of "SubMsg".
const char *SubKey(const Json::Value &reply)
{
    return reply["Msg"] == 19 && !reply.isMember("SubMsg") ? "Channel" : "SubMsg";
}

// A value of a message that the send path made fit the link: the same, or its texts shortened to starts of
// themselves, or null in their place.
bool FittedFrom(const Json::Value &got, const Json::Value &want)
{
    if (got.isNull() || SameValue(got, want))
        return true;
    if (got.isString() && want.isString())
        return want.asString().compare(0, got.asString().size(), got.asString()) == 0;
    if (got.type() != want.type() || got.size() != want.size())
        return false;
    if (got.isArray()) {
        for (Json::ArrayIndex i = 0; i < got.size(); ++i)
            if (!FittedFrom(got[i], want[i]))
                return false;
        return true;
    }
    if (got.isObject()) {
        for (const std::string &strKey : got.getMemberNames())
            if (!want.isMember(strKey) || !FittedFrom(got[strKey], want[strKey]))
                return false;
        return true;
    }
    return false;
}

// Whether a reply to the request may have been made to fit the link: it is at the limit, or what it copies from
// the request alone passes it.
bool MayBeFitted(const Json::Value &request, size_t nReplyBytes)
{
    constexpr size_t kEnvelope = 64;
    const size_t nCopied = JsonText::Write(request["MsgID"]).size() + JsonText::Write(request["MainType"]).size() +
                           JsonText::Write(request["SubType"]).size();
    return nReplyBytes + 12 >= CPluginManage::kMaxMsgBytes || nCopied + kEnvelope >= CPluginManage::kMaxMsgBytes;
}

// A reply echoes the request: a copied "MainType", "SubType" and "MsgID" for an unhandled type, the two types as
// ints from a handler; "MsgID" is null when the request had none. A reply made to fit the link echoes them as the
// send path shortened them.
bool Echoes(const Json::Value &reply, size_t nReplyBytes, const Json::Value &request, bool bHandled)
{
    const bool bFitted = MayBeFitted(request, nReplyBytes);
    auto same = [bFitted](const Json::Value &got, const Json::Value &want) {
        return bFitted ? FittedFrom(got, want) : SameValue(got, want);
    };
    const Json::Value &msgId = request.isMember("MsgID") ? request["MsgID"] : Json::Value();
    if (!same(reply["MsgID"], Written(msgId)))
        return false;
    if (!bHandled)
        return same(reply["Msg"], Written(request["MainType"])) && same(reply["SubMsg"], Written(request["SubType"]));
    if (!SameValue(reply["Msg"], Json::Value(request["MainType"].asInt())))
        return false;
    // Some handlers answer with a fixed "SubMsg": 0 ("MainType" 14 and 15), 1 (the local upgrade, 25).
    const int nFixedSub = reply["Msg"] == 25 ? 1 : 0;
    if (request.isMember("SubType") && request["SubType"].isConvertibleTo(Json::intValue) &&
        !SameValue(reply[SubKey(reply)], Json::Value(request["SubType"].asInt())) &&
        !SameValue(reply["SubMsg"], Json::Value(nFixedSub)))
        return false;
    return true;
}

struct Sorted
{
    std::vector<Json::Value> replies;
    std::vector<size_t> replyBytes; // the size of each reply's text
};

// Checks what holds for every message and sorts out the replies (events are checked and left).
Sorted CheckMessages(const std::vector<QString> &messages, const std::string &strRequest)
{
    Sorted out;
    for (const QString &strMsg : messages) {
        const QByteArray utf8 = strMsg.toUtf8();
        const std::string strText = utf8.toStdString();
        const std::string strWhat = "request " + strRequest.substr(0, 300) + "\n  message " + strText.substr(0, 300);
        const std::string strSize = "\n  is " + std::to_string(utf8.size()) + " bytes";
        Json::Value msg;
        FUZZ_CHECK(ParseStrict(strText, msg), strWhat + "\n  is not JSON");
        FUZZ_CHECK(msg.isObject(), strWhat + "\n  is not an object");
        FUZZ_CHECK(utf8.size() <= CPluginManage::kMaxMsgBytes, strWhat + strSize);
        FUZZ_CHECK(JsonText::Write(msg) == strText, strWhat + "\n  is not in the compact form: " + JsonText::Write(msg).substr(0, 300));
        if (msg.isMember("MainEvent")) {
            FUZZ_CHECK(msg["MainEvent"].isInt() && msg["SubEvent"].isInt(), strWhat + "\n  event types are no ints");
            continue;
        }
        for (const char *pKey : {"Msg", SubKey(msg), "MsgID"})
            FUZZ_CHECK(msg.isMember(pKey), strWhat + "\n  lacks " + pKey);
        // The answer of a chooser carries its result as "nRet" and no "Ret".
        const char *pRet = msg.isMember("nRet") && !msg.isMember("Ret") ? "nRet" : "Ret";
        FUZZ_CHECK(msg[pRet].isInt(), strWhat + "\n  no integer \"Ret\"");
        out.replies.push_back(msg);
        out.replyBytes.push_back(static_cast<size_t>(utf8.size()));
    }
    return out;
}

// The one device of the simulated library: the built-in address, few channels and small pictures, so that what
// a request opens stays cheap.
const char *const kDevices =
    "{\"Devices\": [{\"IP\": \"127.0.0.1\", \"Port\": 34567, \"User\": \"admin\", \"Password\": \"\","
    " \"Channels\": 4, \"Main\": {\"Codec\": \"H.264\", \"Width\": 64, \"Height\": 48, \"FrameRate\": 5},"
    " \"Sub\": {\"Codec\": \"H.264\", \"Width\": 64, \"Height\": 48, \"FrameRate\": 5}}]}\n";
const char *const kLoginRequest =
    "{\"MainType\":8,\"SubType\":0,\"MsgID\":\"fuzz-login\",\"Browse\":2,"
    "\"Device\":{\"LoginType\":0,\"IP\":\"127.0.0.1\",\"Port\":34567,\"User\":\"admin\",\"Password\":\"\"}}";

void ResetAppFolder();

// A login makes the plug-in window with its 68 panes, which costs as much as a few dozen other requests: once an
// input has ended the login, the next handled requests up to this many meet the device logged out (they test the
// handlers' login checks), and then the harness logs in again.
constexpr int kRequestsBetweenLogins = 8;
int g_nRequestsLoggedOut = kRequestsBetweenLogins;

// Logs in to the device by request when no login is open (the first time, or some requests after an input logged
// out, logged in elsewhere or failed a login). The messages on the way are checked as any; the login must succeed.
void EnsureLoggedIn()
{
    if (KorvexControl::OpenLogins() > 0 || ++g_nRequestsLoggedOut < kRequestsBetweenLogins)
        return;
    g_nRequestsLoggedOut = 0;
    RunOnRequestThread([] { g_pManage->onRecvWebsocketMsg(QString::fromUtf8(kLoginRequest)); });
    Settle();
    const Sorted sorted = CheckMessages(TakeMessages(), kLoginRequest);
    bool bLoggedIn = false;
    for (const Json::Value &reply : sorted.replies)
        bLoggedIn = bLoggedIn || (reply["MsgID"] == "fuzz-login" && reply["Ret"].asInt() == RET_SUCCESS);
    FUZZ_CHECK(bLoggedIn && KorvexControl::OpenLogins() > 0, "the harness's own login failed");
    ResetAppFolder();
    Json::Value request;
    ParseRequest(kLoginRequest, request);
    g_recentHandled.push_front(request);
}

// Sleeps of the request thread return at once. With the library's clock held nothing can arrive while a handler
// waits (a snapshot's settling time), so such a wait only costs the run its time; other threads sleep as asked.
thread_local bool t_bSkipSleeps = false;

} // namespace

extern "C" int nanosleep(const struct timespec *pRequest, struct timespec *pRemain)
{
    if (t_bSkipSleeps)
        return 0;
    return static_cast<int>(syscall(SYS_nanosleep, pRequest, pRemain));
}

extern "C" int clock_nanosleep(clockid_t nClock, int nFlags, const struct timespec *pRequest, struct timespec *pRemain)
{
    if (t_bSkipSleeps)
        return 0;
    return syscall(SYS_clock_nanosleep, nClock, nFlags, pRequest, pRemain) == 0 ? 0 : errno;
}

namespace {

const char *const kAppDirVariable = "QUORRIN_FUZZ_APP_DIR";

// Starts the harness again from a copy (or a hard link) of its program in a new folder, which then is its
// application folder: "<program>-app-<pid>-XXXXXX" in /dev/shm, else beside the program. Returns only when it
// already runs from such a folder, or when that cannot be made.
void RunFromOwnFolder(char **argv)
{
    if (qEnvironmentVariableIsSet(kAppDirVariable))
        return;
    char exe[4096];
    const ssize_t nLen = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (nLen <= 0)
        return;
    exe[nLen] = 0;
    const std::string strExe(exe);
    const std::string strName = strExe.substr(strExe.rfind('/') + 1);
    const std::string strSuffix = "-app-" + std::to_string(getpid()) + "-XXXXXX";
    std::string strDir = "/dev/shm/" + strName + strSuffix;
    if (access("/dev/shm", W_OK) != 0 || !mkdtemp(&strDir[0])) {
        strDir = strExe + strSuffix;
        if (!mkdtemp(&strDir[0]))
            return;
    }
    const std::string strLinked = strDir + "/" + strName;
    if (link(strExe.c_str(), strLinked.c_str()) != 0 &&
        !QFile::copy(QString::fromLocal8Bit(strExe.c_str()), QString::fromLocal8Bit(strLinked.c_str())))
        return;
    setenv(kAppDirVariable, strDir.c_str(), 1);
    execv(strLinked.c_str(), argv);
}

// The application folder back to its program alone (only when it is the harness's own folder).
void ResetAppFolder()
{
    static const QString strDir = qEnvironmentVariable(kAppDirVariable);
    if (strDir.isEmpty() || QFileInfo(strDir).canonicalFilePath() != QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath())
        return;
    static const QString strProgram = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QDir dir(strDir);
    for (const QFileInfo &entry : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        if (entry.fileName() == strProgram)
            continue;
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            dir.remove(entry.fileName());
    }
}

// From here on the process may make threads but no process: clone without CLONE_THREAD or CLONE_VM (a fork),
// clone with CLONE_VFORK (a spawn), fork, vfork and exec fail with EPERM; clone3, whose flags a filter cannot
// read, fails with ENOSYS, so that the C library makes its threads with clone. The sanitizers' own helpers that
// share the memory (the leak checker's tracer) still run; the symbolizer cannot start, so reports give module
// offsets (rerun the input with QUORRIN_FUZZ_PROGRAMS=1 for symbols).
void RefuseNewProcesses()
{
    if (qEnvironmentVariableIsSet("QUORRIN_FUZZ_PROGRAMS"))
        return;
    const unsigned nDeny = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fork, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_vfork, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execve, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_execveat, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, nDeny),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_VFORK, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD | CLONE_VM, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, nDeny),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    // Every thread of the process, the ones Qt has already started included.
    FUZZ_CHECK(prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                   syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0,
               "the filter that refuses new processes could not be set");
}

void RemoveAppFolder()
{
    const QString strDir = qEnvironmentVariable(kAppDirVariable);
    if (!strDir.isEmpty() && QFileInfo(strDir).canonicalFilePath() == QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath())
        QDir(strDir).removeRecursively();
}

} // namespace

// The allocation and free stacks ASan keeps are cut to two frames: every request takes the reader and writer
// down other recursion paths, and with whole stacks their store grows by about 0.4 MB per thousand inputs,
// which would end a long run on its memory limit. Rerun a kept input with ASAN_OPTIONS=malloc_context_size=30
// for the whole stacks.
extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=2";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    RunFromOwnFolder(*argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("QUORRIN_UPDATE_HOST", "127.0.0.1:1");
    qunsetenv("PAVLINE_SOUND_WAV");
    qunsetenv("PAVLINE_MIC_WAV");
    qunsetenv("KORVEX_JOURNAL");
    qunsetenv("KORVEX_RECEIVED");

    // As main does it; the application and the handler live until the process ends.
    static int s_nArgc = 1;
    static char *s_argv[] = {(*argv)[0], nullptr};
    new QApplication(s_nArgc, s_argv);
    std::atexit(RemoveAppFolder);
    const QDir appDir(QCoreApplication::applicationDirPath());
    ResetAppFolder();
    // Read once, at the logger's and the device library's start; the files go with the first reset.
    QFile config(appDir.filePath("ClientCfg.ini"));
    if (config.open(QIODevice::WriteOnly))
        config.write("[Enable]\nPrintLogEn=0\n");
    config.close();
    QFile devices(appDir.filePath("devices.json"));
    if (devices.open(QIODevice::WriteOnly))
        devices.write(kDevices);
    devices.close();
    qputenv("KORVEX_DEVICES", appDir.filePath("devices.json").toLocal8Bit());
    LightWeightLog::CreateInstance(appDir.path());
    CDataCenter::CreateInstance(appDir.path())->m_nSessionId = 1;
    MainThreadObject::RegisterMetaTypes();
    qRegisterMetaType<PluginRegion>("PluginRegion");
    RefuseNewProcesses();
    g_pManage = new CPluginManage(QString(), 1, nullptr);
    QObject::connect(g_pManage, &CPluginManage::sendWebSocketMsgSig, [](const QString &strMsg) {
        std::lock_guard<std::mutex> lock(Sent().mutex);
        Sent().messages.push_back(strMsg);
    });

    // Streams, playbacks and downloads open and then wait for a clock that does not move.
    KorvexControl::HoldClock();
    RunOnRequestThread([] { t_bSkipSleeps = true; });
    EnsureLoggedIn();

    const std::vector<int> handled = CPluginManage::HandledMainTypes();
    g_handled.insert(handled.begin(), handled.end());
    std::vector<std::string> seeds = {
        "{\"MainType\":1,\"SubType\":0,\"MsgID\":1}",
        "{\"MainType\":7,\"SubType\":3,\"MsgID\":\"abc\"}",
        "{\"MainType\":0,\"MsgID\":2}",
        "{\"MainType\":-4.0,\"SubType\":[1,{\"a\":null}],\"MsgID\":{\"x\":1.5e3}} // note",
        "{\"MainType\":\"8\"}",
        "[1,2,3]",
        "not json",
        "{\"MainType\":99,\"MsgID\":\"\\u00e9\\ud83d\\ude00\"}",
    };
    // Replies too long for the link, which the send path makes fit, from requests within the run's 16384 bytes:
    // an id of control characters written back as six bytes each, and a copied "SubType" of numbers written
    // longer than they came.
    seeds.push_back("{\"MainType\":7,\"SubType\":3,\"MsgID\":\"" + std::string(11000, '\x01') + "\"}");
    std::string strNumbers;
    for (int i = 0; i < 3600; ++i)
        strNumbers += i == 0 ? "0.1" : ",0.1";
    seeds.push_back("{\"MainType\":1,\"SubType\":[" + strNumbers + "],\"MsgID\":\"m\"}");
    for (int nType : handled) {
        for (int nSub = 0; nSub <= 50; ++nSub)
            seeds.push_back("{\"MainType\":" + std::to_string(nType) + ",\"SubType\":" + std::to_string(nSub) +
                            ",\"MsgID\":" + std::to_string(nSub) + "}");
    }
    // Requests as the page sends them, for the fuzzer to vary.
    const char *const kPageRequests[] = {
        kLoginRequest,
        "{\"MainType\":4,\"SubType\":0,\"MsgID\":1,\"Channel\":0,\"Stream\":1}",
        "{\"MainType\":4,\"SubType\":0,\"MsgID\":2,\"Channel\":260,\"Stream\":0}",
        "{\"MainType\":4,\"SubType\":10,\"MsgID\":3,\"Channel\":1}",
        "{\"MainType\":4,\"SubType\":1,\"MsgID\":4,\"Channel\":0}",
        "{\"MainType\":19,\"SubType\":0,\"MsgID\":5,\"Channel\":2}",
        "{\"MainType\":5,\"SubType\":34,\"MsgID\":6,\"Mode\":2,\"SelectWnd\":0,\"Stream\":1,\"FileInfo\":"
        "[{\"Channel\":0,\"Wnd\":0,\"FileType\":0,\"BeginTime\":\"2024-01-15 10:00:00\",\"EndTime\":"
        "\"2024-01-15 10:01:00\"}]}",
        "{\"MainType\":5,\"SubType\":40,\"MsgID\":7,\"Channel\":0,\"Cmd\":16,\"Param\":0}",
        "{\"MainType\":5,\"SubType\":39,\"MsgID\":8,\"Channel\":0,\"Stream\":1,\"FileType\":0,\"Event\":\"*\","
        "\"FileInfo\":[{\"FileName\":\"a.h264\",\"FileLength\":\"0x00010000\",\"BeginTime\":\"2024-01-15 10:00:00\","
        "\"EndTime\":\"2024-01-15 10:01:00\"}]}",
        "{\"MainType\":9,\"SubType\":0,\"MsgID\":9}",
        "{\"MainType\":28,\"SubType\":0,\"MsgID\":10,\"IPAddress\":\"127.0.0.1\"}",
        "{\"MainType\":4,\"SubType\":3,\"MsgID\":11,\"Type\":1,\"Value\":50}",
        "{\"MainType\":4,\"SubType\":8,\"MsgID\":12,\"Channel\":0}",
        "{\"MainType\":4,\"SubType\":18,\"MsgID\":13,\"Ratio\":1}",
        "{\"MainType\":6,\"SubType\":0,\"MsgID\":14,\"Channel\":0,\"Stream\":1}",
        "{\"MainType\":12,\"SubType\":0,\"MsgID\":15,\"Pos\":{\"Left\":0,\"Top\":0,\"Width\":640,\"Height\":360}}",
        "{\"MainType\":16,\"SubType\":0,\"MsgID\":16,\"Channel\":0,\"AutoTestEnabled\":false,"
        "\"SendInterval\":40,\"SampleRate\":8000}",
        "{\"MainType\":18,\"SubType\":50,\"MsgID\":17,\"RecPath\":\"r\",\"CapPath\":\"c\",\"DownPath\":\"d\","
        "\"RecordType\":1,\"ImageType\":0,\"VideoType\":0}",
        "{\"MainType\":14,\"SubType\":0,\"MsgID\":18,\"alarmtype\":{\"motion\":true}}",
        "{\"MainType\":20,\"SubType\":3,\"MsgID\":19,\"Channel\":0,\"FilePurpose\":1,\"SampleRate\":8000}",
        "{\"MainType\":22,\"SubType\":0,\"MsgID\":20,\"Language\":\"English\"}",
        "{\"MainType\":24,\"SubType\":0,\"MsgID\":21,\"Channel\":0,\"Step\":4}",
        "{\"MainType\":24,\"SubType\":6,\"MsgID\":22,\"Channel\":0,\"Preset\":1}",
        "{\"MainType\":25,\"SubType\":1,\"MsgID\":23,\"FileName\":\"fw.bin\"}",
        "{\"MainType\":29,\"SubType\":0,\"MsgID\":24,\"Speed\":2}",
        "{\"MainType\":30,\"SubType\":2,\"MsgID\":25,\"Channel\":0}",
        "{\"MainType\":34,\"SubType\":1,\"MsgID\":26,\"Channel\":0,\"AreaNum\":1,\"LineNum\":1,\"ShowRule\":1,"
        "\"PedRule\":[{\"Enable\":1,\"RuleType\":0,\"RuleLine\":{\"AlarmDirect\":0,\"Pts\":{\"StartX\":0,"
        "\"StartY\":0,\"StopX\":100,\"StopY\":100}},\"RuleRegion\":{\"AlarmDirect\":0,\"PtsNum\":1,"
        "\"Pts\":[{\"X\":1,\"Y\":2}]}}]}",
    };
    seeds.insert(seeds.end(), std::begin(kPageRequests), std::end(kPageRequests));
    std::set<std::string> fieldNames;
    for (const char *pRequest : kPageRequests) {
        Json::Value request;
        if (ParseRequest(pRequest, request))
            CollectNames(request, fieldNames);
    }
    g_fieldNames.assign(fieldNames.begin(), fieldNames.end());
    WriteSeeds(seeds);
    return 0;
}

extern "C" size_t LLVMFuzzerMutate(uint8_t *pData, size_t nSize, size_t nMaxSize);

// Half of the mutations keep a request's structure and change the type of one of its values (or add a key
// the page's requests carry, with a value of any type): a handler meets a text, an array, an object or a number
// no int holds where it reads an int, which the byte-level mutations reach only by chance. The rest are
// libFuzzer's own.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *pData, size_t nSize, size_t nMaxSize, unsigned int nSeed)
{
    std::minstd_rand random(nSeed);
    Json::Value request;
    if (random() % 2 == 0 &&
        ParseRequest(std::string(reinterpret_cast<const char *>(pData), nSize), request) && request.isObject()) {
        MutateType(request, random);
        std::string strText = JsonText::Write(request);
        strText.pop_back();
        if (strText.size() <= nMaxSize) {
            std::memcpy(pData, strText.data(), strText.size());
            return strText.size();
        }
    }
    return LLVMFuzzerMutate(pData, nSize, nMaxSize);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    const QString strMsg = QString::fromUtf8(reinterpret_cast<const char *>(pData), static_cast<int>(nSize));
    const std::string strRequest(reinterpret_cast<const char *>(pData), nSize);

    // What the dispatcher makes of it.
    Json::Value request;
    const bool bParsed = ParseRequest(CPluginManage::CutMessage(strMsg).toStdString(), request);
    bool bAnswered = false;   // a "MainType" without a handler: one reply with "Ret" 1020
    bool bHandled = false;    // a handler decides
    if (bParsed && request.isObject()) {
        const Json::Value &mainType = static_cast<const Json::Value &>(request)["MainType"];
        const int nMainType = mainType.isConvertibleTo(Json::intValue) ? mainType.asInt() : 0;
        bHandled = nMainType != 0 && g_handled.count(nMainType) > 0;
        bAnswered = nMainType != 0 && !bHandled;
    }

    RunOnRequestThread([&] { g_pManage->onRecvWebsocketMsg(strMsg); });
    // Only a handler answers or writes anything after it has returned.
    if (bHandled) {
        Settle();
        ResetAppFolder();
    }
    const Sorted sorted = CheckMessages(TakeMessages(), strRequest);
    // Every field is read on the request thread: nothing handed to the GUI thread (or back) ends with an
    // exception, which the hand-off's guard would answer, but only after part of the work was done.
    FUZZ_CHECK(MainThreadObject::FailedHandOffs() == 0,
               "request " + strRequest.substr(0, 300) + "\n  ended a hand-off function with an exception");
    // The windows are used on the GUI thread only, whatever a handler does.
    FUZZ_CHECK(GuiThreadCheck::Violations() == 0, "request " + strRequest.substr(0, 300) + "\n  used a window off the GUI thread: " +
                                                      GuiThreadCheck::Reports().front());

    if (bHandled) {
        g_recentHandled.push_front(request);
        if (g_recentHandled.size() > 16)
            g_recentHandled.pop_back();
    }
    size_t nForThis = 0;
    for (size_t nReply = 0; nReply < sorted.replies.size(); ++nReply) {
        const Json::Value &reply = sorted.replies[nReply];
        const size_t nBytes = sorted.replyBytes[nReply];
        if ((bAnswered || bHandled) && Echoes(reply, nBytes, request, bHandled)) {
            ++nForThis;
            if (bAnswered)
                FUZZ_CHECK(reply["Ret"].asInt() == RET_UNSUPPORTED, "request " + strRequest + "\n  not answered with 1020");
            continue;
        }
        bool bLate = false;
        for (size_t i = bHandled ? 1 : 0; i < g_recentHandled.size() && !bLate; ++i)
            bLate = Echoes(reply, nBytes, g_recentHandled[i], true);
        FUZZ_CHECK(bLate, "request " + strRequest.substr(0, 300) + "\n  got a reply that does not echo it: " +
                              JsonText::Write(reply).substr(0, 300));
    }
    if (bAnswered)
        FUZZ_CHECK(nForThis == 1, "request " + strRequest.substr(0, 300) + "\n  got " +
                                                           std::to_string(nForThis) + " replies, not one");
    if (!bAnswered && !bHandled)
        FUZZ_CHECK(nForThis == 0, "request " + strRequest.substr(0, 300) + "\n  needs no reply");
    if (bHandled)
        EnsureLoggedIn();
    return 0;
}
