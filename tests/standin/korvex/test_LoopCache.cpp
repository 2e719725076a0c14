// The loop cache: the loops made at build time are found without encoding; a run-time cache folder is used only
// when it is this user's alone (made so when missing), its files are never written through a planted link, and
// a file that does not read back is made again.

#include "platform/stream_block.h"
#include "standin/korvex/LoopCache.h"
#include "standin/korvex/MediaLibrary.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUser = 65534;

// A loop of two small frames, made by an encoder that counts its calls.
struct CountingEncoder
{
    int nCalls = 0;
    LoopCache::Encode Encode()
    {
        return [this](VideoLoop &loop, std::string &) {
            ++nCalls;
            loop = VideoLoop();
            loop.nCodec = StreamBlock::kCodecH264;
            loop.nWidth = 16;
            loop.nHeight = 16;
            loop.nFrameRate = 10;
            loop.frames.resize(2);
            loop.frames[0].bKeyFrame = true;
            loop.frames[0].data = {0, 0, 0, 1, 0x67, 1, 2, 3};
            loop.frames[1].data = {0, 0, 0, 1, 0x41, 4, 5};
            return true;
        };
    }
};

mode_t ModeOf(const QString &strPath)
{
    struct stat st = {};
    return ::lstat(strPath.toLocal8Bit().constData(), &st) == 0 ? st.st_mode : 0;
}

QByteArray ReadAll(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class LoopCacheTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        const char *pBefore = std::getenv("KORVEX_LOOP_CACHE");
        m_bHadCache = pBefore != nullptr;
        m_strBefore = pBefore ? pBefore : "";
        m_strFolder = m_root.filePath("cache");
        UseFolder(m_strFolder);
        // A key of no loop made at build time, of this test alone.
        m_strKey = "test " + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + " " +
                   std::to_string(::getpid());
    }
    void TearDown() override
    {
        if (m_bHadCache)
            setenv("KORVEX_LOOP_CACHE", m_strBefore.c_str(), 1);
        else
            unsetenv("KORVEX_LOOP_CACHE");
    }
    static void UseFolder(const QString &strFolder)
    {
        setenv("KORVEX_LOOP_CACHE", strFolder.toLocal8Bit().constData(), 1);
    }
    QString LoopPath() const { return QDir(m_strFolder).filePath(QString::fromStdString(LoopCache::FileName(m_strKey))); }
    // Gets the loop twice; the encoder's calls.
    int GetTwice()
    {
        CountingEncoder encoder;
        for (int i = 0; i < 2; ++i) {
            VideoLoop loop;
            std::string strError;
            EXPECT_TRUE(LoopCache::Get(m_strKey, loop, encoder.Encode(), strError)) << strError;
            EXPECT_EQ(loop.frames.size(), 2u);
            EXPECT_EQ(loop.nWidth, 16);
        }
        return encoder.nCalls;
    }

    QTemporaryDir m_root;
    QString m_strFolder;
    std::string m_strKey;
    bool m_bHadCache = false;
    std::string m_strBefore;
};

TEST_F(LoopCacheTest, TheLoopsMadeAtBuildTimeNeedNoEncoding)
{
    UseFolder("");
    for (int nStreamType : {0, 1}) {
        VideoSpec spec;
        spec.nCodec = nStreamType == 0 ? StreamBlock::kCodecH265 : StreamBlock::kCodecH264;
        spec.nWidth = nStreamType == 0 ? 1280 : 640;
        spec.nHeight = nStreamType == 0 ? 720 : 360;
        spec.nFrameRate = nStreamType == 0 ? 25 : 15;
        spec.nLabel = 15;
        VideoLoop loop;
        std::string strError;
        const bool bFound = LoopCache::Get(MediaLibrary::LoopKey(spec), loop,
                                           [](VideoLoop &, std::string &strWhy) {
                                               strWhy = "encoded at run time";
                                               return false;
                                           },
                                           strError);
        EXPECT_TRUE(bFound) << spec.Key() << ": " << strError << " (in " << LoopCache::BuiltFolder() << ")";
        EXPECT_EQ(loop.nWidth, spec.nWidth);
        EXPECT_EQ(static_cast<int>(loop.frames.size()), spec.nFrameRate * MediaLibrary::kLoopSeconds);
    }
    const QFileInfo built(QString::fromStdString(LoopCache::BuiltFolder()));
    EXPECT_TRUE(built.isDir());
    EXPECT_EQ(ModeOf(built.filePath()) & 0777, 0700u);
}

TEST_F(LoopCacheTest, AMissingFolderIsMadeForThisUserAlone)
{
    EXPECT_EQ(GetTwice(), 1) << "encoded once, then read back";
    EXPECT_EQ(ModeOf(m_strFolder) & 07777, 0700u);
    EXPECT_TRUE(S_ISREG(ModeOf(LoopPath())));
    EXPECT_EQ(ModeOf(LoopPath()) & 0777, 0600u);
}

