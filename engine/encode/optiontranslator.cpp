#include "optiontranslator.h"

#include "containerfacts.h"
#include "encoderfacts.h"
#include "timecode.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSize>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <utility>

using namespace EncoderFacts;

namespace {

// One option as ffmpeg reads it: a name and, for options that take one, its value.
struct Option
{
    QString name;
    QString value;
    bool hasValue = false;
};

// The options the rules read or write that take a value. Any other token passes through as
// it stands, in its place.
bool takesValue(const QString &name)
{
    static const QSet<QString> names {
        "-TimeStart",    "-TimeLength", "-ss",        "-t",       "-vcodec",  "-c:v",
        "-codec:v",      "-acodec",     "-c:a",       "-codec:a", "-vb",      "-ab",
        "-b:v",          "-b:a",        "-ar",        "-ac",      "-s",       "-r",
        "-aspect",       "-vf",         "-af",        "-target",  "-f",       "-vpre",
        "-preset",       "-pix_fmt",    "-profile:v", "-level:v", "-maxrate", "-bufsize",
        "-map_chapters",
    };
    return names.contains(name);
}

bool isOneOf(const QString &value, std::initializer_list<const char *> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&value](const char *n) { return value == QLatin1String(n); });
}

bool parseSeconds(const QString &text, double *seconds)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *seconds = v;
    return true;
}

// "800k" -> 800000, "6700" -> 6700, "2M" -> 2000000; 0 when it is not such a number.
qint64 parseBitrate(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,12})([kKM]?)$"));
    const auto m = pattern.match(text);
    if (!m.hasMatch())
        return 0;
    const qint64 n = m.captured(1).toLongLong();
    const QString unit = m.captured(2);
    return unit.isEmpty() ? n : n * (unit == QLatin1String("M") ? 1000000 : 1000);
}

QString bitrateText(qint64 bits)
{
    return bits % 1000 == 0 ? QString::number(bits / 1000) + QLatin1Char('k')
                            : QString::number(bits);
}

// "29.97", "30000/1001" -> frames a second; 0 when it is not a rate.
double parseRate(const QString &text)
{
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    bool ok = false;
    if (slash > 0) {
        bool ok2 = false;
        const double num = text.left(slash).toDouble(&ok);
        const double den = text.mid(slash + 1).toDouble(&ok2);
        return ok && ok2 && den > 0 && std::isfinite(num / den) ? num / den : 0;
    }
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) && v > 0 ? v : 0;
}

std::optional<QSize> parseSize(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})x(\\d{1,9})$"));
    const auto m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return QSize(m.captured(1).toInt(), m.captured(2).toInt());
}

// Rounded down to a multiple of m, at least m.
int downToMultiple(int v, int m)
{
    return std::max(m, v - v % m);
}

// Options whose name changed.
const QHash<QString, QString> &renamedOptions()
{
    static const QHash<QString, QString> table {
        { QStringLiteral("-vb"), QStringLiteral("-b:v") },
        { QStringLiteral("-ab"), QStringLiteral("-b:a") },
        { QStringLiteral("-TimeLength"), QStringLiteral("-t") },
    };
    return table;
}

// Encoders that Debian's ffmpeg no longer has, and what stands in for them.
const QHash<QString, QString> &replacedEncoders()
{
    static const QHash<QString, QString> table {
        { QStringLiteral("libfaac"), QStringLiteral("aac") },
        { QStringLiteral("libvo_aacenc"), QStringLiteral("aac") },
        { QStringLiteral("libopencore_amrnb"), QStringLiteral("aac") },
        { QStringLiteral("amr_nb"), QStringLiteral("aac") },
    };
    return table;
}

// x264 preset files of old releases, as x264's built-in presets.
const QHash<QString, QString> &x264Presets()
{
    static const QHash<QString, QString> table {
        { QStringLiteral("libx264-default"), QStringLiteral("medium") },
        { QStringLiteral("libx264-normal"), QStringLiteral("medium") },
        { QStringLiteral("libx264-veryfast"), QStringLiteral("veryfast") },
        { QStringLiteral("libx264-ultrafast"), QStringLiteral("ultrafast") },
        { QStringLiteral("libx264-fast"), QStringLiteral("fast") },
        { QStringLiteral("libx264-slow"), QStringLiteral("slow") },
        { QStringLiteral("libx264-hq"), QStringLiteral("slow") },
    };
    return table;
}

// Codecs chosen when the options name none, where ffmpeg's own default for the container
// differs from what the format stands for or is missing from Debian's build.
struct ContainerDefaults
{
    const char *extension;
    const char *videoCodec; // nullptr: ffmpeg's default
    const char *audioCodec;
};
const ContainerDefaults kContainerDefaults[] = {
    { "mp4", "mpeg4", nullptr }, // "MPEG-4 Video": MPEG-4 part 2, as the format's name says
    { "m4v", "mpeg4", nullptr },
    { "3gp", "mpeg4", "aac" }, // H.263 fits only five frame sizes; AMR-NB is not built
    { "3g2", "mpeg4", "aac" },
};

// How far before the start an input without a seek index is entered; longer than any
// key-frame interval one meets in practice.
constexpr double kUnindexedSeekMargin = 30.0;

