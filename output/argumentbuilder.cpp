#include "argumentbuilder.h"

#include "catalogue.h"
#include "outputmodel.h"
#include "timecode.h"

#include <cmath>
#include <optional>

namespace {

using Setting = AdvancedSettings::Setting;

// Whether key is one of keys.
bool isOneOf(const QString &key, std::initializer_list<const char *> keys)
{
    for (const char *k : keys)
        if (key == QLatin1String(k))
            return true;
    return false;
}

std::optional<int> nearest(double v)
{
    if (!std::isfinite(v) || v > 2147483647.0 || v < -2147483648.0)
        return std::nullopt;
    return int(RoundHalfEven(v));
}

int boxInteger(const QString &text)
{
    const double v = OutputSettingsModel::leadingNumber(text);
    return std::isfinite(v) ? int(v) : 0;
}

// A value chosen by the audio (or video) quality index: High / Normal / Low; "" otherwise.
QString byQuality(int index, const char *high, const char *normal, const char *low)
{
    switch (index) {
    case 0:
        return QString::fromLatin1(high);
    case 1:
        return QString::fromLatin1(normal);
    case 2:
        return QString::fromLatin1(low);
    default:
        return QString();
    }
}

struct Defaults
{
    int reference; // 0: no computed video bit rate
    const char *audio[3]; // nullptr: not used
    const char *rate[3];
};

// The per-format defaults, used only where the grid says "Auto".
Defaults defaultsFor(const QString &key)
{
    auto is = [&key](std::initializer_list<const char *> keys) { return isOneOf(key, keys); };
    const Defaults none { 0, { nullptr, nullptr, nullptr }, { nullptr, nullptr, nullptr } };
    if (is({ "3gp" }))
        return { 330, { "12200", "6700", "4750" }, { nullptr, nullptr, nullptr } };
    if (is({ "avi" }))
        return { 847, { "320k", "128k", "64k" }, { "44100", "44100", "22050" } };
    if (is({ "asf", "wmv", "f4v" }))
        return { 512, { "256k", "128k", "64k" }, { "44100", "44100", "22050" } };
    if (is({ "flv", "swf" }))
        return { 512, { "128k", "64k", "32k" }, { "44100", "44100", "22050" } };
    if (is({ "mkv", "webm" }))
        return { 512, { "320k", "128k", "64k" }, { "44100", "44100", "22050" } };
    if (is({ "mov" }))
        return { 512, { "320k", "256k", "96k" }, { "44100", "44100", "22050" } };
    if (is({ "mp4", "mp4h264", "mpg", "ntsc-vcd", "pal-vcd", "mpg2", "ntsc-dvd", "pal-dvd", "rm" }))
        return { 512, { "256k", "128k", "96k" }, { "44100", "44100", "22050" } };
    if (is({ "vob" }))
        return { 0, { "320k", "192k", "96k" }, { "48000", "48000", "44100" } };
    if (is({ "aac", "m4a" }))
        return { 0, { "256k", "128k", "96k" }, { "48000", "44100", "22050" } };
    if (is({ "ac3" }))
        return { 0, { "320k", "128k", "96k" }, { "48000", "44100", "22050" } };
    if (is({ "mp2", "mp3", "ogg", "wma" }))
        return { 0, { "320k", "128k", "64k" }, { "48000", "44100", "22050" } };
    if (is({ "aiff", "flac", "wav" }))
        return { 0, { nullptr, nullptr, nullptr }, { "48000", "44100", "22050" } };
    if (is({ "ra" }))
        return { 0, { "256k", "128k", "96k" }, { "44100", "44100", "22050" } };
    return none;
}

// A grid value, "" for "Auto".
QString gridText(const AdvancedSettings &grid, Setting key)
{
    const QString v = grid.value(key);
    return v == QLatin1String("Auto") ? QString() : v;
}

// The pieces that come before the format part, each ending in a blank or empty.
struct PrefixPieces
{
    QString removeAudio;
    QString frameRate;
    QString aspect;
    QString channels;
};

// Remove Audio, the frame rate, the aspect and the channels as the grid holds them; a source
// of more than two channels is down-mixed to stereo when Channels is Auto.
PrefixPieces prefixPieces(const AdvancedSettings &grid, const BuildInputs &in)
{
    PrefixPieces p;
    if (grid.checked(Setting::RemoveAudio))
        p.removeAudio = QStringLiteral("-an ");
    if (const QString fps = gridText(grid, Setting::FrameRate); !fps.isEmpty())
        p.frameRate = QStringLiteral("-r ") + fps + QLatin1Char(' ');
    if (const QString aspect = gridText(grid, Setting::AspectRate); !aspect.isEmpty())
        p.aspect = QStringLiteral("-aspect ") + aspect + QLatin1Char(' ');
    if (const int channels = grid.number(Setting::Channels); channels != 0)
        p.channels = QStringLiteral("-ac %1 ").arg(channels);
    else if (in.AudioChannelCount >= 3)
        p.channels = QStringLiteral("-ac 2 ");
    return p;
}

// " -s WxH" of the chosen or the source's size, " -vn " without video, "" when the crop
// filter does the sizing. Records the output's pixel count for the computed bit rate.
QString sizePiece(const OutputSettingsModel &model, const BuildInputs &in, BuilderMemory &memory)
{
    if (!in.SourceHasVideo)
        return QStringLiteral(" -vn ");
    int w = in.SourceWidth;
    int h = in.SourceHeight;
    if (model.sizeIndex() >= 1) {
        w = boxInteger(model.widthText());
        h = boxInteger(model.heightText());
    }
    memory.OutputPixelCount = int(qBound(qlonglong(0), qlonglong(w) * h, qlonglong(2147483647)));
    if (model.grid().checked(Setting::CropVideo))
        return QString();
    return QStringLiteral(" -s %1x%2").arg(w).arg(h);
}

// The values the format part is written from: the grid's, or where it says Auto the format's
// defaults by quality.
struct FormatValues
{
    QString videoBitrate;
    QString audioBitrate;
    QString sampleRate;
    QString size;
    QString preset; // the x264 preset of the video quality
};

// Fills in the format's defaults where the grid left a value to it, and applies the format's
// own corrections (3GP's fixed automatic size, RealMedia's bit rate ceiling).
FormatValues formatValues(const OutputSettingsModel &model, const BuildInputs &in,
                          BuilderMemory &memory, QString size)
{
    const AdvancedSettings &grid = model.grid();
    const QString key = model.formatKey();
    FormatValues v { gridText(grid, Setting::VideoBitrate), gridText(grid, Setting::AudioBitrate),
                     gridText(grid, Setting::SampleRate), std::move(size),
                     byQuality(model.videoQuality(), "libx264-default", "libx264-veryfast",
                               "libx264-ultrafast") };
    const Defaults d = defaultsFor(key);
    const int aq = model.audioQuality();
    if (key == QLatin1String("3gp") && model.sizeIndex() == 0) {
        v.size = QStringLiteral(" -s 176x144");
        memory.OutputPixelCount = 25344;
    }
    if (d.reference > 0)
        memory.ReferenceBitrateKbps = d.reference;
    if (v.videoBitrate.isEmpty()) {
        if (key == QLatin1String("vob"))
            v.videoBitrate = byQuality(model.videoQuality(), "3800k", "3300k", "768k");
        else if (d.reference > 0)
            v.videoBitrate = ComputeVideoBitrate(model, in, memory);
    }
    if (v.audioBitrate.isEmpty() && d.audio[0])
        v.audioBitrate = byQuality(aq, d.audio[0], d.audio[1], d.audio[2]);
    if (v.sampleRate.isEmpty() && d.rate[0])
        v.sampleRate = byQuality(aq, d.rate[0], d.rate[1], d.rate[2]);
    if (key == QLatin1String("rm") && OutputSettingsModel::leadingNumber(v.videoBitrate) > 1000)
        v.videoBitrate = QStringLiteral("1000k");
    return v;
}

// The audio-only formats' part of formatPart().
QString audioFormatPart(const QString &key, const FormatValues &v)
{
    const QString &A = v.audioBitrate;
    const QString &R = v.sampleRate;
    if (isOneOf(key, { "aac", "ac3", "m4a", "mp2", "mp3" }))
        return "-vn -ab " + A + " -ar " + R;
    if (isOneOf(key, { "aiff", "flac", "wav" }))
        return "-vn  -ar " + R;
    if (isOneOf(key, { "ogg" }))
        return "-vn -acodec libvorbis -ab " + A + " -ar " + R;
    if (isOneOf(key, { "ra" }))
        return "-vn  -ab " + A + " -ar " + R;
    if (isOneOf(key, { "wma" }))
        return "-vn  -acodec wmav2 -ab " + A + " -ar " + R;
    return QString();
}

// The format's own options (codecs, bit rates, sample rate, size); "" for a key without one.
QString formatPart(const QString &key, const FormatValues &v)
{
    const QString &V = v.videoBitrate;
    const QString &A = v.audioBitrate;
    const QString &R = v.sampleRate;
    const QString &S = v.size;
    auto is = [&key](std::initializer_list<const char *> keys) { return isOneOf(key, keys); };
    if (is({ "3gp" }))
        return "-vb " + V + " -ab " + A + " -ac 1 -ar 8000" + S;
    if (is({ "avi" }))
        return "-vcodec libxvid -vb " + V + " -acodec libmp3lame -ab " + A + " -ar " + R + S;
    if (is({ "asf" }))
        return "-vcodec msmpeg4v2 -vb " + V + " -acodec wmav2 -ab " + A + " -ar " + R + S;
    if (is({ "wmv" }))
        return "-vcodec wmv2 -vb " + V + " -acodec wmav2 -ab " + A + " -ar " + R + S;
    if (is({ "flv", "swf", "mov", "mp4", "mpg" }))
        return "-vb " + V + " -ab " + A + " -ar " + R + S;
    if (is({ "f4v" }))
        return "-vcodec libx264 -vpre " + v.preset + " -f flv -vb " + V + " -acodec libfaac -ab "
            + A + " -ar " + R + " -ac 2" + S;
    if (is({ "mkv" }))
        return "-vcodec libx264 -vpre " + v.preset + " -vb " + V + "  -acodec libmp3lame -ab " + A
            + " -ar " + R + S;
    if (is({ "mp4h264" }))
        return "-vcodec libx264 -vpre " + v.preset + " -vb " + V + " -ab " + A + " -ar " + R + S;
    if (is({ "ntsc-vcd" }))
        return "-target ntsc-vcd -vb 1150k -ab 224k -ar 44100" + S;
    if (is({ "pal-vcd" }))
        return "-target pal-vcd -vb 1150k -ab 224k -ar 44100" + S;
    if (is({ "mpg2" }))
        return "-vcodec mpeg2video -vb " + V + " -ab " + A + " -ar " + R + S;
    if (is({ "ntsc-dvd" }))
        return "-target ntsc-dvd -ab " + A + " -ar " + R + S;
    if (is({ "pal-dvd" }))
        return "-target pal-dvd -ab " + A + " -ar " + R + S;
    if (is({ "rm" }))
        return "-vcodec rv20 -vb " + V + " -ab " + A + " -ar " + R + S;
    if (is({ "vob" }))
        return "-target dvd -vb " + V + " -ab " + A + " -ar " + R + S;
    if (is({ "webm" }))
        return "-vcodec libvpx -vb " + V + "  -acodec libvorbis -ab " + A + " -ar " + R + S;
    return audioFormatPart(key, v);
}

} // namespace

