#pragma once

#include "copynote.h"
#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// A direct copy of a range of a media file, run in-process with libavformat and libavcodec.
//
// Every stream of the source is kept (video, audio, subtitles, attachments, chapters cut to the
// range, metadata and dispositions). Exact (the default): the output shows the frame shown at
// the start and ends with the last frame that starts before the end; the video packets between
// the first key frame in the range and the end are copied unchanged, and only the frames that
// cannot be copied are encoded anew: from the start to that key frame, and at the end the
// frames that depend on frames after the range. Audio is cut at the audio frame boundary
// nearest each mark. Without exactness (or where it is impossible: another video codec, an
// interlaced or unusual source) the video starts on the key frame at or before the start.
//
// H.264 and HEVC carry parameter sets that the new frames cannot share with the copied ones:
// the new frames get parameter set ids the source does not use, and the one decoder
// configuration (avcC, hvcC in MP4 and Matroska) lists both, so that "hvc1" stays "hvc1"; in
// MPEG-TS they travel in the stream. HEVC ends the new frames' sequence before a copied frame.
// An H.264 copy may also begin on an open-GOP key frame (a recovery point): the frames before
// it are re-encoded under the source's own sequence parameter set and numbered so that the
// copied frame continues them, and its leading B-frames are re-encoded with them.
// One range of a copy that joins several.
// A joined output has one chapter per range, where the range's piece starts in it.
struct CopyRange
{
    double startSeconds = 0;
    double lengthSeconds = -1; // -1: to the end
    QString chapterTitle; // "": "Segment N", N its place from 1
};

struct StreamCopyJob
{
    QString inputPath;
    QString outputPath; // written directly; the caller renames it into place
    double startSeconds = 0; // from the start of the file, as the player shows it
    double lengthSeconds = -1; // -1: to the end
    bool exact = true;
    // Two or more: these ranges, joined in this order, instead of startSeconds and
    // lengthSeconds.
    QList<CopyRange> ranges;
    // The source's streams (by index) to keep; empty: every stream.
    QList<int> streams;
};

// Where a copy will really start, for telling the user before it runs.
struct CopyStart
{
    bool exact = false; // starts with the frame shown at the start
    QString reason; // why not, when exact was wanted but is impossible
    double startSeconds = 0; // where the output starts in the source
    // An exact copy: how much of the start is re-encoded, up to the first copied frame (-1:
    // none is copied), and whether that reaches further than the look before the copy.
    double reencodedSeconds = 0;
    double copiedFromSeconds = -1;
    bool reencodedBeyond = false;
};
// Looks at the start of the range (endSeconds -1: to the end of the file); with streams
// chosen (by index) that leave the video out, there is nothing to say.
CopyStart PredictCopyStart(const QString &path, double startSeconds, bool exactWanted,
                           double endSeconds = -1, const QList<int> &streams = {});
// The line that tells the user where a copy that is not exact starts, or how much of an exact
// one is re-encoded when that is more than 2 s; "" otherwise.
QString DescribeCopyStart(const CopyStart &start);

// Where the pieces of a key-frame copy (exact false) that joins these ranges really lie in the
// source, as the copy will save them: each from the key frame at or before its start to the
// end of the last frame it keeps (one that needs no frame from after the range), the sound
// with them. Reads the video's key frames and frame times around each range with libavformat.
// A source without video keeps the ranges as they are. Fails on a file that cannot be read
// (SourceUnreadable, SourceDamaged) or a range without video frames (NotPossible).
Result<QList<CopyRange>> PlanKeyFrameRanges(const QString &path, const QList<CopyRange> &ranges);

class StreamCopy
{
public:
    // Bytes written so far and the fraction of the work done (0..1).
    using Progress = std::function<void(qint64 bytes, double fraction)>;

    explicit StreamCopy(StreamCopyJob job);
    // Runs the copy on the calling thread; Stopped when cancel became true (checked between
    // packets and frames), DestinationFull or DestinationUnusable when the output cannot be
    // written, SourceUnreadable or SourceDamaged for the source, NotPossible when the range
    // cannot be copied. Leaves a partial output behind on failure: the caller removes it.
    Outcome run(const std::atomic<bool> &cancel, const Progress &progress);
    // Things the user should know about the result (streams left out, a start on a key frame).
    CopyNotes notes() const { return m_notes; }

private:
    StreamCopyJob m_job;
    CopyNotes m_notes;
};
