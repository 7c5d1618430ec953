#include "streamtrim.h"

#include <utility>

StreamTrimmer::StreamTrimmer(CopySource &source, CutWriter &writer, double audioFrom)
    : m_source(source)
    , m_writer(writer)
    , m_audioFrom(audioFrom)
{
    const unsigned streams = source.reader.context()->nb_streams;
    m_streamStarted.assign(streams, false);
    m_heldAudio.resize(streams);
    m_audioEnd.assign(streams, AV_NOPTS_VALUE);
}

bool StreamTrimmer::trimSubtitle(AVPacket *packet, double begin, double length) const
{
    const double endSeconds = m_source.endSeconds;
    if (begin >= endSeconds || (length > 0 ? begin + length : begin) < m_audioFrom)
        return false;
    const int s = packet->stream_index;
    const qint64 t = SourceReader::packetTime(packet);
    const qint64 end = !m_source.toTheEnd ? m_source.reader.toStreamTime(endSeconds, s) : kNeverTs;
    if (packet->duration > 0 && t + packet->duration > end)
        packet->duration = end - t; // one shown across the end, to the end
    const qint64 zero = m_source.reader.toStreamTime(m_audioFrom, s);
    if (t < zero) { // a subtitle shown across the start is shown from the start
        if (packet->duration > 0)
            packet->duration -= zero - t;
        packet->pts = zero;
        packet->dts = zero;
    }
    return true;
}

Outcome StreamTrimmer::other(AVPacket *packet)
{
    const int s = packet->stream_index;
    const AVStream *st = m_source.reader.context()->streams[s];
    if (m_writer.outputIndex(s) < 0 || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return {};
    const qint64 t = SourceReader::packetTime(packet);
    if (t == AV_NOPTS_VALUE)
        return {};
    const double begin = m_source.reader.toSeconds(t, s);
    const double length
        = packet->duration > 0 ? m_source.reader.toSeconds(t + packet->duration, s) - begin : 0.0;
    const double endSeconds = m_source.endSeconds;
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
        // The audio frame boundary nearest each mark: frames whose middle is in the range.
        const double middle = begin + length / 2;
        if (middle < m_audioFrom || middle >= endSeconds)
            return {};
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
        if (!trimSubtitle(packet, begin, length))
            return {};
        break;
    case AVMEDIA_TYPE_VIDEO:
        // Another video stream is copied from its first key frame in the range.
        if (begin >= endSeconds)
            return {};
        if (!m_streamStarted[size_t(s)]) {
            if (!(packet->flags & AV_PKT_FLAG_KEY) || begin < m_audioFrom - 1e-6)
                return {};
            m_streamStarted[size_t(s)] = true;
        }
        break;
    default:
        if (begin < m_audioFrom || begin >= endSeconds)
            return {};
        break;
    }
    AvPacketPtr copy(av_packet_clone(packet));
    if (!copy)
        return OutOfMemory();
    return m_writer.write(copy.get(), s);
}

// A demuxer that assembles audio frames from PES packets (MPEG-PS, -TS) gives a frame that
// straddles two of them the time of the second, which belongs to the first frame that starts in
// it: two frames claim one time and the time before it is missing, which muxers refuse or
// players skip. So each audio packet waits for the next one of its stream, and one whose
// successor claims its time (or an earlier one) takes the time where the packet before it ends.
Outcome StreamTrimmer::audio(const AVPacket *packet)
{
    AvPacketPtr next(av_packet_clone(packet));
    if (!next)
        return OutOfMemory();
    const size_t s = size_t(packet->stream_index);
    AvPacketPtr held = std::exchange(m_heldAudio[s], std::move(next));
    return held ? release(held.get(), m_heldAudio[s].get()) : Outcome();
}

Outcome StreamTrimmer::release(AVPacket *held, const AVPacket *next)
{
    const size_t s = size_t(held->stream_index);
    if (next && held->pts != AV_NOPTS_VALUE && next->pts != AV_NOPTS_VALUE
        && next->pts <= held->pts) {
        qint64 pts = held->pts;
        if (m_audioEnd[s] != AV_NOPTS_VALUE)
            pts = m_audioEnd[s];
        else if (held->duration > 0)
            pts = next->pts - held->duration;
        if (pts < held->pts) {
            if (held->dts != AV_NOPTS_VALUE)
                held->dts -= held->pts - pts;
            held->pts = pts;
        }
    }
    if (held->pts != AV_NOPTS_VALUE)
        m_audioEnd[s] = held->pts + held->duration;
    return other(held);
}

Outcome StreamTrimmer::flush()
{
    for (AvPacketPtr &held : m_heldAudio) {
        if (held) {
            if (Outcome written = release(held.get(), nullptr); !written)
                return written;
        }
        held.reset();
    }
    return {};
}
