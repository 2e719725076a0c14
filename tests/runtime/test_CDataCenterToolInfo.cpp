#include "runtime/CDataCenter.h"
#include "runtime/FixedText.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

QStringList g_debugLines;

void CollectDebug(QtMsgType nType, const QMessageLogContext &, const QString &strMsg)
{
    if (nType == QtDebugMsg)
        g_debugLines << strMsg;
}

// Captures the debug output while it lives.
class DebugCapture
{
public:
    DebugCapture() { g_debugLines.clear(); m_previous = qInstallMessageHandler(CollectDebug); }
    ~DebugCapture() { qInstallMessageHandler(m_previous); }
    QStringList Lines() const { return g_debugLines; }

private:
    QtMessageHandler m_previous = nullptr;
};

// Sets or clears the update host for one scope.
class UpdateHost
{
public:
    explicit UpdateHost(const char *pHost)
    {
        if (pHost)
            qputenv("QUORRIN_UPDATE_HOST", pHost);
        else
            qunsetenv("QUORRIN_UPDATE_HOST");
    }
    ~UpdateHost() { qunsetenv("QUORRIN_UPDATE_HOST"); }
};

void WriteIni(const QString &strPath, const std::map<QString, QVariant> &values)
{
    QSettings settings(strPath, QSettings::IniFormat);
    settings.clear();
    for (const auto &value : values)
        settings.setValue(value.first, value.second);
    settings.sync();
    ASSERT_EQ(settings.status(), QSettings::NoError);
}

QByteArray Text(const char *pField, std::size_t nWidth) { return FixedText::Read(pField, nWidth); }

// The web version address without its random number, which it checks to be 0-32767.
QString WebAddrWithoutRandom(const ToolInfo &info)
{
    const QString strAddr = QString::fromLocal8Bit(Text(info.WebVersionAddr, sizeof info.WebVersionAddr));
    static const QRegularExpression random("random=([0-9]+)$");
    const QRegularExpressionMatch match = random.match(strAddr);
    EXPECT_TRUE(match.hasMatch()) << strAddr.toStdString();
    if (!match.hasMatch())
        return strAddr;
    const int nRandom = match.captured(1).toInt();
    EXPECT_GE(nRandom, 0);
    EXPECT_LE(nRandom, 32767);
    return strAddr.left(match.capturedStart(1));
}

} // namespace

