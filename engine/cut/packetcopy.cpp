#include "packetcopy.h"

#include "av1obus.h"
#include "exactcodecs.h"
#include "mpeg2headers.h"
#include "nalunits.h"
#include "timecode.h"

#include <algorithm>
#include <cmath>

namespace {

// Packets of the other streams are read this far past the end: a muxer may store them a
// little after the video of the same time.
constexpr double kTrailSeconds = 2.0;
// How far before the end of the range the source may end without the copy failing: the last
// frame of a file often ends a little before the duration its container declares.
constexpr double kShortfallSeconds = 1.0;

} // namespace

PacketCopy::PacketCopy(CopySource &source, CutWriter &writer, CopyProgress &progress,
                       const std::atomic<bool> &cancel, const Setup &setup)
    : m_source(source)
    , m_writer(writer)
    , m_progress(progress)
    , m_cancel(cancel)
    , m_scan(setup.scan)
    , m_plan(setup.plan)
    , m_edges(setup.edges)
    , m_trimmer(source, writer, setup.audioFrom)
    , m_frameWeight(setup.frameWeight)
{
}

Outcome PacketCopy::run()
{
    if (Outcome done = copyCoverPictures(); !done)
        return done;
    if (!m_source.reader.rewind())
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("The source cannot be read at the start of the range.") };
    m_total = std::max<qint64>(
        1, m_scan.bytes + m_frameWeight * (m_plan.head.frames + m_plan.tail.frames));
    bool pastEnd = false;
    double reached = -1e300; // the latest time any packet reaches
    if (Outcome done = readAll(&pastEnd, &reached); !done)
        return done;
    if (Outcome done = m_trimmer.flush(); !done)
        return done;
    // A file cut short (a download or recording that did not finish) ends before the range
    // its header promises: a much shorter copy is a failure, not a saved cut.
    if (!pastEnd && !m_source.toTheEnd && reached < m_source.endSeconds - kShortfallSeconds)
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("The source ends at %1, before the end of the range at %2: "
                                      "the file is incomplete or damaged.")
                           .arg(FormatTimeCode(std::max(0.0, reached)),
                                FormatTimeCode(m_source.endSeconds)) };
    return finishEdges();
}

// Cover pictures are one packet, kept whatever the range.
Outcome PacketCopy::copyCoverPictures()
{
    AVFormatContext *in = m_source.reader.context();
    const int video = m_source.video;
    for (unsigned s = 0; s < in->nb_streams; ++s) {
        const AVStream *st = in->streams[s];
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.size > 0
            && m_writer.outputIndex(int(s)) >= 0) {
            AvPacketPtr pic(av_packet_clone(&st->attached_pic));
            if (!pic)
                continue;
            pic->pts = pic->dts = av_rescale_q(
                m_plan.zeroPts, video >= 0 ? in->streams[video]->time_base : AV_TIME_BASE_Q,
                st->time_base);
            if (Outcome done = m_writer.write(pic.get(), int(s)); !done)
                return done;
        }
    }
    return {};
}

Outcome PacketCopy::readAll(bool *pastEnd, double *reached)
{
    AVFormatContext *in = m_source.reader.context();
    AvPacketPtr packet = MakePacket();
    while (m_source.reader.read(packet.get())) {
        if (Outcome going = NotStopped(m_cancel); !going)
            return going;
        m_doneBytes += packet->size;
        const int s = packet->stream_index;
        const bool videoDone = m_source.video < 0 || m_videoCount > m_plan.lastPacket;
        const qint64 t = SourceReader::packetTime(packet.get());
        if (t != AV_NOPTS_VALUE)
            *reached = std::max(*reached, m_source.reader.toSeconds(t + packet->duration, s));
        if (videoDone && t != AV_NOPTS_VALUE
            && m_source.reader.toSeconds(t, s) > m_source.endSeconds + kTrailSeconds) {
            av_packet_unref(packet.get());
            *pastEnd = true;
            break;
        }
        const AVMediaType type = in->streams[s]->codecpar->codec_type;
        const Outcome handled = s == m_source.video ? handleVideo(packet.get())
            : type == AVMEDIA_TYPE_AUDIO            ? m_trimmer.audio(packet.get())
                                                    : m_trimmer.other(packet.get());
        av_packet_unref(packet.get());
        if (!handled)
            return handled;
        reportProgress(s, t);
    }
    if (m_source.reader.readFailed())
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("The source could not be read to the end of the range.") };
    return {};
}

