#pragma once

#include "standin/korvex/FileTransfer.h"
#include "standin/korvex/VoiceCom.h"

#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <string>
#include <vector>

// What the simulated devices of a program running in a process of its own have received, read from the file the
// program's device library writes it to (KORVEX_RECEIVED, standin/korvex/ReceivedReport.h).
//
//   DeviceReceived received;
//   plugin.SetEnv("KORVEX_RECEIVED", received.Path());
//   ... WaitUntil([&] { return received.TalkFrames().size() >= 10; }) ...
class DeviceReceived
{
public:
    DeviceReceived();

    QString Path() const { return m_strPath; }

    // In the order the devices received them; a line still being written is left out.
    std::vector<KorvexTalkFrame> TalkFrames() const;
    std::vector<KorvexReceivedFile> Files() const;
    struct Config
    {
        int32_t nLogin = 0;
        std::string strData;
    };
    std::vector<Config> Configs() const;

private:
    QTemporaryDir m_dir;
    QString m_strPath;
};
