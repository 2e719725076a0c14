// Keys written into an INI file that QSettings reads: the rest of the file kept, and readers of this process
// seeing each change at once.
#include "runtime/IniFileStore.h"
#include "tests/support/ScratchMount.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

namespace {

QVariant ReadBack(const QString &strPath, const QString &strKey)
{
    QSettings settings(strPath, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForLocale());
    return settings.value(strKey);
}

} // namespace

TEST(IniFileStore, SetsTheKeysAndKeepsTheRestOfTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString strPath = dir.filePath("ClientCfg.ini");
    {
        QFile file(strPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Enable]\nPrintLogEn=1\n[Path]\nRecPath=/old\nDownPath=\"/srv/Down, 2024\"\n[alarmtype]\nMotion=true\n");
    }
    QString strWhy;
    ASSERT_TRUE(IniFileStore::Store(strPath, QTextCodec::codecForLocale(),
                                    {{"Path/RecPath", QString::fromUtf8("/new/vid\xc3\xa9o")},
                                     {"Info/VideoType", 5},
                                     {"alarmtype/Blind", false}},
                                    strWhy))
        << strWhy.toStdString();
    EXPECT_EQ(ReadBack(strPath, "Path/RecPath").toString(), QString::fromUtf8("/new/vid\xc3\xa9o"));
    EXPECT_EQ(ReadBack(strPath, "Info/VideoType").toInt(), 5);
    EXPECT_FALSE(ReadBack(strPath, "alarmtype/Blind").toBool());
    EXPECT_TRUE(ReadBack(strPath, "alarmtype/Blind").isValid());
    EXPECT_TRUE(ReadBack(strPath, "alarmtype/Motion").toBool());
    EXPECT_EQ(ReadBack(strPath, "Enable/PrintLogEn").toInt(), 1);
    EXPECT_EQ(ReadBack(strPath, "Path/DownPath").toString(), "/srv/Down, 2024");
    // No file of the work is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"ClientCfg.ini"});

    // A file that Qt reads only in part (a section line without its "]") is written anew, whole.
    const QString strBroken = dir.filePath("Broken.ini");
    {
        QFile file(strBroken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Path\nRecPath=/a\n");
    }
    ASSERT_TRUE(IniFileStore::Store(strBroken, QTextCodec::codecForLocale(), {{"Info/ImageType", 1}}, strWhy))
        << strWhy.toStdString();
    EXPECT_EQ(ReadBack(strBroken, "Info/ImageType").toInt(), 1);
    EXPECT_EQ(ReadBack(strBroken, "Path/RecPath").toString(), "/a");

    // A file that is not there yet is made.
    const QString strNew = dir.filePath("New.ini");
    ASSERT_TRUE(IniFileStore::Store(strNew, QTextCodec::codecForLocale(), {{"Path/CapPath", "/c"}}, strWhy));
    EXPECT_EQ(ReadBack(strNew, "Path/CapPath").toString(), "/c");
}

// Qt's cache of a file takes it as unchanged while its size and time of change are: changes of the same size
// made one after the other, each read back by this process at once, are all seen. On a file system in memory
// (where no write waits for a disk) several changes fall within one millisecond.
TEST(IniFileStore, EachChangeIsSeenByTheNextReaderOfTheProcess)
{
    ScratchMount mount(4 * 1024 * 1024);
    if (!mount.Mounted())
        GTEST_SKIP() << mount.Why().toStdString();
    const QByteArray tempBefore = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(mount.Path()));
    struct Restore
    {
        QByteArray value;
        ~Restore() { value.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", value); }
    } restore{tempBefore};
    const QString strPath = QDir(mount.Path()).filePath("ClientCfg.ini");
    QString strWhy;
    for (int i = 0; i < 300; ++i) {
        const QString strValue = i % 2 == 0 ? "/even" : "/odd_";
        ASSERT_TRUE(IniFileStore::Store(strPath, QTextCodec::codecForLocale(), {{"Path/RecPath", strValue}}, strWhy))
            << strWhy.toStdString();
        ASSERT_EQ(ReadBack(strPath, "Path/RecPath").toString(), strValue) << i;
    }
}
