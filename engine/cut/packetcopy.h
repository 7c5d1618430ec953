#pragma once

#include "copysource.h"
#include "cutplanner.h"
#include "edgesetup.h"
#include "streamtrim.h"
#include "videoscan.h"

#include <deque>
#include <limits>

// The second reading of a copy: every packet from the entry to past the end, the video's
// copied as the plan says (held back while the head is still being encoded, so that the head
// comes first), the edges' frames encoded and written in their place with decoding times that
// let the copied packets keep theirs, the other streams trimmed to the range.
class PacketCopy
{
public:
    struct Setup
    {
        const ScanResult &scan;
        const CutPlan &plan;
        VideoEdges &edges;
        double audioFrom = 0; // where the other streams begin (seconds)
        qint64 frameWeight = 0; // what a re-encoded frame weighs for the progress, in bytes
    };

    PacketCopy(CopySource &source, CutWriter &writer, CopyProgress &progress,
               const std::atomic<bool> &cancel, const Setup &setup);

    Outcome run();

private:
    Outcome copyCoverPictures();
    // Reads to past the end; *pastEnd when the reading stopped there.
    Outcome readAll(bool *pastEnd, double *reached);
    Outcome finishEdges();
    // Drains the edge's encoder, writes the rest of its frames and closes it.
    Outcome finishHead();
    Outcome finishTail();
    Outcome handleVideo(AVPacket *packet);
    Outcome feedEdges(int index, AVPacket *packet);
    Outcome closeEdgesAt(int index);
    // Takes a copied video packet: held until the head is written, then written.
    Outcome copyVideo(const AVPacket *packet, bool first);
    Outcome raiseLevel(AVPacket *copy) const;
    // Renumbers the first copied MPEG-2 group of pictures, whose leading pictures are left out.
    Outcome renumberGroup(AVPacket *copy, bool first);
    Outcome openTail();
    void closeEdge(std::optional<EdgeEncoder> &edge);
    // Writes what the edge has encoded so far; at the end (final) drains it first.
    Outcome writeEdge(EdgeEncoder &encoder, bool final, bool beforeCopy);
    // The failure of an edge's encoder; SourceDamaged where it met a frame it cannot decode.
    Outcome edgeFailed(const EdgeEncoder &encoder, const Outcome &failure) const;
    Outcome writeVideo(AVPacket *packet);
    // Gives an MPEG-2 packet the decoding time one frame after the one before.
    void regularDts(AVPacket *packet);
    // Sets an MPEG-2 group's time code to where its first picture is shown in the output.
    Outcome continueTimeCode(AVPacket *packet);
    Outcome writeWaiting();
    bool needsParameterSets(const AVPacket *packet) const;
    QByteArray toOutputFraming(const QByteArray &annexB) const;
    void reportProgress(int stream, qint64 t);

    CopySource &m_source;
    CutWriter &m_writer;
    CopyProgress &m_progress;
    const std::atomic<bool> &m_cancel;
    const ScanResult &m_scan;
    const CutPlan &m_plan;
    VideoEdges &m_edges;
    StreamTrimmer m_trimmer;
    const qint64 m_frameWeight;

    // The tail's encoder is opened when its frames come (its parameter sets are known from a
    // first opening at the start), and each encoder is closed when its edge is written: at
    // most one holds its frames at a time.
    std::optional<EdgeEncoder> m_tail;
    int m_encodedDone = 0; // frames encoded by edges closed
    int m_headPackets = 0;
    int m_tailPackets = 0;
    std::deque<AvPacketPtr> m_waiting; // copied packets held until the head is written
    bool m_firstCopy = true;
    int m_temporalShift = 0; // taken from the pictures of the first copied MPEG-2 group
    qint64 m_nextDts = std::numeric_limits<qint64>::min(); // of the next MPEG-2 packet
    qint64 m_lastDts = std::numeric_limits<qint64>::min();
    int m_videoCount = 0;
    qint64 m_videoLatest = std::numeric_limits<qint64>::min(); // of the video packets read
    qint64 m_doneBytes = 0;
    qint64 m_total = 1;
};
