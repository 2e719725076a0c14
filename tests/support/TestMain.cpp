// The main of every test executable: a QApplication on the offscreen platform, as the GUI thread of the tests,
// and the process's log written into a temporary folder rather than beside the test program.

#include "runtime/LightWeightLog.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QTemporaryDir logDir;
    LightWeightLog::CreateInstance(logDir.path());
    const int nResult = RUN_ALL_TESTS();
    LightWeightLog::Flush();
    return nResult;
}