// RealMedia packets hold at most 64 kB; a video buffer of 400 kbit keeps every frame under
// 50 kB.
constexpr const char *kRealVideoBuffer = "400k";
// Frames above this many pixels do not fit RealMedia packets even at the coarsest quantiser.
constexpr int kRealVideoMaxPixels = 2048 * 1152;

// One rotation in degrees, clockwise, as filters that keep the whole picture.
QString rotationFilter(const QString &degreesText)
{
    bool ok = false;
    const int degrees = degreesText.toInt(&ok);
    if (!ok)
        return QStringLiteral("rotate=(%1)*PI/180").arg(degreesText);
    switch (((degrees % 360) + 360) % 360) {
    case 0:
        return QString();
    case 90:
        return QStringLiteral("transpose=clock");
    case 180:
        return QStringLiteral("hflip,vflip");
    case 270:
        return QStringLiteral("transpose=cclock");
    default:
        break;
    }
    const QString angle = QStringLiteral("%1*PI/180").arg(degrees);
    return QStringLiteral("rotate=%1:ow=rotw(%1):oh=roth(%1)").arg(angle);
}

// The frame size after one filter of the chains this translation writes; nullopt for a
// filter whose effect on the size is not known here.
std::optional<QSize> sizeAfter(const QString &filter, QSize size)
{
    static const QRegularExpression crop(QStringLiteral("^crop=(\\d+):(\\d+)(:|$)"));
    static const QRegularExpression scale(QStringLiteral("^scale=(\\d+):(\\d+)$"));
    static const QRegularExpression round(
        QStringLiteral("^scale=trunc\\(iw/(\\d+)\\)\\*\\d+:trunc\\(ih/(\\d+)\\)\\*\\d+$"));
    static const QRegularExpression rotate(
        QStringLiteral("^rotate=(-?\\d+)\\*PI/180:ow=rotw\\(.*\\):oh=roth\\(.*\\)$"));
    if (auto m = crop.match(filter); m.hasMatch())
        return QSize(std::min(size.width(), m.captured(1).toInt()),
                     std::min(size.height(), m.captured(2).toInt()));
    if (auto m = scale.match(filter); m.hasMatch())
        return QSize(m.captured(1).toInt(), m.captured(2).toInt());
    if (auto m = round.match(filter); m.hasMatch()) {
        const int mw = m.captured(1).toInt();
        const int mh = m.captured(2).toInt();
        if (mw <= 0 || mh <= 0)
            return std::nullopt;
        return QSize(downToMultiple(size.width(), mw), downToMultiple(size.height(), mh));
    }
    if (auto m = rotate.match(filter); m.hasMatch()) {
        const double a = m.captured(1).toDouble() * M_PI / 180.0;
        const double c = std::abs(std::cos(a));
        const double s = std::abs(std::sin(a));
        return QSize(int(std::lround(size.width() * c + size.height() * s)),
                     int(std::lround(size.width() * s + size.height() * c)));
    }
    if (filter.startsWith(QLatin1String("transpose=")))
        return size.transposed();
    if (isOneOf(filter, { "hflip", "vflip" }) || filter.startsWith(QLatin1String("rotate=("))
        || filter.startsWith(QLatin1String("setpts=")) || filter.startsWith(QLatin1String("trim="))
        || filter.startsWith(QLatin1String("setsar="))
        || filter.startsWith(QLatin1String("setdar=")))
        return size;
    return std::nullopt;
}

// The frame size of a disc target ("pal-dvd"); invalid for other targets.
QSize discFrameSize(const QString &target)
{
    const bool pal = target.startsWith(QLatin1String("pal-"));
    if (target.endsWith(QLatin1String("-dvd")))
        return QSize(720, pal ? 576 : 480);
    if (target.endsWith(QLatin1String("-svcd")))
        return QSize(480, pal ? 576 : 480);
    if (target.endsWith(QLatin1String("-vcd")))
        return QSize(352, pal ? 288 : 240);
    return QSize();
}

// One translation in progress: the options in ffmpeg's order, the video filter chain kept
// aside, and what the input is known to hold. The rules read and change it.
class Job
{
public:
    QString extension; // lower case, without the dot
    QString inputFormat;
    SourceMedia source;
    DeviceLimits device;

    QList<Option> input;
    QList<Option> output;
    QString startText; // where reading begins, as given
    double decoderSkip = 0; // seconds dropped after entering an unindexed input early
    QStringList chain; // the video filters, in order
    std::optional<QSize> frameSize; // of the encoded video, where it is known
    TranslatedOptions result;
    Error error; // why the options cannot be used; ErrorCode::None while they can

    bool failed() const { return error.isError(); }
    // The options ask for what makes no sense (BadRequest), or for what the chosen format
    // cannot hold (NotPossible).
    void fail(const QString &sentence, ErrorCode code = ErrorCode::BadRequest)
    {
        error = Error { code, sentence };
    }

    qsizetype lastIndex(std::initializer_list<const char *> names) const
    {
        for (qsizetype i = output.size() - 1; i >= 0; --i) {
            if (isOneOf(output.at(i).name, names))
                return i;
        }
        return -1;
    }
    QString value(std::initializer_list<const char *> names) const
    {
        const qsizetype i = lastIndex(names);
        return i < 0 ? QString() : output.at(i).value;
    }
    bool has(const char *name) const { return lastIndex({ name }) >= 0; }
    // Sets the value of the last occurrence, or appends the option.
    void set(const char *name, const QString &value)
    {
        const qsizetype i = lastIndex({ name });
        if (i >= 0)
            output[i].value = value;
        else
            output.append({ QString::fromLatin1(name), value, true });
    }
    void append(const char *name, const QString &value = QString())
    {
        output.append({ QString::fromLatin1(name), value, !value.isEmpty() });
    }
    void removeAll(std::initializer_list<const char *> names)
    {
        output.removeIf([&names](const Option &o) { return isOneOf(o.name, names); });
    }

