// The chooser on its own: one answer per start, the process object gone after it, none after CloseAll.

#include "requests/BrowseChooser.h"
#include "tests/support/WaitUntil.h"

#include <QFile>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString WriteScript(const QTemporaryDir &dir, const QByteArray &body)
{
    const QString strPath = dir.filePath("chooser");
    QFile file(strPath);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return strPath;
}

struct Answers
{
    QList<BrowseChooser::Result> results;
    BrowseChooser::Callback Collect()
    {
        return [this](const BrowseChooser::Result &result) { results << result; };
    }
};

} // namespace

TEST(BrowseChooser, OneAnswerPerStartAndTheProcessObjectIsDeleted)
{
    struct Case
    {
        const char *pName;
        QByteArray body; // empty: no program at all
        BrowseChooser::Outcome eOutcome;
        QByteArray output;
    };
    const Case cases[] = {
        {"chosen", "printf ' /a b/\\n\\n'; printf \"$1$2\" >&2", BrowseChooser::Chosen, " /a b/\n\n"},
        {"arguments", "printf '%s|%s' \"$1\" \"$2\"", BrowseChooser::Chosen, "9|1"},
        {"cancelled", "printf '/x'; exit 3", BrowseChooser::NotChosen, "/x"},
        {"crashed", "kill -KILL $$", BrowseChooser::NotChosen, ""},
        {"missing", "", BrowseChooser::NotStarted, ""},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const QString strProgram = c.body.isEmpty() ? dir.filePath("none") : WriteScript(dir, c.body);
        QObject owner;
        Answers answers;
        BrowseChooser::Start(&owner, strProgram, 9, 1, answers.Collect());
        ASSERT_TRUE(WaitUntil([&] { return !answers.results.isEmpty(); })) << c.pName;
        EXPECT_EQ(answers.results[0].eOutcome, c.eOutcome) << c.pName;
        EXPECT_EQ(answers.results[0].output, c.output) << c.pName;
        EXPECT_TRUE(WaitUntil([&] { return owner.findChildren<QProcess *>().isEmpty(); })) << c.pName;
        EXPECT_EQ(answers.results.size(), 1) << c.pName;
    }
}

TEST(BrowseChooser, NotExecutableIsNotStarted)
{
    QTemporaryDir dir;
    const QString strProgram = WriteScript(dir, "echo /x\n");
    QFile::setPermissions(strProgram, QFile::ReadOwner | QFile::WriteOwner);
    QObject owner;
    Answers answers;
    BrowseChooser::Start(&owner, strProgram, 0, 0, answers.Collect());
    ASSERT_TRUE(WaitUntil([&] { return !answers.results.isEmpty(); }));
    EXPECT_EQ(answers.results[0].eOutcome, BrowseChooser::NotStarted);
    EXPECT_TRUE(WaitUntil([&] { return owner.findChildren<QProcess *>().isEmpty(); }));
}

TEST(BrowseChooser, CloseAllEndsOpenChoosersWithoutAnswers)
{
    QTemporaryDir dir;
    // Waits on its standard input, which stays open: it never ends on its own.
    const QString strProgram = WriteScript(dir, "echo started > \"$(dirname \"$0\")/started\"; exec cat\n");
    QObject owner;
    QProcess other(&owner);
    Answers answers;
    BrowseChooser::Start(&owner, strProgram, 1, 0, answers.Collect());
    BrowseChooser::Start(&owner, strProgram, 2, 0, answers.Collect());
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(dir.filePath("started")); }));
    BrowseChooser::CloseAll(&owner);
    // Only the choosers went.
    EXPECT_EQ(owner.findChildren<QProcess *>(), QList<QProcess *>{&other});
    QObject later;
    Answers laterAnswers;
    BrowseChooser::Start(&later, strProgram, 0, 0, laterAnswers.Collect());
    ASSERT_TRUE(WaitUntil([&] { return later.findChildren<QProcess *>().value(0)
                                    && later.findChildren<QProcess *>()[0]->state() == QProcess::Running; }));
    BrowseChooser::CloseAll(&later);
    EXPECT_TRUE(answers.results.isEmpty());
    EXPECT_TRUE(laterAnswers.results.isEmpty());
}
