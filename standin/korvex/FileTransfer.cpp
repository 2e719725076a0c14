#include "standin/korvex/FileTransfer.h"

#include "standin/korvex/FileTransferTask.h"
#include "standin/korvex/KorvexSim.h"
#include "standin/korvex/ReceivedReport.h"
#include "standin/korvex/StrictJson.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kVoiceFileName[] = "customAlarmVoice.pcm";

bool IsWhole(const Json::Value &v) { return StrictJson::IsWhole(v); }
bool IntIs(const Json::Value &v, int n) { return IsWhole(v) && v.isInt() && v.asInt() == n; }
bool TextIs(const Json::Value &v, const char *p) { return v.isString() && v.asString() == p; }

bool FileSizeOf(const Json::Value &v, int64_t &nSize)
{
    if (!IsWhole(v) || !v.isInt64() || v.asInt64() <= 0)
        return false;
    nSize = v.asInt64();
    return true;
}

bool AudioFormatOk(const Json::Value &f)
{
    return StrictJson::HasKeys(f, {"BitRate", "SampleRate", "SampleBit", "EncodeType"}) && IntIs(f["BitRate"], 128) &&
           IntIs(f["SampleRate"], 8000) && IntIs(f["SampleBit"], 8) && TextIs(f["EncodeType"], "G711_ALAW");
}

// [c] with c -1 (every channel) or a channel of the device.
bool OneChannel(const Json::Value &list, int nChannels, int &nChannel)
{
    if (!list.isArray() || list.size() != 1 || !IsWhole(list[0]) || !list[0].isInt())
        return false;
    nChannel = list[0].asInt();
    return nChannel == -1 || (nChannel >= 0 && nChannel < nChannels);
}

} // namespace

FileTransfer &FileTransfer::Instance()
{
    static FileTransfer transfer;
    return transfer;
}

bool FileTransfer::CheckHeader(const Json::Value &h, int nChannels, int64_t &nFileSize)
{
    if (StrictJson::HasKeys(h, {"Action", "FileType", "FilePurpose", "FileSize", "FileName", "Path", "Parameter"}))
        return TextIs(h["Action"], "Send") && IntIs(h["FileType"], 1) && IntIs(h["FilePurpose"], 1) &&
               FileSizeOf(h["FileSize"], nFileSize) && TextIs(h["FileName"], "") && TextIs(h["Path"], "") &&
               h["Parameter"].isObject() && h["Parameter"].empty();
    if (StrictJson::HasKeys(h, {"Action", "FileType", "Channel", "FilePurpose", "FileSize", "FileName", "Parameter"})) {
        const Json::Value &p = h["Parameter"];
        int nChannel = 0, nParamChannel = 0;
        return TextIs(h["Action"], "Send") && IntIs(h["FileType"], 1) && OneChannel(h["Channel"], nChannels, nChannel) &&
               IsWhole(h["FilePurpose"]) && h["FilePurpose"].isInt() && h["FilePurpose"].asInt() >= 0 &&
               FileSizeOf(h["FileSize"], nFileSize) && TextIs(h["FileName"], kVoiceFileName) &&
               StrictJson::HasKeys(p, {"AudioFormat", "Channel"}) && AudioFormatOk(p["AudioFormat"]) &&
               OneChannel(p["Channel"], nChannels, nParamChannel) && nParamChannel == nChannel;
    }
    if (StrictJson::HasKeys(h, {"FileType", "FilePurpose", "FileSize", "FileName", "Parameter"})) {
        const Json::Value &p = h["Parameter"];
        return IntIs(h["FileType"], 1) && IntIs(h["FilePurpose"], 0) && FileSizeOf(h["FileSize"], nFileSize) &&
               TextIs(h["FileName"], kVoiceFileName) && StrictJson::HasKeys(p, {"AudioFormat"}) &&
               AudioFormatOk(p["AudioFormat"]);
    }
    return false;
}

int32_t FileTransfer::Announce(int32_t lLogin, const KorvexDevice &device, const char *pHeader, uint32_t nLength)
{
    Json::Value header;
    std::string strError;
    Announced announced;
    if (!StrictJson::Parse(pHeader, nLength, header, strError) ||
        !CheckHeader(header, device.ChannelCount(), announced.nFileSize)) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return ZDK_ERR_ILLEGAL_PARAM;
    }
    announced.strHeader.assign(pHeader, nLength);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announced[lLogin] = announced;
    return 1;
}

