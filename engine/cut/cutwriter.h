#pragma once

#include "avhandles.h"
#include "result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// The failure of an allocation, as the copy reports it.
Error OutOfMemory();

// Writes the output of a copy: a container of the same kind as the source, with every stream
// it can carry (codecs, parameters, metadata such as language and title, dispositions,
// display matrices), attachments, and the chapters that overlap the range, cut to it and
// shifted to start at 0. Packets arrive in the source's time bases and are shifted so that the
// output begins at the given source time.
class CutWriter
{
public:
    // What the video stream of the output declares differently from the source: a decoder
    // configuration that also holds the parameter sets of re-encoded frames, and the sample
    // entry that allows parameter sets in the stream.
    struct VideoOverride
    {
        int inputIndex = -1;
        QByteArray extradata; // empty: the source's
        unsigned codecTag = 0; // used where the container knows it; else as for the source
    };

    // Keeps only these input streams (by index) in the output opened afterwards; empty: every
    // stream the container can carry. The others are not written and not reported as left out.
    void keepOnly(const QList<int> &streams) { m_chosen = streams; }
    // Opens the file at path for writing (its extension picks the container; without one, the
    // muxer that writes the source's kind of file). zeroMicros and endMicros bound the range in
    // the source's AV_TIME_BASE time (chapters are cut to it). A file that cannot be made or
    // written fails with DestinationUnusable (DestinationFull when no space is left); a
    // container that takes none of the streams with NotPossible.
    Outcome open(const QString &path, AVFormatContext *input, const VideoOverride &video,
                 qint64 zeroMicros, qint64 endMicros);
    // A chapter of the output, in microseconds of the output.
    struct Chapter
    {
        qint64 startMicros = 0;
        qint64 endMicros = 0;
        QString title; // "": none
    };
    // The chapters of an output that joins several ranges, in place of the source's: once
    // before open() (MP4 sets up its chapter track with the header; the times may still change)
    // and again before finish() with the times the pieces really took, which the file keeps
    // (Matroska writes its chapters after the clusters then).
    void setChapters(const QList<Chapter> &chapters);

    // -1 when the stream is left out of the output.
    int outputIndex(int inputIndex) const;
    // The streams left out, described for the user.
    QStringList leftOut() const { return m_leftOut; }
    // True when the output's video packets are length-prefixed NAL units of this size
    // (MP4, Matroska); 0 for Annex B (MPEG-TS, -PS).
    int nalLengthSize() const { return m_nalLengthSize; }
    bool isMatroska() const;
    // True when the container has no decoder configuration (MPEG-TS, -PS): parameter sets
    // and sequence headers travel in the stream.
    bool configInStream() const;

    // Writes a packet of the given input stream; its timestamps are in the input stream's
    // time base and are shifted here. Takes the packet's data. NotPossible when the muxer
    // refuses the packet's times.
    Outcome write(AVPacket *packet, int inputIndex);
    Outcome finish();

    // For the later pieces of a copy that joins several ranges: from now on, the source's time
    // zeroMicros is written at offsetMicros of the output. Once set, every stream's decoding
    // times are kept rising across the joins, and an audio frame that would overlap the one
    // before it by more than half is left out (else it starts where that one ends), so that
    // the sound runs on without a gap or a doubled frame.
    void setShift(qint64 zeroMicros, qint64 offsetMicros);
    // Where the latest video frame written ends (the latest packet of any stream when there is
    // no video), in microseconds of the output.
    qint64 endMicros() const { return m_endMicros; }
    // Packets of the video stream written so far, over every piece.
    qint64 videoPackets() const { return m_videoPackets; }
    qint64 bytesWritten() const;

private:
    // Shifts and rescales the packet's times into the output stream's time base.
    void toOutputTime(AVPacket *packet, int inputIndex, int out);
    void deriveDts(AVPacket *packet, int inputIndex);
    // A FLAC file's frames numbered from the cut's start, and its header's sample count kept
    // up to date in the packet's side data.
    void carryFlacHeader(AVPacket *packet, int out);
    // False when the packet is to be left out (see setShift).
    bool keepJoinedOrder(AVPacket *packet, int out);
    void noteEnd(const AVPacket *packet, int out);
    // Hands the packet to the muxer (which takes it).
    Outcome mux(AVPacket *packet);
    // MPEG-PS: writes the picture held before this one, and holds this one (see m_held).
    Outcome holdPicture(AVPacket *packet);

    Outcome addStreams(const VideoOverride &video);
    Outcome addStream(unsigned inputIndex, const VideoOverride &video);
    void keepFlacInfo(AVStream *out, const AVOutputFormat *format);
    void readNalLengthSize(const VideoOverride &video);
    // Opens the file and writes the container's header.
    Outcome start(const QByteArray &file);
    void putChapters();

    QList<int> m_chosen;
    AvOutputPtr m_ctx;
    AVFormatContext *m_input = nullptr;
    std::vector<int> m_map;
    QStringList m_leftOut;
    qint64 m_zero = 0;
    qint64 m_offset = 0;
    bool m_joined = false;
    std::vector<qint64> m_lastDts; // by output stream, in its time base
    std::vector<qint64> m_lastEnd;
    qint64 m_endMicros = 0;
    qint64 m_videoPackets = 0;
    int m_nalLengthSize = 0;
    int m_videoInput = -1;
    bool m_dtsByMuxer = false;
    std::vector<qint64> m_ptsBuffer;
    bool m_headerWritten = false;
    // MPEG-PS with MPEG-1/2 video: the muxer stamps a PES packet with the times of the first
    // packet that begins in it, a reader with those of the first picture whose picture start
    // code does. The headers before a picture (sequence, group of pictures) go with the packet
    // before it, so that each packet begins with its picture and the two agree; the last video
    // packet is held until the next one comes or the file ends.
    int m_pictureAligned = -1; // the output stream so written
    AvPacketPtr m_held;
    // A FLAC file's header, by output stream (empty for others), and the samples written: the
    // muxer writes the header again at the end with the cut's own sample count.
    std::vector<QByteArray> m_flacInfo;
    std::vector<qint64> m_flacSamples;
    std::vector<qint64> m_flacFirst; // the number of the first frame written (-1: none yet)
    bool m_mp3 = false;
    QList<Chapter> m_chapters;
    bool m_ownChapters = false;
};