void PacketCopy::reportProgress(int stream, qint64 t)
{
    if (m_source.video >= 0) {
        // Each frame encoded anew weighs as much as its picture's bytes: the edges take most
        // of the time.
        const qint64 encoded = m_encodedDone + (m_edges.head ? m_edges.head->framesEncoded() : 0)
            + (m_tail ? m_tail->framesEncoded() : 0);
        m_progress.report(0.1
                          + 0.9 * double(m_doneBytes + m_frameWeight * encoded) / double(m_total));
    } else if (!m_source.toTheEnd && m_source.lengthSeconds > 0 && t != AV_NOPTS_VALUE) {
        m_progress.report((m_source.reader.toSeconds(t, stream) - m_source.startSeconds)
                          / m_source.lengthSeconds);
    }
}

// The stream ended before an edge was complete: write what it gave.
Outcome PacketCopy::finishEdges()
{
    if (m_edges.head && !m_edges.headDone) {
        if (Outcome done = finishHead(); !done)
            return done;
    }
    if (Outcome done = writeWaiting(); !done)
        return done;
    if (!m_edges.tailDone) {
        if (!m_tail) {
            if (Outcome done = openTail(); !done)
                return done;
        }
        return finishTail();
    }
    return {};
}

Outcome PacketCopy::finishHead()
{
    m_edges.headDone = true;
    if (Outcome done = writeEdge(*m_edges.head, true, m_plan.copyFrom >= 0); !done)
        return done;
    closeEdge(m_edges.head);
    return {};
}

Outcome PacketCopy::finishTail()
{
    m_edges.tailDone = true;
    if (Outcome done = writeEdge(*m_tail, true, false); !done)
        return done;
    closeEdge(m_tail);
    return {};
}

Outcome PacketCopy::handleVideo(AVPacket *packet)
{
    if (!m_source.inOrder(SourceReader::packetTime(packet), &m_videoLatest))
        return {};
    if (m_videoCount == m_scan.gapIndex) {
        // Between the windows until the end window's first packet comes.
        const CutFrame &next = m_scan.frames.at(m_scan.gapIndex + 1);
        if (SourceReader::packetTime(packet) != next.pts || !(packet->flags & AV_PKT_FLAG_KEY))
            return copyVideo(packet, false);
        ++m_videoCount;
    }
    const int i = m_videoCount++;
    if (i > m_plan.lastPacket)
        return {};
    if (i >= m_scan.frames.size() || SourceReader::packetTime(packet) != m_scan.frames.at(i).pts) {
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("The source read differently the second time through, as "
                                      "if another program were changing it") };
    }
    if (Outcome done = feedEdges(i, packet); !done)
        return done;
    if (m_plan.copies(i)) {
        const bool first = m_firstCopy;
        m_firstCopy = false;
        if (Outcome done = copyVideo(packet, first); !done)
            return done;
    }
    return closeEdgesAt(i);
}

Outcome PacketCopy::feedEdges(int i, AVPacket *packet)
{
    std::optional<EdgeEncoder> &head = m_edges.head;
    if (head && i >= m_plan.head.decodeFrom && i <= m_plan.head.decodeTo && !m_edges.headDone) {
        // The head comes first in the output: its frames are written as they are encoded.
        if (Outcome fed = head->feed(packet); !fed)
            return edgeFailed(*head, fed);
        if (Outcome done = writeEdge(*head, false, false); !done)
            return done;
    }
    if (!m_edges.tailDone && i >= m_plan.tail.decodeFrom && i <= m_plan.tail.decodeTo) {
        if (!m_tail) {
            if (Outcome opened = openTail(); !opened)
                return opened;
        }
        if (Outcome fed = m_tail->feed(packet); !fed)
            return edgeFailed(*m_tail, fed);
    }
    return {};
}

