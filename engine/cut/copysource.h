#pragma once

#include "cutwriter.h"
#include "packetdata.h"
#include "sourcereader.h"
#include "streamcopy.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <atomic>
#include <limits>

// Pieces every part of one copy shares: the source with the range on it, the stop request and
// the progress reports.

constexpr qint64 kNeverTs = std::numeric_limits<qint64>::max();

QByteArray ExtradataOf(const AVCodecParameters *par);
// Stopped once cancel has become true; else ok.
Outcome NotStopped(const std::atomic<bool> &cancel);

// The source of one copy and the marks on it.
struct CopySource
{
    SourceReader reader;
    int video = -1;
    AVCodecID codec = AV_CODEC_ID_NONE;
    double startSeconds = 0;
    double lengthSeconds = -1; // -1: to the end
    qint64 startTs = 0; // the marks in the video's time base
    qint64 endTs = kNeverTs;
    double endSeconds = 1e300;
    bool toTheEnd = true;
    bool exact = false; // the copy is cut to the frame
    // Parameter sets other pieces of the same output already use (a copy that joins several
    // ranges): the edges' new sets take ids of their own beside these too.
    QList<QByteArray> reservedSets;
    // This piece follows another in the output (see PacketCopy::writeEdge).
    bool afterOtherPiece = false;

    // The H.264 or HEVC parameter sets of the video's decoder configuration (or of its
    // Annex B extradata).
    QList<QByteArray> parameterSets() const;
    // False for a video packet far behind the latest one read: no reordering but a damaged
    // time (a container cluster out of order), which could be shown nowhere in order.
    bool inOrder(qint64 t, qint64 *latest) const;
};

// Reports the work done at most every 100 ms (unless forced), with the bytes written so far.
class CopyProgress
{
public:
    CopyProgress(const StreamCopy::Progress &progress, const CutWriter &writer)
        : m_progress(progress)
        , m_writer(writer)
    {
    }
    void report(double fraction, bool force = false);

private:
    const StreamCopy::Progress &m_progress;
    const CutWriter &m_writer;
    QElapsedTimer m_clock;
};