    // What ffmpeg makes of the options.
    QString target() const { return value({ "-target" }); }
    QString muxer() const
    {
        const qsizetype f = lastIndex({ "-f" });
        const qsizetype t = lastIndex({ "-target" });
        if (t > f) {
            const QString kind = output.at(t).value.section(QLatin1Char('-'), -1);
            return isOneOf(kind, { "dvd", "vcd", "svcd" }) ? kind : QString();
        }
        return MuxerFor(f >= 0 ? output.at(f).value : QString(), extension);
    }
    QString videoCodecOption() const { return value({ "-vcodec", "-c:v", "-codec:v" }); }
    QString audioCodecOption() const { return value({ "-acodec", "-c:a", "-codec:a" }); }
    bool copiesVideo() const { return videoCodecOption() == QLatin1String("copy"); }
    bool copiesAudio() const { return audioCodecOption() == QLatin1String("copy"); }
    bool converts() const { return !copiesVideo() && !copiesAudio(); }
    // The encoder ffmpeg uses for the video; "" when none (copied, disabled or no video).
    QString videoEncoder() const
    {
        if (!writesVideo() || copiesVideo())
            return QString();
        return encoderFor(lastIndex({ "-vcodec", "-c:v", "-codec:v" }), true);
    }
    QString audioEncoder() const
    {
        if (!writesAudio() || copiesAudio())
            return QString();
        return encoderFor(lastIndex({ "-acodec", "-c:a", "-codec:a" }), false);
    }
    bool writesVideo() const
    {
        if (has("-vn") || source.videoStreams == 0)
            return false;
        return copiesVideo()
            || !encoderFor(lastIndex({ "-vcodec", "-c:v", "-codec:v" }), true).isEmpty();
    }
    bool writesAudio() const
    {
        if (has("-an") || source.audioStreams == 0)
            return false;
        return copiesAudio()
            || !encoderFor(lastIndex({ "-acodec", "-c:a", "-codec:a" }), false).isEmpty();
    }
    int channels() const
    {
        const int ac = value({ "-ac" }).toInt();
        return ac > 0 ? ac : source.audioChannels;
    }
    int sampleRate() const
    {
        const int ar = value({ "-ar" }).toInt();
        return ar > 0 ? ar : source.sampleRate;
    }
    double frameRate() const
    {
        const qsizetype r = lastIndex({ "-r" });
        const qsizetype t = lastIndex({ "-target" });
        if (t > r && t >= 0) // the target sets its norm's rate
            return output.at(t).value.startsWith(QLatin1String("pal")) ? 25.0 : 30000.0 / 1001;
        return r >= 0 ? parseRate(output.at(r).value) : source.frameRate;
    }

private:
    QString encoderFor(qsizetype codecIndex, bool video) const
    {
        const qsizetype t = lastIndex({ "-target" });
        if (codecIndex > t)
            return output.at(codecIndex).value;
        if (t >= 0) {
            const QString kind = output.at(t).value.section(QLatin1Char('-'), -1);
            if (video)
                return kind == QLatin1String("vcd") ? QStringLiteral("mpeg1video")
                                                    : QStringLiteral("mpeg2video");
            return kind == QLatin1String("dvd") ? QStringLiteral("ac3") : QStringLiteral("mp2");
        }
        const QString m = muxer();
        return video ? DefaultVideoEncoder(m) : DefaultAudioEncoder(m);
    }
};

// ---- The rules, in the order they run. -----------------------------------------------------

// The dialect's old option names: ffmpeg dropped -vb and -ab; -TimeLength is the dialect's.
void renameOptions(Job &job)
{
    for (Option &o : job.output)
        o.name = renamedOptions().value(o.name, o.name);
}

// The length is read as seconds, so that the progress has a total.
void readLength(Job &job)
{
    const QString length = job.value({ "-t" });
    if (job.has("-t") && !parseSeconds(length, &job.result.lengthSeconds))
        job.fail(QStringLiteral("The length \"%1\" is not a number.").arg(length));
}

// x264 preset files are gone; x264's built-in presets stand in for them.
void x264PresetFiles(Job &job)
{
    for (Option &o : job.output) {
        if (o.name == QLatin1String("-vpre")) {
            o.name = QStringLiteral("-preset");
            o.value = x264Presets().value(o.value, QStringLiteral("medium"));
        }
    }
}

// libfaac and AMR-NB are not in Debian's ffmpeg; its AAC encoder writes what they wrote.
void replaceRemovedEncoders(Job &job)
{
    for (Option &o : job.output) {
        if (isOneOf(o.name, { "-vcodec", "-c:v", "-codec:v", "-acodec", "-c:a", "-codec:a" }))
            o.value = replacedEncoders().value(o.value, o.value);
    }
}

