#pragma once

#include "copysource.h"

#include <vector>

// The packets of a copy's other streams (audio, subtitles, further video, data), cut to the
// range and written: audio at the audio frame boundary nearest each mark, subtitles shown
// across a mark shown up to it, another video stream from its first key frame in the range.
class StreamTrimmer
{
public:
    // audioFrom: seconds; audio frames whose middle is in [audioFrom, the end) are kept.
    StreamTrimmer(CopySource &source, CutWriter &writer, double audioFrom);

    // An audio packet: held until the next one of its stream comes (see the .cpp).
    Outcome audio(const AVPacket *packet);
    // A packet of any stream but the main video, written when it is in the range.
    Outcome other(AVPacket *packet);
    // Writes the audio packets still held, at the end of the reading.
    Outcome flush();

private:
    Outcome release(AVPacket *held, const AVPacket *next);
    // False when the subtitle is shown outside the range; else cut to it.
    bool trimSubtitle(AVPacket *packet, double begin, double length) const;

    CopySource &m_source;
    CutWriter &m_writer;
    double m_audioFrom = 0;
    std::vector<bool> m_streamStarted;
    std::vector<AvPacketPtr> m_heldAudio; // by stream: the last packet read, not yet handled
    std::vector<qint64> m_audioEnd; // by stream: where the last audio packet handled ends
};
