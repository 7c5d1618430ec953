#include "optiontranslator.h"

#include "timecode.h"

#include <QHash>
#include <QRegularExpression>

#include <cmath>

namespace {

// Options whose name changed.
const QHash<QString, QString> &renamedOptions()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("-vb"), QStringLiteral("-b:v")},
        {QStringLiteral("-ab"), QStringLiteral("-b:a")},
        {QStringLiteral("-TimeLength"), QStringLiteral("-t")},
    };
    return table;
}

// Encoders that Debian's ffmpeg no longer has, and what stands in for them.
const QHash<QString, QString> &replacedEncoders()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("libfaac"), QStringLiteral("aac")},
        {QStringLiteral("libvo_aacenc"), QStringLiteral("aac")},
        {QStringLiteral("libopencore_amrnb"), QStringLiteral("aac")},
        {QStringLiteral("amr_nb"), QStringLiteral("aac")},
    };
    return table;
}

// x264 preset files of old releases, as x264's built-in presets.
const QHash<QString, QString> &x264Presets()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("libx264-default"), QStringLiteral("medium")},
        {QStringLiteral("libx264-normal"), QStringLiteral("medium")},
        {QStringLiteral("libx264-veryfast"), QStringLiteral("veryfast")},
        {QStringLiteral("libx264-ultrafast"), QStringLiteral("ultrafast")},
        {QStringLiteral("libx264-fast"), QStringLiteral("fast")},
        {QStringLiteral("libx264-slow"), QStringLiteral("slow")},
        {QStringLiteral("libx264-hq"), QStringLiteral("slow")},
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
    {"mp4", "mpeg4", nullptr},  // "MPEG-4 Video": MPEG-4 part 2, as the format's name says
    {"m4v", "mpeg4", nullptr},
    {"3gp", "mpeg4", "aac"},    // H.263 fits only five frame sizes; AMR-NB is not built
    {"3g2", "mpeg4", "aac"},
};

bool isTimeOption(const QString &name)
{
    return name == QLatin1String("-TimeStart") || name == QLatin1String("-ss");
}

// "WxH" with both made even (rounded down, at least 2): the 4:2:0 encoders need even sizes.
QString evenSize(const QString &size)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+)x(\\d+)$"));
    const auto m = pattern.match(size);
    if (!m.hasMatch())
        return size;
    auto even = [](qlonglong v) { return std::max<qlonglong>(2, v - (v % 2)); };
    return QStringLiteral("%1x%2")
        .arg(even(m.captured(1).toLongLong()))
        .arg(even(m.captured(2).toLongLong()));
}

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

// Rewrites a -vf chain: rotations in degrees become filters that take them, and a crop that
// is not followed by a scale is rounded to even dimensions.
QString translateFilterChain(const QString &chain)
{
    QStringList out;
    bool cropWithoutScale = false;
    for (const QString &filter : chain.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (filter.startsWith(QLatin1String("rotate="))) {
            const QString rotated = rotationFilter(filter.mid(7));
            if (!rotated.isEmpty())
                out << rotated;
        } else if (filter.startsWith(QLatin1String("scale="))) {
            out << filter;
            cropWithoutScale = false;
        } else {
            out << filter;
            if (filter.startsWith(QLatin1String("crop=")))
                cropWithoutScale = true;
        }
    }
    if (cropWithoutScale)
        out << QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2");
    return out.join(QLatin1Char(','));
}

// How far before the start such an input is entered; longer than any key-frame interval one
// meets in practice.
constexpr double kUnindexedSeekMargin = 30.0;

bool parseSeconds(const QString &text, double *seconds)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *seconds = v;
    return true;
}

} // namespace

QStringList TokenizeOptions(const QString &options, bool *ok)
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
    if (haveToken)
        tokens << current;
    if (ok)
        *ok = !inQuotes;
    return tokens;
}

bool HasNoSeekIndex(const QString &inputFormatName)
{
    static const char *const formats[] = {"mpegts", "mpegtsraw", "mpeg", "mpegvideo", "h264",
                                          "hevc", "m4v", "ogg", "dv", "rm"};
    const QString first = inputFormatName.section(QLatin1Char(','), 0, 0);
    for (const char *f : formats) {
        if (first == QLatin1String(f))
            return true;
    }
    return false;
}

QString MuxerForInputFormat(const QString &inputFormatName)
{
    static const QHash<QString, QString> table{
        {QStringLiteral("mov"), QStringLiteral("mp4")},
        {QStringLiteral("matroska"), QStringLiteral("matroska")},
        {QStringLiteral("aac"), QStringLiteral("adts")},
        {QStringLiteral("mpeg"), QStringLiteral("mpeg")},
        {QStringLiteral("mpegvideo"), QStringLiteral("mpeg1video")},
    };
    const QString first = inputFormatName.section(QLatin1Char(','), 0, 0);
    return table.value(first, first);
}