// A few containers get other codecs from today's ffmpeg than the format stands for.
void containerCodecs(Job &job)
{
    for (const ContainerDefaults &d : kContainerDefaults) {
        if (job.extension != QLatin1String(d.extension))
            continue;
        if (d.videoCodec && job.lastIndex({ "-vcodec", "-c:v", "-codec:v" }) < 0 && !job.has("-vn"))
            job.append("-vcodec", QString::fromLatin1(d.videoCodec));
        if (d.audioCodec && job.lastIndex({ "-acodec", "-c:a", "-codec:a" }) < 0 && !job.has("-an"))
            job.append("-acodec", QString::fromLatin1(d.audioCodec));
    }
}

// A target without a television norm ("dvd", "vcd", "svcd") takes it from the frame size or
// rate asked for: 576 or 288 lines, or 25 or 50 frames a second, are PAL; else NTSC.
void televisionNorm(Job &job)
{
    const qsizetype t = job.lastIndex({ "-target" });
    if (t < 0 || job.output.at(t).value.contains(QLatin1Char('-')))
        return;
    const QString size = job.value({ "-s" });
    const QString rate = job.value({ "-r" });
    const bool pal = size.endsWith(QLatin1String("x576")) || size.endsWith(QLatin1String("x288"))
        || rate == QLatin1String("25") || rate == QLatin1String("50");
    job.output[t].value.prepend(pal ? QStringLiteral("pal-") : QStringLiteral("ntsc-"));
}

// An output without an extension is written in the input's kind of container.
void muxerForExtensionlessOutput(Job &job)
{
    if (!job.extension.isEmpty() || job.has("-f") || job.has("-target"))
        return;
    const QString muxer = MuxerForInputFormat(job.inputFormat);
    if (muxer.isEmpty())
        job.fail(QStringLiteral("The output has no extension to choose its format by."));
    else
        job.append("-f", muxer);
}

// The start is an input seek: ffmpeg then seeks instead of decoding and dropping everything
// before it. Containers without a seek index land only near the time, so an encoded job
// enters them earlier and drops the rest exactly; a copy seeks to the start as it stands.
void seekToStart(Job &job)
{
    const QString &startText = job.startText;
    if (startText.isEmpty())
        return;
    if (!parseSeconds(startText, &job.result.startSeconds)) {
        job.fail(QStringLiteral("The start \"%1\" is not a number.").arg(startText));
        return;
    }
    const double start = job.result.startSeconds;
    const bool unindexed = HasNoSeekIndex(job.inputFormat) && start > 0;
    if (unindexed && !job.copiesVideo()) {
        // The frames up to the start are dropped after decoding (see framesOfTheRange()).
        const double early = std::max(0.0, start - kUnindexedSeekMargin);
        job.input.append({ QStringLiteral("-ss"), NumberText(early), true });
        job.decoderSkip = start - early;
    } else {
        job.input.append({ QStringLiteral("-ss"), startText, true });
    }
}

// Filters cannot apply to a copied video stream (ffmpeg refuses the whole job), nor to video
// that is not written.
void filtersOnlyForEncodedVideo(Job &job)
{
    if (job.copiesVideo() || !job.writesVideo())
        job.chain.clear();
}

// An encoded picture holds exactly the frames of the range: the first frame that starts at or
// after the start and the last one that starts before the end. The first kept frame rarely
// starts on the start itself (a typed time between two frames, a video track that starts a
// little after the audio); left there, a constant-rate output repeats it and loses the last
// frame of the range. So the frames are chosen by their own times and the first one is moved
// to 0 (the audio, cut to the sample, stays within one frame of it). An input entered early
// drops what comes before the start here too, the sound with it.
void framesOfTheRange(Job &job)
{
    const double skip = job.decoderSkip;
    const double length = job.result.lengthSeconds;
    if (job.videoEncoder().isEmpty() || (skip <= 0 && length < 0)) {
        if (skip > 0)
            job.append("-ss", NumberText(skip));
        return;
    }
    QStringList trim;
    if (skip > 0)
        trim << QStringLiteral("start=") + NumberText(skip);
    if (length >= 0)
        trim << QStringLiteral("end=") + NumberText(skip + length);
    job.chain.prepend(QStringLiteral("setpts=PTS-STARTPTS"));
    job.chain.prepend(QStringLiteral("trim=") + trim.join(QLatin1Char(':')));
    if (skip > 0 && !job.has("-an") && job.source.audioStreams != 0)
        job.append("-af",
                   QStringLiteral("atrim=start=%1,asetpts=PTS-STARTPTS").arg(NumberText(skip)));
}

// Rotations in degrees become filters that take them; right angles turn the frame exactly.
void rotationFilters(Job &job)
{
    QStringList chain;
    for (const QString &filter : std::as_const(job.chain)) {
        if (filter.startsWith(QLatin1String("rotate="))) {
            const QString rotated = rotationFilter(filter.mid(7));
            if (!rotated.isEmpty())
                chain << rotated;
        } else {
            chain << filter;
        }
    }
    job.chain = chain;
}