QString ComputeVideoBitrate(const OutputSettingsModel &model, const BuildInputs &in,
                            const BuilderMemory &memory)
{
    const double sourcePixels = double(in.SourceWidth) * double(in.SourceHeight);
    const double outputPixels = memory.OutputPixelCount;
    int base = 0;
    if (in.SourceBitrateKbps < 1) {
        base = nearest(outputPixels / 76800.0 * memory.ReferenceBitrateKbps).value_or(0);
    } else if (sourcePixels < outputPixels) {
        base = in.SourceBitrateKbps; // no more bits for an upscaled picture
    } else {
        base = nearest(outputPixels / sourcePixels * in.SourceBitrateKbps).value_or(0);
    }
    switch (model.videoQuality()) {
    case 0:
        return QString::number(nearest(base * 1.5).value_or(0)) + QLatin1Char('k');
    case 1:
        return QString::number(base) + QLatin1Char('k');
    case 2:
        return QString::number(nearest(base / 1.5).value_or(0)) + QLatin1Char('k');
    default:
        return QString();
    }
}

QString BuildCropScale(const OutputSettingsModel &model, const BuildInputs &in)
{
    const AdvancedSettings &grid = model.grid();
    if (!in.SourceHasVideo || !grid.checked(Setting::CropVideo))
        return QString();
    const int top = grid.number(Setting::CropTop);
    const int bottom = grid.number(Setting::CropBottom);
    const int left = grid.number(Setting::CropLeft);
    const int right = grid.number(Setting::CropRight);
    if (top <= 0 && bottom <= 0 && left <= 0 && right <= 0)
        return QString();
    QString chain = QStringLiteral("crop=%1:%2:%3:%4")
                        .arg(qlonglong(in.SourceWidth) - left - right)
                        .arg(qlonglong(in.SourceHeight) - top - bottom)
                        .arg(left)
                        .arg(top);
    if (model.sizeIndex() >= 1)
        chain += QStringLiteral(",scale=") + model.widthText() + QLatin1Char(':')
            + model.heightText();
    return chain;
}