int32_t FileTransfer::Send(int32_t lLogin, const char *pPath, ZDK_fFileTransferCallBack cb, void *pUser)
{
    if (!pPath || !cb) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    const std::shared_ptr<const KorvexDevice> device = KorvexSim::Instance().LoginDevice(lLogin);
    if (!device)
        return 0;
    KorvexReceivedFile file;
    int64_t nAnnounced = 0;
    bool bForced = false;
    bool bFromControl = false;
    std::pair<int32_t, int32_t> forced;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_announced.find(lLogin);
        if (it == m_announced.end()) {
            // No "OPFile" told the device what comes.
            KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
            return 0;
        }
        file.strHeader = it->second.strHeader;
        nAnnounced = it->second.nFileSize;
        bForced = bFromControl = !m_nextResults.empty();
        if (bForced)
            forced = m_nextResults.front();
        // The device entry's own results, one per transfer of the login, in turn.
        const size_t nTransfer = m_transfers[lLogin];
        const std::vector<TransferResult> &results = device->settings.transferResults;
        if (!bForced && nTransfer < results.size()) {
            bForced = true;
            forced = {results[nTransfer].nKind, results[nTransfer].nValue};
        }
    }
    // The whole file is read now: the caller may remove it as soon as the call has returned.
    FILE *pFile = std::fopen(pPath, "rb");
    if (!pFile) {
        KorvexSim::SetLastError(ZDK_ERR_FILE_OPEN);
        return 0;
    }
    char buf[65536];
    size_t nRead = 0;
    while ((nRead = std::fread(buf, 1, sizeof buf, pFile)) > 0)
        file.strData.append(buf, nRead);
    const bool bError = std::ferror(pFile) != 0;
    std::fclose(pFile);
    if (bError) {
        KorvexSim::SetLastError(ZDK_ERR_FILE_OPEN);
        return 0;
    }
    const int64_t nData = static_cast<int64_t>(file.strData.size());
    file.nLogin = lLogin;
    if (bForced) {
        file.nKind = forced.first;
        file.nValue1 = forced.second;
        file.nValue2 = static_cast<int32_t>(std::min<int64_t>(nData, INT32_MAX));
    } else if (nData != nAnnounced) {
        file.nKind = ZDK_TRANSFER_BROKEN;
        file.nValue1 = static_cast<int32_t>(std::min<int64_t>(std::min(nData, nAnnounced), INT32_MAX));
        file.nValue2 = static_cast<int32_t>(std::min<int64_t>(nAnnounced, INT32_MAX));
    } else {
        file.nKind = ZDK_TRANSFER_DONE;
        file.nValue1 = file.nValue2 = static_cast<int32_t>(std::min<int64_t>(nData, INT32_MAX));
    }
    const int32_t lHandle = KorvexSim::Instance().StartTask(
        lLogin, [&](int32_t nHandle, const std::shared_ptr<const KorvexDevice> &) -> std::shared_ptr<SimStream> {
            file.nHandle = nHandle;
            return std::make_shared<FileTransferTask>(nHandle, lLogin, file, cb, pUser);
        });
    if (lHandle <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announced.erase(lLogin);
    if (bFromControl && !m_nextResults.empty())
        m_nextResults.pop_front();
    ++m_transfers[lLogin];
    return lHandle;
}

int32_t FileTransfer::Ack(int32_t lHandle, int32_t nKind, int32_t, int32_t)
{
    std::shared_ptr<SimStream> task = KorvexSim::Instance().FindTask(lHandle, SimStream::Kind::Transfer);
    if (!task)
        return 0;
    if (nKind != 1) {
        KorvexSim::SetLastError(ZDK_ERR_ILLEGAL_PARAM);
        return 0;
    }
    std::static_pointer_cast<FileTransferTask>(task)->Acknowledge();
    return 1;
}

void FileTransfer::SetNextResult(int32_t nKind, int32_t nValue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nextResults.emplace_back(nKind, nValue);
}

void FileTransfer::Received(const KorvexReceivedFile &file)
{
    ReceivedReport::File(file);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.push_back(file);
}

std::vector<KorvexReceivedFile> FileTransfer::ReceivedFiles()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void FileTransfer::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announced.clear();
    m_nextResults.clear();
    m_transfers.clear();
    m_received.clear();
}
