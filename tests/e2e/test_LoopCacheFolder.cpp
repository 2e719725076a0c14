// The simulated device's loop cache, as the program run by root meets it in a temporary folder that other local
// users share: a device entry with a stream profile of its own (no loop of it is made at build time) plays from
// a loop encoded at run time. A cache folder that another user made, or that others may write, is not used and
// gets nothing; links planted in the program's own folder are not written through.

#include "platform/stream_block.h"
#include "standin/korvex/LoopCache.h"
#include "standin/korvex/MediaLibrary.h"
#include "tests/e2e/LiveSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUser = 65534;

// One channel whose sub stream has a profile of its own.
const QByteArray kOwnProfile = R"({"Devices": [{"Channels": 1, "Audio": {"Codec": "None", "SampleRate": 8000},
  "Sub": {"Codec": "H.264", "Width": 176, "Height": 144, "FrameRate": 10}}]})";

// The name of that stream's loop file.
QString LoopFile()
{
    VideoSpec spec;
    spec.nCodec = StreamBlock::kCodecH264;
    spec.nWidth = 176;
    spec.nHeight = 144;
    spec.nFrameRate = 10;
    spec.nLabel = 0;
    return QString::fromStdString(LoopCache::FileName(MediaLibrary::LoopKey(spec)));
}

QByteArray ReadAll(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Logs in, shows channel 0 from its sub stream and takes its picture; then ends the program.
QImage PlayOwnProfile(LiveSession &session)
{
    if (!session.Start())
        return QImage();
    const HostMessage reply = session.Reply(LiveSession::Open("open", 0, 1));
    if (!reply || reply["Ret"].asInt() != 100)
        return QImage();
    const QImage picture = session.Snapshot(0);
    EXPECT_TRUE(session.Plugin().Finish());
    EXPECT_EQ(session.Plugin().ExitCode(), 0);
    return picture;
}

} // namespace

TEST(LoopCacheFolder, AFolderAnotherUserCouldWriteIsNotUsed)
{
    struct Case
    {
        const char *pName;
        bool bTemporaryFolder;      // the program's own in the temporary folder, else the one KORVEX_LOOP_CACHE names
        mode_t nMode;
        bool bOtherOwner;
        const char *pWhy;
    };
    const Case cases[] = {
        {"named, open to everyone", false, 0777, false, "writable by others (mode 0777)"},
        {"named, another user's", false, 0700, true, "owned by user 65534"},
        {"in the temporary folder, made by another user before", true, 0777, true, "owned by user 65534"},
    };
    for (const Case &c : cases) {
        QTemporaryDir scratch;
        ASSERT_TRUE(scratch.isValid());
        LiveSession session("x64", kOwnProfile);
        HostedPlugin &plugin = session.Plugin();
        QString strFolder;
        if (c.bTemporaryFolder) {
            // The host's local server lies in the same temporary folder, so the program keeps the test's.
            const QByteArray temp = qgetenv("TMPDIR");
            strFolder = QString::fromStdString(LoopCache::TemporaryFolder(
                temp.isEmpty() ? "/tmp" : temp.toStdString(),
                QFileInfo(plugin.App().Path()).canonicalFilePath().toStdString()));
        } else {
            strFolder = scratch.filePath("loops");
            plugin.SetEnv("KORVEX_LOOP_CACHE", strFolder);
        }
        ASSERT_TRUE(QDir().mkdir(strFolder)) << c.pName;
        // The program's folder in the shared temporary folder goes with the test.
        const std::unique_ptr<QString, std::function<void(QString *)>> removal(
            &strFolder, [](QString *pFolder) { QDir(*pFolder).removeRecursively(); });
        const QByteArray path = strFolder.toLocal8Bit();
        ASSERT_EQ(::chmod(path.constData(), c.nMode), 0) << c.pName;
        if (c.bOtherOwner) {
            ASSERT_EQ(::chown(path.constData(), kOtherUser, kOtherUser), 0) << c.pName << " (the tests run as root)";
        }

        const QImage picture = PlayOwnProfile(session);
        EXPECT_EQ(picture.size(), QSize(176, 144)) << c.pName << ": the stream plays from a loop made in memory";
        EXPECT_TRUE(QDir(strFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty())
            << c.pName << ": nothing written into it";
        EXPECT_TRUE(plugin.Output().contains("loop cache " + path + " not used: " + c.pWhy))
            << c.pName << "\n" << plugin.Output().toStdString();
    }
}

TEST(LoopCacheFolder, LinksPlantedInTheCacheAreNotFollowed)
{
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString strFolder = scratch.filePath("loops");
    ASSERT_TRUE(QDir().mkdir(strFolder));
    ASSERT_EQ(::chmod(strFolder.toLocal8Bit().constData(), 0700), 0);
    // Where the links would have the program write: a file of root's, and a file it would make anywhere.
    const QString strVictim = scratch.filePath("victim"), strMade = scratch.filePath("made-by-root");
    {
        QFile file(strVictim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    const QString strLoop = QDir(strFolder).filePath(LoopFile());
    ASSERT_TRUE(QFile::link(strVictim, strLoop));
    ASSERT_TRUE(QFile::link(strMade, strLoop + ".lock"));

    LiveSession session("x64", kOwnProfile);
    session.Plugin().SetEnv("KORVEX_LOOP_CACHE", strFolder);
    EXPECT_EQ(PlayOwnProfile(session).size(), QSize(176, 144));
    EXPECT_EQ(ReadAll(strVictim), "keep me");
    EXPECT_FALSE(QFileInfo::exists(strMade)) << "a file made through the lock's link";
    EXPECT_FALSE(QFileInfo(strLoop).isSymLink()) << "the loop's link was replaced by the loop";
    EXPECT_TRUE(QFileInfo(strLoop).isFile());
}