// Which INI file is read and which addresses are built, by OEM id and setup name.
TEST(CDataCenterToolInfo, FileAndAddressTable)
{
    QTemporaryDir appDir;
    ASSERT_TRUE(appDir.isValid());
    const QString strDir = appDir.path();
    WriteIni(strDir + "/OmbrixVersion.ini", {{"Tool/version", "generic"}});
    WriteIni(strDir + "/O18OmbrixVersion.ini", {{"Tool/version", "o18"}});
    WriteIni(strDir + "/MySetup.ini", {{"Tool/version", "mysetup"}});
    WriteIni(strDir + "/OmbrixSetup.ini", {{"Tool/version", "never read"}});

    struct Case
    {
        const char *pHost; // nullptr: no QUORRIN_UPDATE_HOST
        const char *pOemId;
        const char *pSetupName;
        const char *pVersion;
        const char *pVersionFileAddr;
        const char *pUpdateLogAddr;
        const char *pWebAddr; // up to the random number
    };
    const Case cases[] = {
        {"127.0.0.1", "O18", "MySetup", "o18", "http://127.0.0.1:8080/ocx/O18OmbrixVersion.ini", "",
         "http://127.0.0.1:8080/web/O18/O18Info.txt?random="},
        // The OEM's own file is missing: the defaults, and the addresses are still built.
        {"127.0.0.1", "O1", "", "", "http://127.0.0.1:8080/ocx/O1OmbrixVersion.ini", "",
         "http://127.0.0.1:8080/web/O1/O1Info.txt?random="},
        {"127.0.0.1", "O23", "MySetup", "", "http://127.0.0.1:8080/ocx/O23OmbrixVersion.ini", "",
         "http://127.0.0.1:8080/web/O23/O23Info.txt?random="},
        {"127.0.0.1", "O60", "MySetup", "mysetup", "http://127.0.0.1:8080/ocx/MySetup.ini",
         "http://127.0.0.1:8080/ocx/MySetupUpdateLog", "http://127.0.0.1:8080/web/O60/O60Info.txt?random="},
        {"127.0.0.1", "", "OmbrixSetup", "generic", "http://127.0.0.1:8080/ocx/OmbrixVersion.ini",
         "http://127.0.0.1:8080/ocx/ombrixupdatelog", "http://127.0.0.1:8080/web/Web/Info.txt?random="},
        {"127.0.0.1", "o18", "", "generic", "http://127.0.0.1:8080/ocx/OmbrixVersion.ini",
         "http://127.0.0.1:8080/ocx/ombrixupdatelog", "http://127.0.0.1:8080/web/o18/o18Info.txt?random="},
        {"127.0.0.1", "O180", "NoSuchSetup", "", "http://127.0.0.1:8080/ocx/NoSuchSetup.ini",
         "http://127.0.0.1:8080/ocx/NoSuchSetupUpdateLog", "http://127.0.0.1:8080/web/O180/O180Info.txt?random="},
        {nullptr, "", "", "generic", "http://update.quorrin.invalid:8080/ocx/OmbrixVersion.ini",
         "http://update.quorrin.invalid:8080/ocx/ombrixupdatelog",
         "http://update.quorrin.invalid:8080/web/Web/Info.txt?random="},
        {"127.0.0.1:18080", "O10", "", "", "http://127.0.0.1:18080/ocx/O10OmbrixVersion.ini", "",
         "http://127.0.0.1:18080/web/O10/O10Info.txt?random="},
        // A name that leaves the folder, here or on the server, is refused: the default file and addresses.
        {"127.0.0.1", "", "../MySetup", "generic", "http://127.0.0.1:8080/ocx/OmbrixVersion.ini",
         "http://127.0.0.1:8080/ocx/ombrixupdatelog", "http://127.0.0.1:8080/web/Web/Info.txt?random="},
        {"127.0.0.1", "", "sub/MySetup", "generic", "http://127.0.0.1:8080/ocx/OmbrixVersion.ini",
         "http://127.0.0.1:8080/ocx/ombrixupdatelog", "http://127.0.0.1:8080/web/Web/Info.txt?random="},
        {"127.0.0.1", "", "..\\MySetup", "generic", "http://127.0.0.1:8080/ocx/OmbrixVersion.ini",
         "http://127.0.0.1:8080/ocx/ombrixupdatelog", "http://127.0.0.1:8080/web/Web/Info.txt?random="},
        {"127.0.0.1", "", "..", "generic", "http://127.0.0.1:8080/ocx/OmbrixVersion.ini",
         "http://127.0.0.1:8080/ocx/ombrixupdatelog", "http://127.0.0.1:8080/web/Web/Info.txt?random="},
        {"127.0.0.1", "O18", "../MySetup", "o18", "http://127.0.0.1:8080/ocx/O18OmbrixVersion.ini", "",
         "http://127.0.0.1:8080/web/O18/O18Info.txt?random="},
    };

    // One instance for every case: each login overwrites what the one before it read.
    CDataCenter dataCenter(strDir);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pOemId) + " / " + c.pSetupName);
        UpdateHost host(c.pHost);
        EXPECT_EQ(dataCenter.InitToolInfo(c.pOemId, c.pSetupName), 0);
        const ToolInfo &info = dataCenter.m_stToolInfo;
        EXPECT_EQ(Text(info.ToolVersion, sizeof info.ToolVersion), QByteArray(c.pVersion));
        EXPECT_EQ(Text(info.VersionFileAddr, sizeof info.VersionFileAddr), QByteArray(c.pVersionFileAddr));
        EXPECT_EQ(Text(info.UpdateLogAddr, sizeof info.UpdateLogAddr), QByteArray(c.pUpdateLogAddr));
        EXPECT_EQ(WebAddrWithoutRandom(info), QString(c.pWebAddr));
        EXPECT_EQ(info.PrintLogEn, 1);
        EXPECT_EQ(Text(info.ToolDate, sizeof info.ToolDate), QByteArray());
    }
}