Outcome PacketCopy::closeEdgesAt(int i)
{
    if (m_edges.head && !m_edges.headDone && i == m_plan.head.decodeTo) {
        if (Outcome done = finishHead(); !done)
            return done;
        if (Outcome done = writeWaiting(); !done)
            return done;
    }
    if (m_tail && !m_edges.tailDone && i == m_plan.tail.decodeTo)
        return finishTail();
    return {};
}

Outcome PacketCopy::copyVideo(const AVPacket *packet, bool first)
{
    AvPacketPtr copy(av_packet_clone(packet));
    if (!copy)
        return OutOfMemory();
    // In containers whose decoder configuration travels in the stream, the first copied frame
    // brings the source's parameter sets (elsewhere the decoder configuration holds them with
    // the re-encoded frames', under other ids). AV1's new frames begin with a sequence header
    // of their own in every container: the copied key frame brings the source's back in its
    // temporal unit, where the source does not carry it there already.
    if (first && (m_writer.configInStream() || ExactCodecs::headersInStream(m_source.codec))
        && needsParameterSets(copy.get())) {
        const QByteArray extra = ExtradataOf(m_source.reader.videoStream()->codecpar);
        const QByteArray data = m_source.codec == AV_CODEC_ID_AV1 ? Av1Obus::withSequenceHeader(
                                    PacketBytes(copy.get()), Av1Obus::configSequenceHeader(extra))
            : !ExactCodecs::usesNalUnits(m_source.codec)
            ? extra + PacketBytes(copy.get())
            : NalUnits::join(m_source.parameterSets(), m_writer.nalLengthSize())
                + PacketBytes(copy.get());
        if (!ReplacePacketData(copy.get(), data))
            return OutOfMemory();
    }
    if (m_source.codec == AV_CODEC_ID_MPEG2VIDEO) {
        if (Outcome done = renumberGroup(copy.get(), first); !done)
            return done;
    }
    // A head that leads into an open-GOP key frame under a higher level: the source's SPS
    // declares that level wherever the copy carries it, up to the next IDR.
    if (m_edges.raising && !first && m_source.reader.isCleanStart(packet))
        m_edges.raising = false;
    if (m_edges.raising) {
        if (Outcome done = raiseLevel(copy.get()); !done)
            return done;
    }
    m_waiting.push_back(std::move(copy));
    return m_edges.headDone ? writeWaiting() : Outcome();
}

Outcome PacketCopy::renumberGroup(AVPacket *copy, bool first)
{
    QByteArray data = PacketBytes(copy);
    const bool group = Mpeg2Headers::hasGopHeader(data);
    if (first) {
        // The copy begins on an I picture whose leading B pictures (shown before it, predicted
        // from the group before) are left out: re-encoded with the frames before it, or not in
        // the range. Nothing copied then refers to a picture before the group, which is closed
        // (a decoder that meets it after other pictures, a head or another piece, uses none of
        // theirs), and its pictures are numbered from 0 in display order again.
        m_temporalShift = group ? std::max(0, Mpeg2Headers::temporalReference(data)) : 0;
        data = Mpeg2Headers::withGopFlags(data, true, false);
    } else if (group) {
        m_temporalShift = 0; // the next group is copied as it is
    }
    if (m_temporalShift > 0)
        data = Mpeg2Headers::withTemporalShift(data, m_temporalShift);
    else if (!first)
        return {};
    if (!ReplacePacketData(copy, data))
        return OutOfMemory();
    return {};
}

Outcome PacketCopy::raiseLevel(AVPacket *copy) const
{
    const Splice &splice = m_edges.splice;
    QList<QByteArray> units = NalUnits::split(PacketBytes(copy), m_writer.nalLengthSize());
    bool changed = false;
    for (QByteArray &u : units) {
        if (u == splice.targetUnit) {
            u = splice.raisedUnit;
            changed = true;
        }
    }
    if (changed && !ReplacePacketData(copy, NalUnits::join(units, m_writer.nalLengthSize())))
        return OutOfMemory();
    return {};
}