// The frame size is set at the end of the chain, rounded to what the encoder takes: -s would
// scale after every filter anyway, and a crop or a rotation that is not a right angle can end
// on odd sides, which 4:2:0 encoders refuse (RealVideo wants multiples of 4). Without a size
// the chain ends in rounding, a no-op for frames that already fit.
void frameSizeAtEndOfChain(Job &job)
{
    const QString encoder = job.videoEncoder();
    if (encoder.isEmpty())
        return;
    const int m = SizeMultiple(encoder);
    std::optional<QSize> asked = parseSize(job.value({ "-s" }));
    if (const QSize disc = discFrameSize(job.target()); disc.isValid())
        asked = disc; // a disc plays its norm's frame size only (-target scales to it last)
    if (asked) {
        int w = downToMultiple(asked->width(), m);
        int h = downToMultiple(asked->height(), m);
        if (encoder == QLatin1String("mpeg2video")) { // it refuses sides of 4096 multiples
            w -= w % 4096 == 0 ? m : 0;
            h -= h % 4096 == 0 ? m : 0;
        }
        job.removeAll({ "-s" });
        job.chain << QStringLiteral("scale=%1:%2").arg(w).arg(h);
        job.frameSize = QSize(w, h);
        return;
    }
    if (job.has("-s"))
        return; // a size ffmpeg reads by name
    static const QRegularExpression scale(QStringLiteral("^scale=(\\d+):(\\d+)$"));
    if (const auto last = scale.match(job.chain.value(job.chain.size() - 1)); last.hasMatch()) {
        job.chain.last() = QStringLiteral("scale=%1:%2")
                               .arg(downToMultiple(last.captured(1).toInt(), m))
                               .arg(downToMultiple(last.captured(2).toInt(), m));
    } else {
        job.chain << QStringLiteral("scale=trunc(iw/%1)*%1:trunc(ih/%1)*%1").arg(m);
    }
    if (job.source.width <= 0 || job.source.height <= 0)
        return;
    std::optional<QSize> size = QSize(job.source.width, job.source.height);
    for (const QString &filter : std::as_const(job.chain)) {
        size = sizeAfter(filter, *size);
        if (!size)
            return;
    }
    job.frameSize = size;
}

// A device plays frames up to its box: a larger frame (a bigger Video Size, or the source's
// own) is scaled down to fit in it, keeping the picture's shape, to sides the encoder takes.
// The video bit rate, which the preset gives in proportion to the frame's pixels, shrinks
// with it. Discs are left alone: their target fixes the frame already.
void deviceFrameBox(Job &job)
{
    const DeviceLimits &device = job.device;
    const QString encoder = job.videoEncoder();
    if (!device.limitsSize() || encoder.isEmpty() || !job.target().isEmpty())
        return;
    const int m = SizeMultiple(encoder);
    if (!job.frameSize) {
        // The size is known only to ffmpeg: the same fit, as an expression it evaluates.
        job.chain << QStringLiteral("scale=w='min(iw,%1)':h='min(ih,%2)'"
                                    ":force_original_aspect_ratio=decrease:force_divisible_by=%3")
                         .arg(device.maxWidth)
                         .arg(device.maxHeight)
                         .arg(m);
        return;
    }
    const QSize frame = *job.frameSize;
    if (frame.width() <= device.maxWidth && frame.height() <= device.maxHeight)
        return;
    const double f = std::min(double(device.maxWidth) / frame.width(),
                              double(device.maxHeight) / frame.height());
    const int w = std::max(
        m, downToMultiple(std::min(device.maxWidth, int(std::lround(frame.width() * f))), m));
    const int h = std::max(
        m, downToMultiple(std::min(device.maxHeight, int(std::lround(frame.height() * f))), m));
    static const QRegularExpression scale(QStringLiteral("^scale=\\d+:\\d+$"));
    if (!job.chain.isEmpty() && scale.match(job.chain.last()).hasMatch())
        job.chain.last() = QStringLiteral("scale=%1:%2").arg(w).arg(h);
    else
        job.chain << QStringLiteral("scale=%1:%2").arg(w).arg(h);
    job.frameSize = QSize(w, h);
    if (const qint64 bitrate = parseBitrate(job.value({ "-b:v" })); bitrate > 0) {
        const double share = double(w) * h / (double(frame.width()) * frame.height());
        job.set("-b:v", bitrateText(std::max<qint64>(1, qint64(bitrate * share / 1000)) * 1000));
    }
}

// A device decodes up to its frame rate: a higher Frame Rate (or the source's own) is lowered
// to it, dropping frames evenly.
void deviceFrameRate(Job &job)
{
    const double most = job.device.maxFrameRate;
    if (most <= 0 || job.videoEncoder().isEmpty() || !job.target().isEmpty())
        return;
    if (job.frameRate() > most + 1e-3)
        job.set("-r", NumberText(most));
}

// MPEG-4 part 2 and the H.263 family write the pixel aspect as two numbers up to 255; a finer
// ratio (from a stretched frame or -aspect) is written rounded, and the MP4 and MOV muxers
// then refuse the stream because its ratio differs from the container's.
void aspectTheEncoderWrites(Job &job)
{
    if (!ByteSizedAspect(job.videoEncoder()))
        return;
    const QString aspect = job.value({ "-aspect" });
    if (job.has("-aspect") && !aspect.isEmpty()) {
        job.removeAll({ "-aspect" });
        QString ratio = aspect;
        job.chain << QStringLiteral("setdar=r=%1:max=255")
                         .arg(ratio.replace(QLatin1Char(':'), QLatin1Char('/')));
    } else {
        job.chain << QStringLiteral("setsar=r=sar:max=255");
    }
}

