// The test file system that the full-disk and read-only tests rely on refuses what they expect it to refuse.
#include "tests/support/ScratchMount.h"
#include <QFile>
#include <QDir>
#include <gtest/gtest.h>
TEST(ScratchMount, FullAndReadOnlyRefuseWrites)
{
    ScratchMount mount(2 * 1024 * 1024);
    if (!mount.Mounted())
        GTEST_SKIP() << mount.Why().toStdString();
    const QString strFile = QDir(mount.Path()).filePath("a");
    QFile before(strFile);
    ASSERT_TRUE(before.open(QIODevice::WriteOnly));
    ASSERT_EQ(before.write("x", 1), 1);
    before.close();
    ASSERT_TRUE(mount.Fill());
    QFile full(QDir(mount.Path()).filePath("b"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    EXPECT_FALSE(full.write(QByteArray(8192, 'x')) == 8192 && full.flush());
    full.close();
    mount.Unfill();
    ASSERT_TRUE(mount.SetReadOnly(true));
    QFile ro(strFile);
    EXPECT_FALSE(ro.open(QIODevice::WriteOnly | QIODevice::Append));
    ASSERT_TRUE(mount.SetReadOnly(false));
    EXPECT_TRUE(ro.open(QIODevice::WriteOnly | QIODevice::Append));
}
