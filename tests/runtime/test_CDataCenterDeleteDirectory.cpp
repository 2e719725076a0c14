#include "runtime/CDataCenter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void WriteFile(const QString &strPath, const QByteArray &content = "data")
{
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << strPath.toStdString();
    file.write(content);
}

bool Exists(const QString &strPath)
{
    // A link counts as existing even when what it points to is gone.
    return QFileInfo(strPath).exists() || QFileInfo(strPath).isSymLink();
}

// root/a.txt, root/.hidden, root/sub/readonly.txt (mode 0444), root/sub/deeper/b.txt
void MakeTree(const QString &strRoot)
{
    ASSERT_TRUE(QDir().mkpath(strRoot + "/sub/deeper"));
    WriteFile(strRoot + "/a.txt");
    WriteFile(strRoot + "/.hidden");
    WriteFile(strRoot + "/sub/readonly.txt");
    ASSERT_TRUE(QFile::setPermissions(strRoot + "/sub/readonly.txt", QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    WriteFile(strRoot + "/sub/deeper/b.txt");
}

// Outside the tree: outside/keep.txt, which must survive every delete.
void MakeOutside(const QString &strOutside)
{
    ASSERT_TRUE(QDir().mkpath(strOutside));
    WriteFile(strOutside + "/keep.txt", "keep");
}

bool OutsideIntact(const QString &strOutside)
{
    QFile file(strOutside + "/keep.txt");
    return file.open(QIODevice::ReadOnly) && file.readAll() == "keep";
}

} // namespace

TEST(CDataCenterDeleteDirectory, Table)
{
    struct Case
    {
        const char *pName;
        std::function<void(const QString &strRoot, const QString &strOutside)> setUp;
        bool bRemoveRoot;
        int nResult;
        // Paths relative to the root that must exist afterwards ("" is the root); all others listed must not.
        QStringList present;
        QStringList absent;
    };
    const std::vector<Case> cases = {
        {"missing path", [](const QString &, const QString &) {}, true, -2, {}, {""}},
        {"missing path, root kept", [](const QString &, const QString &) {}, false, -2, {}, {""}},
        {"read-only file, root removed", [](const QString &r, const QString &) { MakeTree(r); }, true, 0, {}, {""}},
        {"files only, directories kept", [](const QString &r, const QString &) { MakeTree(r); }, false, 0,
         {"", "sub", "sub/deeper"}, {"a.txt", ".hidden", "sub/readonly.txt", "sub/deeper/b.txt"}},
        {"link to a folder outside",
         [](const QString &r, const QString &o) {
             MakeTree(r);
             MakeOutside(o);
             ASSERT_TRUE(QFile::link(o, r + "/sub/link"));
         },
         true, 0, {}, {""}},
        {"link to a folder outside, root kept",
         [](const QString &r, const QString &o) {
             MakeTree(r);
             MakeOutside(o);
             ASSERT_TRUE(QFile::link(o, r + "/link"));
         },
         false, 0, {"", "sub"}, {"link", "a.txt"}},
        {"link to a file outside",
         [](const QString &r, const QString &o) {
             MakeTree(r);
             MakeOutside(o);
             ASSERT_TRUE(QFile::link(o + "/keep.txt", r + "/filelink"));
         },
         true, 0, {}, {""}},
        {"dangling link",
         [](const QString &r, const QString &) {
             MakeTree(r);
             ASSERT_TRUE(QFile::link(r + "/gone", r + "/dangling"));
         },
         true, 0, {}, {""}},
        {"root itself a link",
         [](const QString &r, const QString &o) {
             MakeOutside(o);
             ASSERT_TRUE(QFile::link(o, r));
         },
         true, 0, {}, {""}},
        {"root itself a link, root kept",
         [](const QString &r, const QString &o) {
             MakeOutside(o);
             ASSERT_TRUE(QFile::link(o, r));
         },
         false, 0, {""}, {}},
        // A pipe is not a file to delete: the directory that holds it cannot go.
        {"pipe left in place",
         [](const QString &r, const QString &) {
             MakeTree(r);
             ASSERT_EQ(mkfifo(QFile::encodeName(r + "/sub/pipe").constData(), 0600), 0);
         },
         true, -4, {"", "sub", "sub/pipe"}, {}},
    };

    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        QTemporaryDir base;
        ASSERT_TRUE(base.isValid());
        const QString strRoot = base.path() + "/root";
        const QString strOutside = base.path() + "/outside";
        c.setUp(strRoot, strOutside);
        if (::testing::Test::HasFatalFailure())
            return;
        const bool bHadOutside = QFileInfo::exists(strOutside);

        EXPECT_EQ(CDataCenter::DeleteDirectory(strRoot, c.bRemoveRoot), c.nResult);

        for (const QString &strRel : c.present)
            EXPECT_TRUE(Exists(strRel.isEmpty() ? strRoot : strRoot + "/" + strRel)) << strRel.toStdString();
        for (const QString &strRel : c.absent)
            EXPECT_FALSE(Exists(strRel.isEmpty() ? strRoot : strRoot + "/" + strRel)) << strRel.toStdString();
        if (bHadOutside) {
            EXPECT_TRUE(OutsideIntact(strOutside)) << "a link was followed out of the tree";
        }
    }
}

// Without the right to change a directory a file in it cannot be removed (root may change anything).
TEST(CDataCenterDeleteDirectory, FileThatCannotBeRemoved)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the super-user";
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QString strRoot = base.path() + "/root";
    MakeTree(strRoot);
    ASSERT_TRUE(QDir().mkpath(strRoot + "/locked"));
    WriteFile(strRoot + "/locked/file.txt");
    ASSERT_TRUE(QFile::setPermissions(strRoot + "/locked", QFile::ReadOwner | QFile::ExeOwner));

    EXPECT_EQ(CDataCenter::DeleteDirectory(strRoot, true), -3);
    EXPECT_TRUE(QFileInfo::exists(strRoot + "/locked/file.txt"));
    QFile::setPermissions(strRoot + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// An empty path names no directory. QDir would read it as the current folder and the walk would then act on
// "/" followed by each name found there.
TEST(CDataCenterDeleteDirectory, EmptyPathTouchesNothing)
{
    QTemporaryDir cwd;
    ASSERT_TRUE(cwd.isValid());
    const QString strPrevious = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));

    struct Case { const char *pName; bool bWithFile; bool bRemoveRoot; };
    const Case cases[] = {{"empty folder, root kept", false, false},
                          {"empty folder, root removed", false, true},
                          {"a file in it, root kept", true, false},
                          {"a file in it, root removed", true, true}};
    // A name that "/" surely lacks, so that a wrong walk could not remove anything there either.
    const QString strName = "quorrin-delete-probe-" + QFileInfo(cwd.path()).fileName();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pName);
        if (c.bWithFile)
            WriteFile(cwd.filePath(strName), "keep");
        EXPECT_EQ(CDataCenter::DeleteDirectory(QString(), c.bRemoveRoot), -2);
        EXPECT_EQ(CDataCenter::DeleteDirectory(QString(""), c.bRemoveRoot), -2);
        EXPECT_TRUE(QFileInfo(cwd.path()).isDir());
        if (c.bWithFile) {
            QFile file(cwd.filePath(strName));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == "keep");
            file.close();
            QFile::remove(cwd.filePath(strName));
        }
    }
    QDir::setCurrent(strPrevious);
}