// 8-bit 4:2:0: 10-bit, 4:2:2 and 4:4:4 sources would otherwise give High 10 or High 4:2:2
// H.264 and 4:2:2 MPEG-2, which devices, browsers and DVD players do not play.
void eightBit420(Job &job)
{
    if (TakesYuv420p(job.videoEncoder()))
        job.set("-pix_fmt", QStringLiteral("yuv420p"));
}

// Encoders with a fixed list of frame rates (MPEG-1) refuse any other; the nearest is used.
void frameRateTheEncoderTakes(Job &job)
{
    const QList<std::pair<int, int>> rates = FrameRates(job.videoEncoder());
    const double rate = job.frameRate();
    if (rates.isEmpty() || rate <= 0)
        return;
    std::pair<int, int> best = rates.first();
    for (const auto &r : rates) {
        const double v = double(r.first) / r.second;
        if (std::abs(v - rate) < 1e-3)
            return;
        if (std::abs(v - rate) < std::abs(double(best.first) / best.second - rate))
            best = r;
    }
    job.set("-r", QStringLiteral("%1/%2").arg(best.first).arg(best.second));
}

// H.264 in MP4 is what the phones, players and consoles of the catalogue play, each up to a
// profile and level: frames up to 480 lines (720 x 576) go as Constrained Baseline, which every
// one of them decodes; up to 720p as Main (the iPad, iPhone 4, Apple TV and Android pads);
// larger as High. The level is the lowest that holds the frame size, the rate and the bit
// rate (at least 3 and 3.1 for the first two), and the encoder is held to its buffer limits.
void h264ProfileAndLevel(Job &job)
{
    if (job.videoEncoder() != QLatin1String("libx264") || !isOneOf(job.muxer(), { "mp4", "ipod" })
        || !job.frameSize)
        return;
    const qint64 mbs
        = qint64((job.frameSize->width() + 15) / 16) * ((job.frameSize->height() + 15) / 16);
    double rate = job.frameRate();
    if (rate <= 0 || rate > 240)
        rate = 30;
    const qint64 bitrateKbps = parseBitrate(job.value({ "-b:v" })) / 1000;
    const auto levels = H264Levels();
    QString profile = QStringLiteral("high");
    QString floor;
    if (mbs <= 1620) {
        profile = QStringLiteral("baseline");
        floor = QStringLiteral("3");
    } else if (mbs <= 3600) {
        profile = QStringLiteral("main");
        floor = QStringLiteral("3.1");
    }
    const double factor = profile == QLatin1String("high") ? 1.25 : 1.0;
    bool reached = floor.isEmpty();
    for (const H264Level &level : levels) {
        reached = reached || floor == QLatin1String(level.name);
        if (!reached || mbs > level.maxFrameMacroblocks
            || mbs * rate > double(level.maxMacroblocksPerSecond) + 0.5
            || bitrateKbps > level.maxBitrateKbps * factor)
            continue;
        job.set("-profile:v", profile);
        job.set("-level:v", QString::fromLatin1(level.name));
        job.set("-maxrate", QStringLiteral("%1k").arg(qint64(level.maxBitrateKbps * factor)));
        job.set("-bufsize", QStringLiteral("%1k").arg(qint64(level.maxBufferKbits * factor)));
        return;
    }
    job.set("-profile:v", profile); // larger than any level: x264 names the level itself
}

// The RealMedia muxer refuses packets over 64 kB, and one frame is one packet: the encoder's
// buffer bounds every frame. Frames too large for that even at the coarsest quantiser are
// refused.
void realMediaPackets(Job &job)
{
    if (job.muxer() != QLatin1String("rm") || job.videoEncoder().isEmpty())
        return;
    if (job.frameSize
        && job.frameSize->width() * qint64(job.frameSize->height()) > kRealVideoMaxPixels) {
        job.fail(QStringLiteral("RealVideo cannot hold frames larger than 2048 x 1152; choose a "
                                "smaller Video Size."),
                 ErrorCode::NotPossible);
        return;
    }
    // The encoder takes a buffer only with a rate limit; RealVideo goes at 1000 kbit/s at most.
    const qint64 bitrate = parseBitrate(job.value({ "-b:v" }));
    if (!job.has("-maxrate"))
        job.set("-maxrate", bitrate > 0 ? bitrateText(bitrate) : QStringLiteral("1000k"));
    job.set("-bufsize", QString::fromLatin1(kRealVideoBuffer));
}

// MPEG-1 video has 12-bit frame sides.
void refuseFrameSidesTooLarge(Job &job)
{
    const int max = MaxFrameSide(job.videoEncoder());
    if (max > 0 && job.frameSize && std::max(job.frameSize->width(), job.frameSize->height()) > max)
        job.fail(QStringLiteral("MPEG-1 video cannot be wider or taller than %1 pixels; choose a "
                                "smaller Video Size.")
                     .arg(max),
                 ErrorCode::NotPossible);
}

// SWF stores the frame rate in 8 bits before the point.
void refuseSwfFrameRate(Job &job)
{
    if (job.muxer() == QLatin1String("swf") && job.writesVideo() && job.frameRate() >= 256)
        job.fail(QStringLiteral("SWF cannot show 256 or more frames a second; lower Frame Rate "
                                "(FPS)."),
                 ErrorCode::NotPossible);
}

