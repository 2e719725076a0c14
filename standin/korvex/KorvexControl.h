#pragma once

// Control of the simulated device library for tests.

#include "standin/korvex/DeviceCatalog.h"
#include "standin/korvex/FileTransfer.h"
#include "standin/korvex/VoiceCom.h"

#include <cstdint>
#include <string>
#include <vector>

namespace KorvexControl {

// Every API call made since the last reset, as "Name key=value ..." lines (secrets are not recorded), and the
// lines of one function. From outside the process: KORVEX_JOURNAL names a file to which every line is appended as
// it is made, together with notes of the library's own: each login ("# login=5: logged in to 127.0.0.1 SN"), each
// stream or task opened ("# login=5: opened live 12"),
// and what each logout and the clean-up found still open ("# logout login=5: streams left open: live 12", or
// "none"; "# cleanup: logins left open 0; streams left open: none").
std::vector<std::string> Journal();
std::vector<std::string> JournalOf(const std::string &strName);
void ClearJournal();

// What the set-up calls received.
bool IsInitialised();
std::string AppUuid();
std::string AppKey();
int AppMoveCard();
int UserDataType();
std::string UserData();

// The next call of the function (by its name, such as "ZDK_DEV_RealPlay") fails with the error; several calls
// queue several failures.
void FailNextCall(const std::string &strName, int32_t nError);
// Every call of the function ("" for every function) waits this long first; 0 removes it.
void SetLatency(const std::string &strName, int nMilliseconds);
// Every login to the device at this address or serial number fails with the error (0 removes it); for
// ZDK_ERR_CLOUD the text goes into the device information.
void SetLoginError(const std::string &strAddressOrSerial, int32_t nError, const std::string &strCloudText = "");
// Media time written per wall time by downloads (default 8; 0 as fast as possible). Applies to new downloads.
void SetDownloadSpeed(double dSpeed);

// Cuts the login's connection: its streams deliver nothing more, calls on it fail, and the disconnect
// callback runs on a library thread. False when there is no such login or it was cut already.
bool CutLogin(int32_t lLogin);
// Sends an alarm message to the message callback, on a library thread, when the login listens for alarms.
bool RaiseAlarm(int32_t lLogin, int32_t nChannel, int32_t nEvent, int32_t nStatus, int32_t nKind = 1);
// From outside the process, a device entry's "Events" raise both at given times after each login (DeviceCatalog.h).

// Open logins and open stream handles (live, playback, download), and threads of the library that run.
int OpenLogins();
int OpenStreams();
int RunningThreads();

// The devices loaded by ZDK_DEV_Init.
std::vector<KorvexDevice> Devices();

// Configuration and JSON commands: the next answer to that command or ability name (such as "OPSensorGet") is
// this text, sent as it is; bytes the library leaves after every JSON answer inside the out buffer, beyond the
// out length ("" for none); the configuration file last imported into the device of the login.
void ReplyNext(const std::string &strName, const std::string &strReply);
void SetReplyTail(const std::string &strTail);
std::string ImportedConfig(int32_t lLogin);

// File transfers: the next transfer reports this result kind and first value instead of its own (several calls
// queue several results); the files the devices received, in order.
void SetNextTransferResult(int32_t nKind, int32_t nValue);
std::vector<KorvexReceivedFile> ReceivedFiles();

// Voice talk: the frames the devices were sent through ZDK_DEV_VoiceComSendData since the last reset or clear,
// in order, the refused ones marked (at most the last 20000); waits until that many have come (false when the
// time ran out); the talks that run.
std::vector<KorvexTalkFrame> TalkFrames();
bool WaitForTalkFrames(size_t nCount, int nTimeoutMs);
void ClearTalkFrames();
int OpenTalks();

// Upgrades: the time between two of the ten progress reports of new upgrades (default 10 ms).
void SetUpgradeStep(int nMilliseconds);

// The library's clock, for tests of pacing: held, it stands still until the test advances it, so that what the
// streams, downloads, talks and upgrades deliver follows the clock the test moves and not the machine's speed.
// WaitForIdle waits until every thread of the library has nothing to do before the held clock moves on (or
// before its stop), false when that did not come within the time. A clock let go goes on from where it stood.
void HoldClock();
void AdvanceClock(int nMilliseconds);
void ReleaseClock();
bool WaitForIdle(int nTimeoutMs = 20000);

// Cleans the library up, lets the clock go and forgets every setting, journal line and device.
void Reset();

} // namespace KorvexControl