// What the keys of the INI file give, and how long texts are cut.
TEST(CDataCenterToolInfo, IniKeysTable)
{
    QTemporaryDir appDir;
    ASSERT_TRUE(appDir.isValid());
    UpdateHost host("127.0.0.1");

    const QString strAddr100 = "http://10.1.2.3:8080/" + QString(100 - 27, 'a') + "/v.ini";
    ASSERT_EQ(strAddr100.size(), 100);
    // 125 ASCII bytes, then a euro sign (3 bytes) that does not fit in the 127 bytes of the field.
    const QString strAddrLong = "http://10.1.2.3/" + QString(125 - 16, 'b') + QString::fromUtf8("\xe2\x82\xac") + "tail";
    const QString strVersionLong = QString(62, 'v') + QString::fromUtf8("\xc3\xa9") + "x";

    struct Case
    {
        const char *pName;
        std::map<QString, QVariant> values;
        QByteArray version, date, versionFileAddr;
        int nPrintLogEn;
        QString strWebAddr; // up to the random number
    };
    const std::vector<Case> cases = {
        {"web address without slash",
         {{"Tool/version", "2.1.0"}, {"Tool/date", "2024-05-01"}, {"Tool/webFileAddr", "http://10.0.0.5/webs"}},
         "2.1.0", "2024-05-01", "http://127.0.0.1:8080/ocx/OmbrixVersion.ini", 1,
         "http://10.0.0.5/webs/Web/Info.txt?random="},
        {"web address with slash", {{"Tool/webFileAddr", "http://10.0.0.5/webs/"}}, "", "",
         "http://127.0.0.1:8080/ocx/OmbrixVersion.ini", 1, "http://10.0.0.5/webs/Web/Info.txt?random="},
        {"version file address of 100 characters", {{"Tool/versionFileAddr", strAddr100}, {"Enable/PrintLogEn", 0}},
         "", "", strAddr100.toUtf8(), 0, "http://127.0.0.1:8080/web/Web/Info.txt?random="},
        {"long texts cut at a character boundary",
         {{"Tool/versionFileAddr", strAddrLong}, {"Tool/version", strVersionLong}, {"Tool/date", "2024-05-01 12:00:00"},
          {"Enable/PrintLogEn", 3}},
         QByteArray(62, 'v'), "2024-05-01 12:0", strAddrLong.toUtf8().left(125), 3,
         "http://127.0.0.1:8080/web/Web/Info.txt?random="},
    };

    CDataCenter dataCenter(appDir.path());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        WriteIni(appDir.path() + "/OmbrixVersion.ini", c.values);
        DebugCapture debug;
        EXPECT_EQ(dataCenter.InitToolInfo("", ""), 0);
        const ToolInfo &info = dataCenter.m_stToolInfo;
        EXPECT_EQ(Text(info.ToolVersion, sizeof info.ToolVersion), c.version);
        EXPECT_EQ(Text(info.ToolDate, sizeof info.ToolDate), c.date);
        EXPECT_EQ(Text(info.VersionFileAddr, sizeof info.VersionFileAddr), c.versionFileAddr);
        EXPECT_EQ(info.PrintLogEn, c.nPrintLogEn);
        EXPECT_EQ(WebAddrWithoutRandom(info), c.strWebAddr);

        const QString strPrinted = "Server Web Version url:" +
                                   QString::fromLocal8Bit(Text(info.WebVersionAddr, sizeof info.WebVersionAddr));
        EXPECT_EQ(debug.Lines().contains(strPrinted), c.nPrintLogEn != 0) << debug.Lines().join("|").toStdString();
    }
}
