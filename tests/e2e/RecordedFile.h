#pragma once

// What the end-to-end recording tests ask of a recorded file, and the record request as the page sends it.

#include <json/value.h>

#include <QElapsedTimer>
#include <QString>

// "MainType" 4 "SubType" 10: record the channel (-1 every channel) or stop.
Json::Value RecordRequest(const Json::Value &msgId, int nChannel, bool bOn);

// The time a recording ran, as the test sees it: at least from the answer of its start to the sending of its
// stop, at most from the sending of its start to the answer of its stop.
class RecordTimer
{
public:
    void BeforeStart() { m_before.start(); }
    void AfterStart() { m_after.start(); }
    void BeforeStop() { m_dLeast = Seconds(m_after); }
    void AfterStop() { m_dMost = Seconds(m_before); }
    // Milliseconds since the start was answered, for the waits that let a recording run.
    qint64 Running() const { return m_after.elapsed(); }
    double Least() const { return m_dLeast; }
    double Most() const { return m_dMost; }

private:
    static double Seconds(const QElapsedTimer &timer) { return static_cast<double>(timer.elapsed()) / 1000.0; }

    QElapsedTimer m_before;
    QElapsedTimer m_after;
    double m_dLeast = 0;
    double m_dMost = 0;
};

// A file that libavformat opens and whose every picture libavcodec decodes, from a key frame on, of the codec
// ("h264", "hevc"), lasting from its start (with up to a second of the pictures before it) to a stop between
// dLeast and dMost seconds after the start.
void ExpectWholeRecording(const QString &strPath, const char *pCodec, double dLeast, double dMost);
void ExpectWholeRecording(const QString &strPath, const char *pCodec, const RecordTimer &timer);
