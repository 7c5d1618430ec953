#pragma once

#include <QList>
#include <QString>

// One stream of a source file as the track choice shows it: the container's index, what it
// carries, and what tells it from its neighbours.
struct SourceStream
{
    enum class Kind { Video, Audio, Subtitle, Other };

    int index = -1; // the container's stream index, as -map 0:N names it
    Kind kind = Kind::Other;
    QString codec; // libavcodec's short name ("h264", "aac", "subrip"); "" when unknown
    QString language; // the language tag as the file has it ("eng"); "" when none
    QString title; // "" when none
    int channels = 0; // audio
    int sampleRate = 0;
    int width = 0; // video
    int height = 0;
    bool isDefault = false; // the file marks it as the default of its kind

    bool operator==(const SourceStream &) const = default;
};

// "video", "audio", "subtitle" or "other".
QString StreamKindName(SourceStream::Kind kind);

// What the track list shows of a stream: the kind, the codec, the size or the channels, the
// language and the title, for example "audio aac 2 ch eng \"Commentary\"".
QString DescribeStream(const SourceStream &stream);

// The streams a conversion keeps when nobody chooses: ffmpeg's own pick of one video (the
// largest picture, a default stream first), one audio stream (the most channels, a default
// stream first) and, where the format carries subtitles, the first subtitle stream. Indexes,
// ascending.
QList<int> ConvertDefaultChoice(const QList<SourceStream> &streams, bool withSubtitles = false);

// The stream of this index; nullptr when the source has none.
const SourceStream *FindStream(const QList<SourceStream> &streams, int index);

// Whether the streams are worth a choice at all: more than one video or audio stream, or a
// subtitle.
bool OffersTrackChoice(const QList<SourceStream> &streams);