TEST_F(LoopCacheTest, AFolderNotThisUsersAloneIsNotUsed)
{
    struct Case
    {
        const char *pName;
        std::function<bool(const QString &)> make;  // false when it cannot be made here
        const char *pWhy;                           // what OpenFolder says
    };
    const Case cases[] = {
        {"open to everyone",
         [](const QString &p) { return QDir().mkdir(p) && ::chmod(p.toLocal8Bit().constData(), 0777) == 0; },
         "writable by others (mode 0777)"},
        {"the shared temporary folder's mode",
         [](const QString &p) { return QDir().mkdir(p) && ::chmod(p.toLocal8Bit().constData(), 01777) == 0; },
         "writable by others (mode 1777)"},
        {"writable by its group",
         [](const QString &p) { return QDir().mkdir(p) && ::chmod(p.toLocal8Bit().constData(), 0770) == 0; },
         "writable by others (mode 0770)"},
        {"another user's",
         [](const QString &p) {
             return QDir().mkdir(p) && ::chmod(p.toLocal8Bit().constData(), 0700) == 0 &&
                    ::chown(p.toLocal8Bit().constData(), kOtherUser, kOtherUser) == 0;
         },
         "owned by user 65534"},
        {"a link to a folder of this user",
         [](const QString &p) { return QDir().mkdir(p + ".real") && QFile::link(p + ".real", p); },
         "a link or no folder"},
        {"a file", [](const QString &p) { return QFile(p).open(QIODevice::WriteOnly); }, "a link or no folder"},
    };
    int n = 0;
    for (const Case &c : cases) {
        m_strFolder = m_root.filePath(QString("case%1").arg(++n));
        UseFolder(m_strFolder);
        if (!c.make(m_strFolder)) {
            ADD_FAILURE() << c.pName << ": cannot be made here (the tests run as root)";
            continue;
        }
        std::string strWhy;
        EXPECT_EQ(LoopCache::OpenFolder(m_strFolder.toStdString(), true, strWhy), -1) << c.pName;
        EXPECT_EQ(strWhy, c.pWhy) << c.pName;
        EXPECT_EQ(GetTwice(), 2) << c.pName << ": encoded each time, kept nowhere";
        const QString strReal = QFileInfo(m_strFolder).isSymLink() ? m_strFolder + ".real" : m_strFolder;
        if (QFileInfo(strReal).isDir()) {
            EXPECT_TRUE(QDir(strReal).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty())
                << c.pName << ": nothing written into it";
        }
    }
}

TEST_F(LoopCacheTest, PlantedLinksAreNeverWrittenThrough)
{
    ASSERT_TRUE(QDir().mkdir(m_strFolder));
    // Links to a file of this user, and to where a file would be made: at the loop's name, at its lock's, and at
    // the temporary name a writer that names it by its process alone would use.
    const QString strVictim = m_root.filePath("victim"), strMade = m_root.filePath("made");
    {
        QFile file(strVictim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not yours");
    }
    ASSERT_TRUE(QFile::link(strVictim, LoopPath()));
    ASSERT_TRUE(QFile::link(strMade, LoopPath() + ".lock"));
    ASSERT_TRUE(QFile::link(strVictim, LoopPath() + ".tmp" + QString::number(::getpid())));
    EXPECT_EQ(GetTwice(), 1);
    EXPECT_EQ(ReadAll(strVictim), "not yours");
    EXPECT_FALSE(QFileInfo::exists(strMade));
    EXPECT_TRUE(S_ISREG(ModeOf(LoopPath()))) << "the loop's link is replaced by the loop";
    EXPECT_TRUE(S_ISLNK(ModeOf(LoopPath() + ".lock"))) << "the lock's link is left as it is";
}

TEST_F(LoopCacheTest, AFileThatDoesNotReadBackIsMadeAgain)
{
    ASSERT_EQ(GetTwice(), 1);
    const QByteArray whole = ReadAll(LoopPath());
    ASSERT_GT(whole.size(), 20);
    struct Case
    {
        const char *pName;
        QByteArray content;
    };
    const Case cases[] = {
        {"cut short", whole.left(whole.size() - 3)},
        {"another key's", "another key\n" + whole.mid(whole.indexOf('\n') + 1)},
        {"one byte more", whole + "x"},
        {"empty", QByteArray()},
    };
    for (const Case &c : cases) {
        QFile file(LoopPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.content);
        file.close();
        EXPECT_EQ(GetTwice(), 1) << c.pName;
        EXPECT_EQ(ReadAll(LoopPath()), whole) << c.pName;
    }
}