QString BuildFilterPart(const OutputSettingsModel &model, const BuildInputs &in)
{
    if (!in.SourceHasVideo || model.audioOnlyFormat())
        return QString();
    const AdvancedSettings &grid = model.grid();
    QString chain = BuildCropScale(model, in);
    if (grid.checked(Setting::VerticalFlip))
        chain += QStringLiteral(",vflip");
    if (grid.checked(Setting::HorizontalFlip))
        chain += QStringLiteral(",hflip");
    const int rotate = grid.number(Setting::Rotate);
    if (rotate != 0)
        chain += QStringLiteral(",rotate=") + QString::number(rotate);
    if (chain.startsWith(QLatin1Char(',')))
        chain.remove(0, 1);
    if (chain.isEmpty())
        return QString();
    return QStringLiteral(" -vf \"") + chain + QLatin1Char('"');
}

EncoderJob BuildEncoderArguments(const OutputSettingsModel &model, const BuildInputs &in,
                                 BuilderMemory &memory)
{
    EncoderJob job;
    job.DirectCopyMode = model.directCopySelected();
    job.ExactCopyMode = job.DirectCopyMode && model.exactCut();
    const QString length = NumberText(in.CutLengthSeconds);

    if (job.DirectCopyMode) {
        job.OutputExtension = FileExtension(in.InputFilePath).toLower();
        job.EncoderArguments = QStringLiteral("-vcodec copy -acodec copy")
            + BuildFilterPart(model, in) + QStringLiteral(" -ss ") + NumberText(in.CutStartSeconds)
            + QStringLiteral(" -t ") + length;
        return job;
    }

    const QString key = model.formatKey();
    job.Device = model.deviceLimits();
    const QString size = sizePiece(model, in, memory);
    PrefixPieces prefix = prefixPieces(model.grid(), in);
    const FormatValues values = formatValues(model, in, memory, size);
    if ((key == QLatin1String("mov") || key == QLatin1String("mp4")) && prefix.frameRate.isEmpty())
        prefix.frameRate = QStringLiteral("-r 29.97 ");
    const QString format = formatPart(key, values);
    if (!format.isEmpty())
        job.OutputExtension = ExtensionForKey(key);

    // The order of the pieces is the encoder's contract: prefix options, the format's part,
    // the filters, and the length of the cut last.
    job.EncoderArguments = prefix.removeAudio + prefix.frameRate + prefix.aspect + prefix.channels
        + format + BuildFilterPart(model, in) + QStringLiteral(" -TimeLength ") + length;
    return job;
}
