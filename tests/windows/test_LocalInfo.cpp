#include "runtime/FixedText.h"
#include "runtime/LightWeightLog.h"
#include "windows/LocalInfoFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace {

QString Folder(const char *pField) { return QString::fromLocal8Bit(FixedText::Read(pField, 260)); }

QByteArray ReadFile(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString &strPath, const QByteArray &content)
{
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// The keys of the file as a fresh reader with the locale's encoding sees them.
std::map<QString, QString> ReadBack(const QString &strPath)
{
    QSettings settings(strPath, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForLocale());
    std::map<QString, QString> values;
    for (const QString &strKey : settings.allKeys())
        values[strKey] = settings.value(strKey).toString();
    return values;
}

} // namespace

// "ClientCfg.ini" missing, partial and complete: the record filled, and what the file holds afterwards.
TEST(LocalInfo, LoadTable)
{
    struct Case
    {
        const char *pName;
        std::optional<QByteArray> file; // nullopt: no file
        // Expected record; "@" stands for the application directory.
        QString strCap, strRec, strDown;
        int nCapture, nRecord, nImage, nVideo;
        // Expected keys afterwards ("@" again); nullopt: the file is left byte for byte.
        std::optional<std::map<QString, QString>> after;
    };
    const QByteArray complete = "[Path]\nCapPath=/data/cap\nRecPath=/data/rec\nDownPath=/data/down\n\n"
                                "[Info]\nCaptureType=1\nRecordType=2\nImageType=1\nVideoType=3\n";
    const std::vector<Case> cases = {
        {"no file", std::nullopt, "@/Device/Capture", "@/Device/Record", "@/Device/Download", 0, 0, 0, 0,
         std::map<QString, QString>{{"Path/CapPath", "@/Device/Capture"},
                                    {"Path/RecPath", "@/Device/Record"},
                                    {"Path/DownPath", "@/Device/Download"}}},
        {"partial", QByteArray("[Enable]\nPrintLogEn=0\n\n[Path]\nRecPath=/data/rec\nCapPath=\n\n"
                               "[Info]\nRecordType=2\nCaptureType=abc\n\n[alarmtype]\n1=motion\n"),
         "@/Device/Capture", "/data/rec", "@/Device/Download", 0, 2, 0, 0,
         std::map<QString, QString>{{"Enable/PrintLogEn", "0"},
                                    {"Path/CapPath", "@/Device/Capture"},
                                    {"Path/RecPath", "/data/rec"},
                                    {"Path/DownPath", "@/Device/Download"},
                                    {"Info/RecordType", "2"},
                                    {"Info/CaptureType", "abc"},
                                    {"alarmtype/1", "motion"}}},
        {"complete", complete, "/data/cap", "/data/rec", "/data/down", 1, 2, 1, 3, std::nullopt},
        // A comma written by hand without quotes: the folder is the text as written, never the default.
        {"commas in folders", QByteArray("[Path]\nCapPath=/srv/media/Pictures, 2024\nRecPath=/r,x\nDownPath=/d\n"),
         "/srv/media/Pictures, 2024", "/r,x", "/d", 0, 0, 0, 0, std::nullopt},
        {"a comma in one folder, the others missing or empty",
         QByteArray("[Path]\nCapPath=/srv/media/Pictures, 2024\nRecPath=\n\n[Info]\nImageType=1\n"),
         "/srv/media/Pictures, 2024", "@/Device/Record", "@/Device/Download", 0, 0, 1, 0,
         std::map<QString, QString>{{"Path/CapPath", "/srv/media/Pictures, 2024"},
                                    {"Path/RecPath", "@/Device/Record"},
                                    {"Path/DownPath", "@/Device/Download"},
                                    {"Info/ImageType", "1"}}},
        {"folders in the locale's encoding",
         QByteArray("[Path]\nCapPath=/home/\xe7\x94\xa8\xe6\x88\xb7/cap\nRecPath=/r\nDownPath=/d\n"),
         QString::fromUtf8("/home/\xe7\x94\xa8\xe6\x88\xb7/cap"), "/r", "/d", 0, 0, 0, 0, std::nullopt},
    };

    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        QTemporaryDir appDir;
        ASSERT_TRUE(appDir.isValid());
        const QString strDir = appDir.path();
        const QString strIni = strDir + "/ClientCfg.ini";
        if (c.file)
            WriteFile(strIni, *c.file);
        auto resolve = [&](QString strText) { return strText.replace("@", strDir); };

        LocalInfo info;
        std::memset(&info, 0x7f, sizeof info);
        LocalInfoFile::Load(info, strDir);

        EXPECT_EQ(Folder(info.CapPath), resolve(c.strCap));
        EXPECT_EQ(Folder(info.RecPath), resolve(c.strRec));
        EXPECT_EQ(Folder(info.DownPath), resolve(c.strDown));
        EXPECT_EQ(info.CaptureType, c.nCapture);
        EXPECT_EQ(info.RecordType, c.nRecord);
        EXPECT_EQ(info.ImageType, c.nImage);
        EXPECT_EQ(info.VideoType, c.nVideo);
        // The record was cleared first: nothing of the old content behind the folders' terminators.
        EXPECT_EQ(info.CapPath[259], '\0');
        EXPECT_EQ(info.DownPath[259], '\0');

        if (c.after) {
            std::map<QString, QString> expected;
            for (const auto &entry : *c.after)
                expected[entry.first] = resolve(entry.second);
            EXPECT_EQ(ReadBack(strIni), expected);
        } else {
            EXPECT_EQ(ReadFile(strIni), *c.file) << "a complete file was rewritten";
        }
        EXPECT_FALSE(QFileInfo::exists(strDir + "/Device")) << "folders are not created";

        // What was written back reads as the same record.
        LocalInfo again;
        LocalInfoFile::Load(again, strDir);
        EXPECT_EQ(std::memcmp(&again, &info, sizeof info), 0);
    }
}

TEST(LocalInfo, LongFolderIsCutAtACharacterBoundary)
{
    QTemporaryDir appDir;
    ASSERT_TRUE(appDir.isValid());
    // 258 ASCII bytes, then a two-byte character that would end one byte past the 259 the field holds.
    const QByteArray longFolder = "/" + QByteArray(257, 'x') + "\xc3\xa9" + "/more";
    WriteFile(appDir.path() + "/ClientCfg.ini", "[Path]\nCapPath=" + longFolder + "\nRecPath=/r\nDownPath=/d\n");

    LocalInfo info;
    LocalInfoFile::Load(info, appDir.path());
    EXPECT_EQ(FixedText::Read(info.CapPath), longFolder.left(258));
    EXPECT_EQ(ReadBack(appDir.path() + "/ClientCfg.ini")["Path/CapPath"], QString::fromUtf8(longFolder))
        << "the file keeps the whole folder";
}

TEST(LocalInfo, LogsBeginAndEnd)
{
    QTemporaryDir appDir;
    ASSERT_TRUE(appDir.isValid());
    QSignalSpy spy(LightWeightLog::GetInstance(), &LightWeightLog::writeLogSig);
    LocalInfo info;
    LocalInfoFile::Load(info, appDir.path());

    QStringList messages;
    static const QRegularExpression format("^ \\[NORMAL\\] \\[PlayWidget::LoadLocalInfo\\] \\[[^\\]]*\\] (.*)\\n$");
    for (const QList<QVariant> &args : spy) {
        const QRegularExpressionMatch match = format.match(args.at(0).toString());
        if (match.hasMatch())
            messages << match.captured(1);
    }
    EXPECT_EQ(messages, QStringList({"LoadLocalInfo begin", "Load cfg finish"}));
}
