#pragma once

#include "platform/korvex.h"
#include "standin/korvex/DeviceCatalog.h"

#include <json/value.h>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// A file the simulated device received, with the result it reported.
struct KorvexReceivedFile
{
    int32_t nLogin = 0;
    int32_t nHandle = 0;
    std::string strHeader;  // the "OPFile" text that announced it
    std::string strData;    // the bytes read from the local file
    int32_t nKind = 0;      // ZDK_TransferKind reported
    int32_t nValue1 = 0;
    int32_t nValue2 = 0;
};

// The device side of file transfers: "OPFile" announces a file by a header of one of the shapes the device
// knows, ZDK_DEV_SendFileDataToDevice then reads the whole local file during the call and a task reports the
// result on a library thread.
//
// Header shapes (keys exactly these, types and fixed values checked; the audio format is G.711 A-law at 8000 Hz,
// 8 bits, 128 kbit/s):
//   a file for the device:  {"Action": "Send", "FileType": 1, "FilePurpose": 1, "FileSize": n, "FileName": "",
//                            "Path": "", "Parameter": {}}
//   a voice for a channel:  {"Action": "Send", "FileType": 1, "Channel": [c], "FilePurpose": p, "FileSize": n,
//                            "FileName": "customAlarmVoice.pcm", "Parameter": {"AudioFormat": {...}, "Channel": [c]}}
//                           (c -1 for every channel, or a channel of the device; the same c twice; p 0 or above)
//   a voice for the device: {"FileType": 1, "FilePurpose": 0, "FileSize": n, "FileName": "customAlarmVoice.pcm",
//                            "Parameter": {"AudioFormat": {...}}}
class FileTransfer
{
public:
    static FileTransfer &Instance();

    // "OPFile": 1, or the error (also the last error) for a header of no known shape.
    int32_t Announce(int32_t lLogin, const KorvexDevice &device, const char *pHeader, uint32_t nLength);
    // The transfer handle, or 0 with the last error set.
    int32_t Send(int32_t lLogin, const char *pPath, ZDK_fFileTransferCallBack cb, void *pUser);
    // A bool.
    int32_t Ack(int32_t lHandle, int32_t nKind, int32_t nValue1, int32_t nValue2);

    // Whether the header has one of the shapes; its file size.
    static bool CheckHeader(const Json::Value &header, int nChannels, int64_t &nFileSize);

    // Control: the next transfers report these results (kind, value 1) instead; the files received.
    void SetNextResult(int32_t nKind, int32_t nValue);
    void Received(const KorvexReceivedFile &file);
    std::vector<KorvexReceivedFile> ReceivedFiles();
    void Reset();

private:
    struct Announced
    {
        std::string strHeader;
        int64_t nFileSize = 0;
    };

    FileTransfer() = default;

    std::mutex m_mutex;
    std::map<int32_t, Announced> m_announced;  // per login, the header of its next file
    std::deque<std::pair<int32_t, int32_t>> m_nextResults;
    std::map<int32_t, size_t> m_transfers;     // per login, the transfers started so far
    std::vector<KorvexReceivedFile> m_received;
};