Outcome PacketCopy::openTail()
{
    m_tail.emplace();
    if (Outcome opened = m_tail->open(m_source.reader.videoStream(), m_edges.tailOptions); !opened)
        return opened;
    m_tail->setRange(m_plan.tail.fromPts, m_plan.tail.toPts);
    m_tail->setCancel(&m_cancel);
    // The output declares the parameter sets of the first opening.
    if (m_tail->extradata() != m_edges.tailExtradata)
        return Error { ErrorCode::EncoderFailed,
                       QStringLiteral("The video encoder set up the frames at the end "
                                      "differently.") };
    return {};
}

void PacketCopy::closeEdge(std::optional<EdgeEncoder> &edge)
{
    if (edge) {
        m_encodedDone += edge->framesEncoded();
        edge.reset();
    }
}

Outcome PacketCopy::edgeFailed(const EdgeEncoder &encoder, const Outcome &failure) const
{
    if (encoder.damagedAt() == AV_NOPTS_VALUE)
        return failure;
    return Error { ErrorCode::SourceDamaged,
                   QStringLiteral("The video is damaged at %1 (a frame there cannot be decoded), "
                                  "so it cannot be cut to the frame there; a copy that starts on "
                                  "a key frame (Exact cut off, or --keyframe-copy) still works")
                       .arg(FormatTimeCode(std::max(
                           0.0, m_source.reader.toSeconds(encoder.damagedAt(), m_source.video)))) };
}

Outcome PacketCopy::writeEdge(EdgeEncoder &encoder, bool final, bool beforeCopy)
{
    if (final) {
        if (Outcome finished = encoder.finish(); !finished)
            return edgeFailed(encoder, finished);
    }
    const bool head = m_edges.head && &encoder == &*m_edges.head;
    if (final && head && m_edges.splice.active
        && encoder.framesEncoded() != m_edges.splice.frames) {
        return Error { ErrorCode::EncoderFailed,
                       QStringLiteral("The frames before the first copied key frame could not all "
                                      "be re-encoded.") };
    }
    // The last packet stays with the encoder until the end: HEVC ends the sequence in it.
    std::vector<AvPacketPtr> packets = encoder.takePackets(!final);
    for (size_t i = 0; i < packets.size(); ++i) {
        AVPacket *p = packets[i].get();
        const int index = head ? m_headPackets++ : m_tailPackets++;
        QByteArray data = m_edges.outputPacket(m_source.codec, m_writer.configInStream(), head,
                                               index, PacketBytes(p));
        if (data.isEmpty())
            return Error { ErrorCode::NotPossible,
                           QStringLiteral("The re-encoded frames could not be joined to the "
                                          "copied ones.") };
        if (m_source.codec == AV_CODEC_ID_HEVC && final && beforeCopy && i + 1 == packets.size()
            && !m_source.afterOtherPiece) {
            // End the new frames' sequence so that the copied key frame starts afresh. The new
            // frames declare no reordering, so each is output as soon as it is decoded: a
            // copied CRA picture after the end of a sequence discards the pictures still
            // waiting for output, so a deeper declared reorder (the source's) would lose the
            // last new frames. A demuxer that takes the reorder depth from the first
            // parameter sets of an MPEG-TS stream finds the copied frames deeper and grows it.
            // A piece that follows another in a joined output keeps the sequence going: the
            // frames of the pieces before may still wait for output there (libavcodec outputs
            // one frame of an ended sequence per frame decoded), and would be lost; the copied
            // key frame then activates the source's parameter sets again, and its leading
            // pictures are re-encoded in the head, so nothing of it refers across the join.
            data += QByteArray("\0\0\0\1\x48\x01", 6);
        }
        if (!ReplacePacketData(p, toOutputFraming(data)))
            return OutOfMemory();
        // Decoding times run ahead of presentation by the source's delay, so that the copied
        // packets that follow keep theirs.
        qint64 dts = p->pts - m_edges.delay;
        if (m_lastDts != std::numeric_limits<qint64>::min())
            dts = std::max(dts, m_lastDts + 1);
        p->dts = std::min<qint64>(dts, p->pts);
        if (Outcome done = writeVideo(p); !done)
            return done;
    }
    return {};
}