TranslatedOptions TranslateOptions(const QString &inputOptions, const QString &outputOptions,
                                   const QString &outputExtension, const QString &inputFormatName,
                                   double copyKeyFrameSeconds)
{
    TranslatedOptions result;
    bool okIn = true;
    bool okOut = true;
    const QStringList in = TokenizeOptions(inputOptions, &okIn);
    const QStringList out = TokenizeOptions(outputOptions, &okOut);
    if (!okIn || !okOut) {
        result.error = QStringLiteral("Unbalanced quotes in the encoder options.");
        return result;
    }

    QString startText;
    double decoderSkip = 0; // seconds the decoder drops after entering an unindexed input early
    bool haveVideoCodec = false;
    bool haveAudioCodec = false;
    bool copyVideo = false;
    bool haveFormat = false;
    QString filterChain;
    QStringList outputArgs;
    qsizetype lengthIndex = -1; // where the length's value stands in outputArgs

    auto takeValue = [&](const QStringList &list, int &i, QString *value) {
        if (i + 1 >= list.size()) {
            result.error = QStringLiteral("The option %1 has no value.").arg(list.at(i));
            return false;
        }
        *value = list.at(++i);
        return true;
    };

    // Input options: only the start time is the program's own; the rest pass through.
    for (int i = 0; i < in.size(); ++i) {
        const QString &name = in.at(i);
        if (isTimeOption(name)) {
            if (!takeValue(in, i, &startText))
                return result;
        } else {
            result.inputArgs << name;
        }
    }

    for (int i = 0; i < out.size(); ++i) {
        QString name = out.at(i);
        QString value;
        if (isTimeOption(name)) {
            // A start among the output options is moved before the input: ffmpeg then seeks
            // instead of reading and dropping everything before it.
            if (!takeValue(out, i, &startText))
                return result;
            continue;
        }
        if (name == QLatin1String("-vpre")) {
            if (!takeValue(out, i, &value))
                return result;
            outputArgs << QStringLiteral("-preset")
                       << x264Presets().value(value, QStringLiteral("medium"));
            continue;
        }
        name = renamedOptions().value(name, name);
        if (name == QLatin1String("-vcodec") || name == QLatin1String("-c:v")
            || name == QLatin1String("-acodec") || name == QLatin1String("-c:a")) {
            if (!takeValue(out, i, &value))
                return result;
            value = replacedEncoders().value(value, value);
            const bool video = name == QLatin1String("-vcodec") || name == QLatin1String("-c:v");
            (video ? haveVideoCodec : haveAudioCodec) = true;
            if (video && value == QLatin1String("copy"))
                copyVideo = true;
            outputArgs << name << value;
            continue;
        }
        if (name == QLatin1String("-s")) {
            if (!takeValue(out, i, &value))
                return result;
            outputArgs << name << evenSize(value);
            continue;
        }
        if (name == QLatin1String("-vf")) {
            // Kept aside: the last filter option wins, as in ffmpeg, and a copied video
            // stream gets none.
            if (!takeValue(out, i, &value))
                return result;
            filterChain = translateFilterChain(value);
            continue;
        }
        if (name == QLatin1String("-t")) {
            if (!takeValue(out, i, &value))
                return result;
            if (!parseSeconds(value, &result.lengthSeconds)) {
                result.error = QStringLiteral("The length \"%1\" is not a number.").arg(value);
                return result;
            }
            lengthIndex = outputArgs.size() + 1;
            outputArgs << name << value;
            continue;
        }
        if (name == QLatin1String("-target")) {
            if (!takeValue(out, i, &value))
                return result;
            haveFormat = true;
            outputArgs << name << value;
            continue;
        }
        if (name == QLatin1String("-f")) {
            if (!takeValue(out, i, &value))
                return result;
            haveFormat = true;
            outputArgs << name << value;
            continue;
        }
        outputArgs << name;
    }

    if (!startText.isEmpty()) {
        if (!parseSeconds(startText, &result.startSeconds)) {
            result.error = QStringLiteral("The start \"%1\" is not a number.").arg(startText);
            return result;
        }
        const double start = result.startSeconds;
        const bool unindexed = HasNoSeekIndex(inputFormatName) && start > 0;
        if (unindexed && !copyVideo) {
            // Seeking in these containers lands near the time, often between key frames, and
            // the frames up to the next key frame would be lost. Seek a margin earlier and
            // let the decoder drop what comes before the start: the cut begins on its frame.
            const double early = std::max(0.0, start - kUnindexedSeekMargin);
            result.inputArgs << QStringLiteral("-ss") << NumberText(early);
            decoderSkip = start - early;
        } else if (unindexed && copyKeyFrameSeconds >= 0 && copyKeyFrameSeconds <= start) {
            // A copy can only begin on a key frame: enter early and keep the packets from the
            // key frame at or before the start, as a copy from an indexed container does. The
            // end stays where it was marked.
            const double key = copyKeyFrameSeconds;
            const double early = std::max(0.0, key - kUnindexedSeekMargin);
            result.inputArgs << QStringLiteral("-ss") << NumberText(early);
            outputArgs << QStringLiteral("-ss") << NumberText(key - early);
            if (lengthIndex > 0 && result.lengthSeconds >= 0) {
                result.lengthSeconds += start - key;
                outputArgs[lengthIndex] = NumberText(result.lengthSeconds);
            }
        } else {
            result.inputArgs << QStringLiteral("-ss") << startText;
        }
    }

    // A target without a television norm ("dvd", "vcd", "svcd") takes it from the frame size
    // or rate asked for: 576 or 288 lines, or 25 or 50 frames a second, are PAL; else NTSC.
    const qsizetype target = outputArgs.indexOf(QStringLiteral("-target"));
    if (target >= 0 && target + 1 < outputArgs.size()) {
        QString &value = outputArgs[target + 1];
        if (!value.contains(QLatin1Char('-'))) {
            const qsizetype s = outputArgs.lastIndexOf(QStringLiteral("-s"));
            const qsizetype r = outputArgs.lastIndexOf(QStringLiteral("-r"));
            const QString size = s >= 0 && s + 1 < outputArgs.size() ? outputArgs.at(s + 1) : QString();
            const QString rate = r >= 0 && r + 1 < outputArgs.size() ? outputArgs.at(r + 1) : QString();
            const bool pal = size.endsWith(QLatin1String("x576")) || size.endsWith(QLatin1String("x288"))
                || rate == QLatin1String("25") || rate == QLatin1String("50");
            value = (pal ? QStringLiteral("pal-") : QStringLiteral("ntsc-")) + value;
        }
    }

    // An encoded picture holds exactly the frames of the range: the first frame that starts at
    // or after the start and the last one that starts before the end. The first kept frame
    // rarely starts on the start itself (a typed time between two frames, a video track that
    // starts a little after the audio); left there, the constant-rate output repeats it and
    // loses the last frame of the range. So the frames are chosen by their own times and the
    // first one is moved to 0 (the audio, cut to the sample, stays within one frame of it).
    const bool encodesVideo = !copyVideo && !outputArgs.contains(QStringLiteral("-vn"));
    const bool audioOut = !outputArgs.contains(QStringLiteral("-an"));
    if (encodesVideo && (decoderSkip > 0 || result.lengthSeconds >= 0)) {
        QStringList trim;
        if (decoderSkip > 0)
            trim << QStringLiteral("start=") + NumberText(decoderSkip);
        if (result.lengthSeconds >= 0)
            trim << QStringLiteral("end=") + NumberText(decoderSkip + result.lengthSeconds);
        const QString frames = QStringLiteral("trim=%1,setpts=PTS-STARTPTS")
                                   .arg(trim.join(QLatin1Char(':')));
        filterChain = filterChain.isEmpty() ? frames : frames + QLatin1Char(',') + filterChain;
        if (decoderSkip > 0 && audioOut)
            outputArgs << QStringLiteral("-af")
                       << QStringLiteral("atrim=start=%1,asetpts=PTS-STARTPTS")
                              .arg(NumberText(decoderSkip));
    } else if (decoderSkip > 0) {
        outputArgs << QStringLiteral("-ss") << NumberText(decoderSkip);
    }

    // Filters cannot apply to a copied video stream; ffmpeg refuses the whole job otherwise.
    if (!copyVideo && !filterChain.isEmpty())
        outputArgs << QStringLiteral("-vf") << filterChain;

    const QString ext = outputExtension.toLower();
    for (const ContainerDefaults &d : kContainerDefaults) {
        if (ext != QLatin1String(d.extension))
            continue;
        const bool noVideo = outputArgs.contains(QStringLiteral("-vn"));
        const bool noAudio = outputArgs.contains(QStringLiteral("-an"));
        if (d.videoCodec && !haveVideoCodec && !noVideo)
            outputArgs << QStringLiteral("-vcodec") << QString::fromLatin1(d.videoCodec);
        if (d.audioCodec && !haveAudioCodec && !noAudio)
            outputArgs << QStringLiteral("-acodec") << QString::fromLatin1(d.audioCodec);
    }

    if (ext.isEmpty() && !haveFormat) {
        const QString muxer = MuxerForInputFormat(inputFormatName);
        if (muxer.isEmpty()) {
            result.error = QStringLiteral("The output has no extension to choose its format by.");
            return result;
        }
        outputArgs << QStringLiteral("-f") << muxer;
    }

    result.outputArgs = outputArgs;
    result.copiesVideo = copyVideo;
    result.ok = true;
    return result;
}
