#include "argumentbuilder.h"

#include "catalogue.h"
#include "outputmodel.h"
#include "timecode.h"

#include <cmath>
#include <optional>

namespace {

using Setting = AdvancedSettings::Setting;

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
    auto is = [&key](std::initializer_list<const char *> keys) {
        for (const char *k : keys)
            if (key == QLatin1String(k))
                return true;
        return false;
    };
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

    const AdvancedSettings &grid = model.grid();
    const QString key = model.formatKey();
    job.Device = model.deviceLimits();

    // 1. Size.
    QString sizePiece;
    if (!in.SourceHasVideo) {
        sizePiece = QStringLiteral(" -vn ");
    } else {
        int w = in.SourceWidth;
        int h = in.SourceHeight;
        if (model.sizeIndex() >= 1) {
            w = boxInteger(model.widthText());
            h = boxInteger(model.heightText());
        }
        sizePiece = QStringLiteral(" -s %1x%2").arg(w).arg(h);
        memory.OutputPixelCount
            = int(qBound(qlonglong(0), qlonglong(w) * h, qlonglong(2147483647)));
        if (grid.checked(Setting::CropVideo))
            sizePiece.clear(); // the filter part does the sizing
    }

    // 2. Grid values.
    auto gridText = [&grid](Setting key) {
        const QString v = grid.value(key);
        return v == QLatin1String("Auto") ? QString() : v;
    };
    QString videoBitrate = gridText(Setting::VideoBitrate);
    QString audioBitrate = gridText(Setting::AudioBitrate);
    QString sampleRate = gridText(Setting::SampleRate);

    // 3. Prefix pieces.
    const QString removeAudioPiece
        = grid.checked(Setting::RemoveAudio) ? QStringLiteral("-an ") : QString();
    QString frameRatePiece;
    if (const QString fps = gridText(Setting::FrameRate); !fps.isEmpty())
        frameRatePiece = QStringLiteral("-r ") + fps + QLatin1Char(' ');
    QString aspectPiece;
    if (const QString aspect = gridText(Setting::AspectRate); !aspect.isEmpty())
        aspectPiece = QStringLiteral("-aspect ") + aspect + QLatin1Char(' ');
    QString channelsPiece;
    if (const int channels = grid.number(Setting::Channels); channels != 0)
        channelsPiece = QStringLiteral("-ac %1 ").arg(channels);
    else if (in.AudioChannelCount >= 3)
        channelsPiece = QStringLiteral("-ac 2 "); // down-mix to stereo

    // 4. Preset.
    const QString preset = byQuality(model.videoQuality(), "libx264-default", "libx264-veryfast",
                                     "libx264-ultrafast");

    // 5. Format.
    const Defaults d = defaultsFor(key);
    const int aq = model.audioQuality();
    if (key == QLatin1String("3gp") && model.sizeIndex() == 0) {
        sizePiece = QStringLiteral(" -s 176x144");
        memory.OutputPixelCount = 25344;
    }
    if (d.reference > 0)
        memory.ReferenceBitrateKbps = d.reference;
    if (videoBitrate.isEmpty()) {
        if (key == QLatin1String("vob"))
            videoBitrate = byQuality(model.videoQuality(), "3800k", "3300k", "768k");
        else if (d.reference > 0)
            videoBitrate = ComputeVideoBitrate(model, in, memory);
    }
    if (audioBitrate.isEmpty() && d.audio[0])
        audioBitrate = byQuality(aq, d.audio[0], d.audio[1], d.audio[2]);
    if (sampleRate.isEmpty() && d.rate[0])
        sampleRate = byQuality(aq, d.rate[0], d.rate[1], d.rate[2]);
    if (key == QLatin1String("rm") && OutputSettingsModel::leadingNumber(videoBitrate) > 1000)
        videoBitrate = QStringLiteral("1000k");
    if ((key == QLatin1String("mov") || key == QLatin1String("mp4")) && frameRatePiece.isEmpty())
        frameRatePiece = QStringLiteral("-r 29.97 ");