Outcome PacketCopy::writeVideo(AVPacket *packet)
{
    if (m_source.codec == AV_CODEC_ID_MPEG2VIDEO) {
        regularDts(packet);
        if (Outcome done = continueTimeCode(packet); !done)
            return done;
    }
    if (packet->dts != AV_NOPTS_VALUE)
        m_lastDts = std::max<qint64>(m_lastDts, packet->dts);
    return m_writer.write(packet, m_source.video);
}

// MPEG-2 decodes each picture one frame after the one before it, the first one frame before
// it is shown (a B picture is shown as it is decoded, an I or P picture when the next one is).
// The copied packets' own decoding times do not follow the re-encoded ones where the leading
// pictures of the first copied group are left out, and MPEG-PS (and many players of MPEG-TS)
// carry the times of only some packets: a reader counts the others on a frame at a time from
// those, so the times must run on that grid through every join.
void PacketCopy::regularDts(AVPacket *packet)
{
    const AVStream *st = m_source.reader.videoStream();
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (packet->pts == AV_NOPTS_VALUE || rate.num <= 0 || rate.den <= 0)
        return;
    const qint64 step = std::max<qint64>(1, av_rescale_q(1, av_inv_q(rate), st->time_base));
    if (m_nextDts == std::numeric_limits<qint64>::min())
        m_nextDts = m_plan.zeroPts - step;
    packet->dts = std::min<qint64>(m_nextDts, packet->pts);
    m_nextDts += step;
}

// Each group of pictures header gives the output time of the group's first picture shown: the
// re-encoded groups' encoders count from 0, the copied ones bring the source's times, and the
// pieces of a joined output each their own, so the time codes are set anew from the pictures
// written before the group (every picture decoded before a group is shown before it).
Outcome PacketCopy::continueTimeCode(AVPacket *packet)
{
    const AVStream *st = m_source.reader.videoStream();
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        return {};
    const QByteArray data = PacketBytes(packet);
    if (!Mpeg2Headers::hasGopHeader(data))
        return {};
    const int perSecond = int(std::lround(av_q2d(rate)));
    if (!ReplacePacketData(packet,
                           Mpeg2Headers::withTimeCode(data, m_writer.videoPackets(), perSecond)))
        return OutOfMemory();
    return {};
}

// The copied packets held back while the head was still being encoded, in their order.
Outcome PacketCopy::writeWaiting()
{
    while (!m_waiting.empty()) {
        if (Outcome done = writeVideo(m_waiting.front().get()); !done)
            return done;
        m_waiting.pop_front();
    }
    return {};
}

// The first copied key frame after re-encoded frames must bring the source's parameter sets
// with it where the stream (not the decoder configuration) carries them.
bool PacketCopy::needsParameterSets(const AVPacket *packet) const
{
    const AVCodecID codec = m_source.codec;
    if (!ExactCodecs::usesNalUnits(codec))
        return ExactCodecs::lacksInBandHeader(codec, packet);
    if (codec == AV_CODEC_ID_H264 && m_writer.nalLengthSize() > 0)
        return false; // the shared avcC holds them
    for (const QByteArray &u : NalUnits::split(PacketBytes(packet), m_writer.nalLengthSize())) {
        if ((codec == AV_CODEC_ID_H264 && NalUnits::h264Type(u) == NalUnits::H264Sps)
            || (codec == AV_CODEC_ID_HEVC && NalUnits::hevcType(u) == NalUnits::HevcSps))
            return false;
    }
    return true;
}

QByteArray PacketCopy::toOutputFraming(const QByteArray &annexB) const
{
    if (m_writer.nalLengthSize() == 0 || !ExactCodecs::usesNalUnits(m_source.codec))
        return annexB;
    return NalUnits::join(NalUnits::split(annexB, 0), m_writer.nalLengthSize());
}