// DVD-Video carries audio at 48 kHz only; the -ar that follows -target would otherwise win.
void discAudioRate(Job &job)
{
    if (job.target().endsWith(QLatin1String("dvd")) && job.writesAudio() && !job.copiesAudio())
        job.set("-ar", QStringLiteral("48000"));
}

// An audio encoder (or container) with a fixed set of sample rates refuses any other, as AC-3
// refuses 22050 Hz: the nearest rate it takes is used.
void sampleRateTheEncoderTakes(Job &job)
{
    const QList<int> rates = SampleRates(job.audioEncoder(), job.muxer());
    const int rate = job.sampleRate();
    if (rates.isEmpty() || rate <= 0 || rates.contains(rate))
        return;
    int best = rates.first();
    for (const int r : rates) {
        if (std::abs(r - rate) <= std::abs(best - rate)) // a tie goes to the higher rate
            best = r;
    }
    job.set("-ar", QString::number(best));
}

// MP3, MP2 and WMA take at most two channels. The argument builder down-mixes what the probe
// counts; ffmpeg may pick another track of the source, with more channels.
void channelsTheEncoderTakes(Job &job)
{
    const int most = MaxChannels(job.audioEncoder());
    if (most > 0 && job.channels() > most)
        job.set("-ac", QString::number(std::min(most, 2)));
}

// MPEG audio layer II takes only the bit rates of its table, WMA none under 24 kbit/s, and
// Vorbis a range that depends on the sample rate and channels: the nearest one it takes.
void audioBitrateTheEncoderTakes(Job &job)
{
    const QString encoder = job.audioEncoder();
    const qint64 asked = parseBitrate(job.value({ "-b:a" }));
    if (encoder.isEmpty() || asked <= 0)
        return;
    const qint64 bitrate = NearestAudioBitrate(encoder, job.sampleRate(), job.channels(), asked);
    if (bitrate != asked)
        job.set("-b:a", bitrateText(bitrate));
}

// A converted file holds what its format plays: ffmpeg's pick of one video and one audio
// stream, subtitles only in Matroska and WebM, which take them, and no data streams. Chapters
// stay out of the MP4 family, which writes them as a text track that shows up as a data
// stream.
void streamsTheFormatPlays(Job &job)
{
    if (!job.converts())
        return;
    const QString muxer = job.muxer();
    if (!isOneOf(muxer, { "matroska", "webm" }))
        job.append("-sn");
    job.append("-dn");
    if (isOneOf(muxer, { "mp4", "mov", "3gp", "3g2", "ipod", "psp", "ismv", "f4v" }))
        job.append("-map_chapters", QStringLiteral("-1"));
}

// The maps of a choice of tracks, made one stream at a time, and what the format left out.
struct ChosenMaps
{
    QString muxer;
    QString format; // as the notes name it
    bool several = false; // the format holds several video (audio) tracks
    QList<Option> maps;
    int videos = 0;
    int audios = 0;
    int subtitles = 0;
    bool droppedVideo = false;
    bool droppedAudio = false;

    void map(const SourceStream &s)
    {
        maps.append({ QStringLiteral("-map"), QStringLiteral("0:%1").arg(s.index), true });
    }

    // A picture or sound track: mapped while the format has room for it, else left out.
    void mapTrack(const SourceStream &s, bool written, int &count, bool &dropped)
    {
        if (written && (count == 0 || several)) {
            map(s);
            ++count;
        } else {
            dropped = dropped || written;
        }
    }

    void add(const SourceStream &s, Job &job)
    {
        switch (s.kind) {
        case SourceStream::Kind::Video:
            mapTrack(s, job.writesVideo(), videos, droppedVideo);
            break;
        case SourceStream::Kind::Audio:
            mapTrack(s, job.writesAudio(), audios, droppedAudio);
            break;
        case SourceStream::Kind::Subtitle: {
            const QString codec = SubtitleCodecFor(muxer, s.codec);
            if (codec.isEmpty()) {
                job.result.notes << QStringLiteral("leaves out subtitle track %1: %2 holds no %3 "
                                                   "subtitles")
                                        .arg(QString::number(s.index), format, s.codec);
                break;
            }
            map(s);
            maps.append({ QStringLiteral("-c:s:%1").arg(subtitles++), codec, true });
            break;
        }
        case SourceStream::Kind::Other:
            job.result.notes << QStringLiteral("leaves out track %1: a converted file holds "
                                               "video, audio and subtitles only")
                                    .arg(s.index);
            break;
        }
    }
};

// A choice of tracks: each chosen stream is mapped by its index, in the source's order, as far
// as the format holds it. A format with one audio (or video) track keeps the first chosen one;
// subtitles go where the container carries them, converted to the text format it takes. What
// is left out is said in a note, and a choice that leaves nothing to save is refused.
void chosenStreams(Job &job)
{
    if (job.source.chosen.isEmpty() || !job.converts())
        return;
    ChosenMaps chosen;
    chosen.muxer = job.muxer();
    chosen.format = job.extension.isEmpty() ? chosen.muxer : job.extension.toUpper();
    chosen.several = HoldsSeveralTracks(chosen.muxer);
    for (const SourceStream &s : std::as_const(job.source.chosen))
        chosen.add(s, job);
    if (chosen.videos == 0 && chosen.audios == 0) {
        job.fail(QStringLiteral("There is nothing to save: %1 keeps none of the chosen tracks.")
                     .arg(chosen.format),
                 ErrorCode::NotPossible);
        return;
    }
    if (chosen.droppedVideo)
        job.result.notes
            << QStringLiteral("keeps one video track: %1 holds one").arg(chosen.format);
    if (chosen.droppedAudio)
        job.result.notes
            << QStringLiteral("keeps one audio track: %1 holds one").arg(chosen.format);
    if (chosen.subtitles > 0)
        job.removeAll({ "-sn" });
    job.output << chosen.maps;
}

