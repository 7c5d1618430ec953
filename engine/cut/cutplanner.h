#pragma once

#include <QList>
#include <QString>

// One packet of the video stream being cut, in decoding order.
struct CutFrame
{
    qint64 pts = 0; // presentation time in the stream's time base
    bool clean = false; // a copy can begin here, after re-encoded frames (IDR, IRAP, MPEG-2 I)
    bool key = false; // decoding can begin here (clean, or an H.264 open-GOP recovery point)
    qint64 size = 0; // bytes
    bool startsDecoding() const { return clean || key; }
};

// Which packets of a cut are copied, which are decoded and encoded anew, and where the output
// begins. Packet numbers index the CutFrame list the plan was made from.
struct CutPlan
{
    // A run of frames encoded anew: the packets [decodeFrom, decodeTo] are fed to a decoder
    // that starts at a clean packet, and the frames it shows at fromPts <= pts < toPts are
    // encoded.
    struct Edge
    {
        int decodeFrom = -1;
        int decodeTo = -1;
        qint64 fromPts = 0;
        qint64 toPts = 0;
        int frames = 0;
        bool active() const { return decodeFrom >= 0; }
    };

    bool ok = false;
    QString error;
    qint64 zeroPts = 0; // the first frame shown; output time 0
    qint64 endPts = 0; // frames shown before this time are in the output
    Edge head; // before the first copied packet
    Edge tail; // after the last copied packet
    int copyFrom = -1; // the copied packets, [copyFrom, copyTo] in decoding order,
    int copyTo = -1; // less those in skipped
    QList<int> skipped; // leading pictures of the first copied key frame (they need frames
                        // before it), in increasing order
    int lastPacket = -1; // the last packet the cut needs

    bool copies(int packet) const;
    int copiedCount() const
    {
        return copyFrom < 0 ? 0 : copyTo - copyFrom + 1 - int(skipped.size());
    }
};

// Plans a cut of the frames shown from startPts (the first frame that begins at or after it)
// to endPts (exclusive). frames must begin where decoding can begin, at or before startPts,
// and reach past the end (or the stream's end).
//
// Exact: the first output frame is the first one at or after startPts and the last the last one
// that starts before endPts. Packets from the first clean packet in the range are copied as long as
// every frame they carry is in the range; what comes before is encoded anew (the head), and at
// the end the frames that depend on frames after the range (the tail).
// Edges are decoded from the last packet where decoding can begin before their first frame.
// Not exact: the copy starts at the last packet where decoding can begin at or before
// startPts and ends with the last frame shown before endPts that needs no frame shown at or
// after it; nothing is encoded.
// cleanStart (not exact only): the copy starts at the last clean packet at or before startPts,
// never on an open-GOP key frame (for a piece that follows another in a joined output, where a
// decoder does not start afresh).
// Linear in the number of frames.
CutPlan PlanCut(const QList<CutFrame> &frames, qint64 startPts, qint64 endPts, bool exact,
                bool cleanStart = false);
