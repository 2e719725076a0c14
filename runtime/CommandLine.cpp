#include "runtime/CommandLine.h"

#include <stdexcept>

CommandLine CommandLine::Parse(int argc, char **argv)
{
    if (argc < 4)
        throw std::runtime_error("plugin argc incorrect");
    CommandLine line;
    bool bOk = false;
    line.m_nSessionId = QString::fromLocal8Bit(argv[1]).toInt(&bOk, 10);
    if (!bOk)
        throw std::runtime_error("sessionID incorrect");
    line.m_strServerName = QString::fromLocal8Bit(argv[2]);
    line.m_libraryDir = QByteArray(argv[3]);
    if (argc > 4)
        line.m_strWndHandle = QString::fromLocal8Bit(argv[4]);
    if (argc > 5)
        line.m_strSdkInfo = QString::fromLocal8Bit(argv[5]);
    if (line.m_strServerName.isEmpty())
        throw std::runtime_error("serverName incorrect");
    return line;
}