// The rules in the order they run, each with its reason above its function.
struct Rule
{
    const char *name;
    void (*apply)(Job &);
};
const Rule kRules[] = {
    { "dialect option names", renameOptions },
    { "length in seconds", readLength },
    { "x264 preset files", x264PresetFiles },
    { "removed encoders", replaceRemovedEncoders },
    { "container codecs", containerCodecs },
    { "television norm", televisionNorm },
    { "muxer of an output without extension", muxerForExtensionlessOutput },
    { "start as an input seek", seekToStart },
    { "filters only for encoded video", filtersOnlyForEncodedVideo },
    { "frames of the range", framesOfTheRange },
    { "rotation filters", rotationFilters },
    { "frame size at the end of the chain", frameSizeAtEndOfChain },
    { "device frame box", deviceFrameBox },
    { "device frame rate", deviceFrameRate },
    { "aspect the encoder writes", aspectTheEncoderWrites },
    { "8-bit 4:2:0", eightBit420 },
    { "frame rate the encoder takes", frameRateTheEncoderTakes },
    { "H.264 profile and level", h264ProfileAndLevel },
    { "RealMedia packet size", realMediaPackets },
    { "frame sides too large", refuseFrameSidesTooLarge },
    { "SWF frame rate", refuseSwfFrameRate },
    { "disc audio rate", discAudioRate },
    { "sample rate the encoder takes", sampleRateTheEncoderTakes },
    { "channels the encoder takes", channelsTheEncoderTakes },
    { "audio bit rate the encoder takes", audioBitrateTheEncoderTakes },
    { "streams the format plays", streamsTheFormatPlays },
    { "chosen streams", chosenStreams },
};

// Reads a token list into options; false with the job's error set on an option that lacks
// its value.
bool readOptions(const QStringList &tokens, QList<Option> *options, Job &job)
{
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QString &name = tokens.at(i);
        if (!takesValue(name)) {
            options->append({ name, QString(), false });
            continue;
        }
        if (i + 1 >= tokens.size()) {
            job.fail(QStringLiteral("The option %1 has no value.").arg(name));
            return false;
        }
        options->append({ name, tokens.at(++i), true });
    }
    return true;
}

QStringList flatten(const QList<Option> &options)
{
    QStringList args;
    for (const Option &o : options) {
        args << o.name;
        if (o.hasValue)
            args << o.value;
    }
    return args;
}

} // namespace

Result<QStringList> TokenizeOptions(const QString &options)
{
    QStringList tokens;
    QString current;
    bool inQuotes = false;
    bool haveToken = false;
    for (const QChar c : options) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            haveToken = true;
        } else if (!inQuotes && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (haveToken)
                tokens << current;
            current.clear();
            haveToken = false;
        } else {
            current += c;
            haveToken = true;
        }
    }
    if (inQuotes)
        return Error { ErrorCode::BadRequest,
                       QStringLiteral("Unbalanced quotes in the encoder options.") };
    if (haveToken)
        tokens << current;
    return tokens;
}

Result<TranslatedOptions> TranslateOptions(const QString &inputOptions,
                                           const QString &outputOptions,
                                           const QString &outputExtension,
                                           const QString &inputFormatName,
                                           const SourceMedia &source, const DeviceLimits &device)
{
    Job job;
    job.device = device;
    job.extension = outputExtension.toLower();
    job.inputFormat = inputFormatName;
    job.source = source;

    const Result<QStringList> in = TokenizeOptions(inputOptions);
    const Result<QStringList> out = TokenizeOptions(outputOptions);
    if (!in || !out)
        return (in ? out : in).error();
    QList<Option> inputOptionList;
    QList<Option> outputOptionList;
    if (!readOptions(in.value(), &inputOptionList, job)
        || !readOptions(out.value(), &outputOptionList, job))
        return job.error;

    // The start, wherever it stands, and the filter chain (the last -vf wins, as in ffmpeg)
    // are kept aside; every other option keeps its place.
    for (const Option &o : std::as_const(inputOptionList)) {
        if (isOneOf(o.name, { "-TimeStart", "-ss" }))
            job.startText = o.value;
        else
            job.input.append(o);
    }
    for (const Option &o : std::as_const(outputOptionList)) {
        if (isOneOf(o.name, { "-TimeStart", "-ss" }))
            job.startText = o.value;
        else if (o.name == QLatin1String("-vf"))
            job.chain = o.value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        else
            job.output.append(o);
    }

    for (const Rule &rule : kRules) {
        rule.apply(job);
        if (job.failed())
            return job.error;
    }

    TranslatedOptions &result = job.result;
    result.inputArgs = flatten(job.input);
    result.outputArgs = flatten(job.output);
    if (!job.chain.isEmpty())
        result.outputArgs << QStringLiteral("-vf") << job.chain.join(QLatin1Char(','));
    result.copiesVideo = job.copiesVideo();
    result.decoderSkipSeconds = job.decoderSkip;
    return result;
}
