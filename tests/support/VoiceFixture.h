#pragma once

// Fixtures for the voice talk and custom voice tests: the device and decode libraries clean per test, a
// temporary application directory, a login to a device that can talk, and a microphone of known samples.

#include "device/DevLoginInfo.h"
#include "tests/support/PavlineFixture.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class VoiceFixture : public PavlineFixture
{
protected:
    // Devices: 127.0.0.1 (4 channels, channel 1 can talk, the device itself too) and 10.0.0.2 (2 channels,
    // neither the device nor a channel can talk). Logs in to the first.
    void SetUp() override;
    void TearDown() override;

    // The login record of a login (the first device's when 0).
    DevLoginInfo LoginInfo(int32_t lLogin = 0) const;
    // From now on the microphone plays these samples (nSamples of them, looped) at nRate.
    std::vector<int16_t> UseMic(int nRate, int nSamples);
    // The application directory.
    QString AppDir() const { return m_tempDir.path(); }
    QString AppPath(const QString &strName) const;
    bool WriteAppFile(const QString &strName, const std::string &strData) const;
    std::string ReadAppFile(const QString &strName) const;

    int32_t m_lLogin = 0;
};

namespace VoiceTest {

// The A-law codes of count samples from sample `from` (the samples looped).
std::string Alaw(const std::vector<int16_t> &samples, size_t nFrom, size_t nCount);
// The first n bytes in upper-case hex.
std::string Hex(const std::string &strData, size_t n = 8);
// Talk frames laid end to end, cut by their headers' lengths; a rest that is no whole frame comes last as it is.
std::vector<std::string> SplitFrames(const std::string &strStream);
// The payloads of accepted frames sent to the devices, joined.
std::string AcceptedPayloads(size_t nFirst = 0, size_t nCount = SIZE_MAX);

} // namespace VoiceTest