    const QString &V = videoBitrate;
    const QString &A = audioBitrate;
    const QString &R = sampleRate;
    const QString &S = sizePiece;
    QString formatPart;
    auto is = [&key](std::initializer_list<const char *> keys) {
        for (const char *k : keys)
            if (key == QLatin1String(k))
                return true;
        return false;
    };
    if (is({ "3gp" }))
        formatPart = "-vb " + V + " -ab " + A + " -ac 1 -ar 8000" + S;
    else if (is({ "avi" }))
        formatPart = "-vcodec libxvid -vb " + V + " -acodec libmp3lame -ab " + A + " -ar " + R + S;
    else if (is({ "asf" }))
        formatPart = "-vcodec msmpeg4v2 -vb " + V + " -acodec wmav2 -ab " + A + " -ar " + R + S;
    else if (is({ "wmv" }))
        formatPart = "-vcodec wmv2 -vb " + V + " -acodec wmav2 -ab " + A + " -ar " + R + S;
    else if (is({ "flv", "swf", "mov", "mp4", "mpg" }))
        formatPart = "-vb " + V + " -ab " + A + " -ar " + R + S;
    else if (is({ "f4v" }))
        formatPart = "-vcodec libx264 -vpre " + preset + " -f flv -vb " + V
            + " -acodec libfaac -ab " + A + " -ar " + R + " -ac 2" + S;
    else if (is({ "mkv" }))
        formatPart = "-vcodec libx264 -vpre " + preset + " -vb " + V + "  -acodec libmp3lame -ab "
            + A + " -ar " + R + S;
    else if (is({ "mp4h264" }))
        formatPart
            = "-vcodec libx264 -vpre " + preset + " -vb " + V + " -ab " + A + " -ar " + R + S;
    else if (is({ "ntsc-vcd" }))
        formatPart = "-target ntsc-vcd -vb 1150k -ab 224k -ar 44100" + S;
    else if (is({ "pal-vcd" }))
        formatPart = "-target pal-vcd -vb 1150k -ab 224k -ar 44100" + S;
    else if (is({ "mpg2" }))
        formatPart = "-vcodec mpeg2video -vb " + V + " -ab " + A + " -ar " + R + S;
    else if (is({ "ntsc-dvd" }))
        formatPart = "-target ntsc-dvd -ab " + A + " -ar " + R + S;
    else if (is({ "pal-dvd" }))
        formatPart = "-target pal-dvd -ab " + A + " -ar " + R + S;
    else if (is({ "rm" }))
        formatPart = "-vcodec rv20 -vb " + V + " -ab " + A + " -ar " + R + S;
    else if (is({ "vob" }))
        formatPart = "-target dvd -vb " + V + " -ab " + A + " -ar " + R + S;
    else if (is({ "webm" }))
        formatPart = "-vcodec libvpx -vb " + V + "  -acodec libvorbis -ab " + A + " -ar " + R + S;
    else if (is({ "aac", "ac3", "m4a", "mp2", "mp3" }))
        formatPart = "-vn -ab " + A + " -ar " + R;
    else if (is({ "aiff", "flac", "wav" }))
        formatPart = "-vn  -ar " + R;
    else if (is({ "ogg" }))
        formatPart = "-vn -acodec libvorbis -ab " + A + " -ar " + R;
    else if (is({ "ra" }))
        formatPart = "-vn  -ab " + A + " -ar " + R;
    else if (is({ "wma" }))
        formatPart = "-vn  -acodec wmav2 -ab " + A + " -ar " + R;
    if (!formatPart.isEmpty())
        job.OutputExtension = ExtensionForKey(key);

    // 6, 7.
    job.EncoderArguments = removeAudioPiece + frameRatePiece + aspectPiece + channelsPiece
        + formatPart + BuildFilterPart(model, in) + QStringLiteral(" -TimeLength ") + length;
    return job;
}
