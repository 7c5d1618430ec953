#pragma once

#include "copysource.h"
#include "cutplanner.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <utility>

// What a look at the video of a range found, before the copy.
struct ScanResult
{
    QList<CutFrame> frames; // every video packet read, in decoding order
    QList<qint64> dts; // of each frame
    QSet<int> inBandIds; // H.264 parameter set ids the stream carries
    QList<QByteArray> inBandSets; // H.264 and HEVC parameter sets read in the stream
    // Open-GOP key frames of H.264 that a copy may begin on after re-encoded frames: their
    // packet numbers, and the start of their first slice.
    QHash<int, QByteArray> recoverySlices;
    // The first slices of the packets that follow each such key frame (up to the next key
    // frame): their reference marking tells which earlier pictures the copy expects.
    QHash<int, QList<std::pair<int, QByteArray>>> recoveryFollowers;
    // The sequence headers AV1 key frames carry in their temporal units, by packet number.
    QHash<int, QByteArray> av1Headers;
    int gapIndex = -1; // stands for the packets between the two windows of a long range
    qint64 bytes = 0; // read, or spanned by the windows

    // The latest presentation time of the frames, and at least `floor`.
    qint64 latestPts(qint64 floor) const;
};

// Reads every video packet from the entry to past the end: its time and whether decoding can
// start there. The scan ends once a packet after the end where decoding can begin and its
// leading pictures have gone by.
//
// A long range is read in two windows: from the entry to just past the first packet in the
// range a copy can begin on, and from a random access point shortly before the end. Everything
// between is copied as it is, so it needs no look; the plan sees it as one frame (gapIndex).
class VideoScan
{
public:
    struct Settings
    {
        bool spliceRecovery = false; // note the open-GOP key frames a copy may begin on
        QSet<qint64> refusedKeys; // times of those the re-encoded frames cannot lead into
        bool quiet = false; // no progress reports
    };

    VideoScan(CopySource &source, const std::atomic<bool> &cancel, CopyProgress &progress)
        : m_source(source)
        , m_cancel(cancel)
        , m_progress(progress)
    {
    }

    // skipMiddle: a long range may be read in two windows. startOnly: the first window only,
    // and no further than a look ahead from the start.
    // Stopped, or SourceDamaged when the video cannot be read or has packets without times.
    Outcome run(bool skipMiddle, bool startOnly, const Settings &settings);
    const ScanResult &result() const { return m_result; }

private:
    enum class Step { Read, Stop, Restart };
    struct Pass; // the state of one reading

    // True when the reading ended as planned; false when the range is to be read whole.
    Result<bool> read(Pass &pass);
    Result<Step> take(Pass &pass, AVPacket *packet);
    void keepFollower(Pass &pass, const AVPacket *packet, int index);
    void readUnits(Pass &pass, const AVPacket *packet, CutFrame *frame, int index, qint64 t);
    Step advanceWindow(Pass &pass, const CutFrame &frame, qint64 t);
    // Gives the gap its time; false when the windows do not stand apart.
    bool closeGap(const Pass &pass);

    CopySource &m_source;
    const std::atomic<bool> &m_cancel;
    CopyProgress &m_progress;
    const Settings *m_settings = nullptr;
    ScanResult m_result;
};
