// snipora-cut: the output settings and the conversion run of Snipora on the command line.
// It drives the same dialog model, catalogue, argument builder and encoder as the program,
// with no window.

#include "argumentbuilder.h"
#include "avlogging.h"
#include "avprobe.h"
#include "catalogue.h"
#include "ffmpegencoder.h"
#include "outputmodel.h"
#include "progress.h"
#include "streamcopy.h"
#include "timecode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kHelp[] = R"HELP(Usage:
  snipora-cut --list-formats
  snipora-cut INPUT --start T --end T [options]

Cuts the range from --start to --end out of INPUT and saves it, by direct stream copy
(--copy) or by converting it to one of Snipora's output formats. T is a time code
(hh:mm:ss.t, as Snipora shows it, minutes and seconds of two digits below 60) or a number
of seconds (12.5). An end past the end of INPUT cuts to its end.

Options:
  --copy                     keep the original format (direct stream copy), cut to the
                             frame: only the frames before the first key frame (and,
                             at the end, those that depend on later frames) are
                             re-encoded; every stream, chapter and tag is kept; takes
                             none of --format, --size, the qualities or --set
  --keyframe-copy            direct stream copy that starts on the key frame at or
                             before --start and re-encodes nothing
  --format ID|SYMBOL|CAPTION an entry of the format catalogue (see --list-formats);
                             the default is "MP4 - H264 Video (*.mp4)"
  --size auto|WxH            frame size; WxH is made an even size between 16 and 5000
  --video-quality high|normal|low
  --audio-quality high|normal|low
  --set "Caption=value"      an advanced setting, as in the dialog's grid, for example
                             --set "Video Bitrate=1500k" --set "Crop Video=True"
                             --set "Top=10"; may be given many times, in order
  --output-dir DIR           the destination folder (default: the current folder)
  --name NAME                the output name without extension (default: INPUT's name
                             followed by "-cut")
  --yes                      replace an existing output file (without it, a file of
                             that name is never replaced, even one made during the run)
  --print-ffmpeg             print the arguments of the ffmpeg program that converts, one
                             a line, and stop (nothing for a direct copy, which needs no
                             ffmpeg program)
  --print-args               print the encoder options, the extension and the mode
                             ("exact-copy", "copy" or "convert"), one per line, and
                             stop
  --list-formats             list the catalogue, one entry per line, tab-separated:
                             Id, Symbol, Caption, Group, FormatKey, AudioOnly, Width,
                             Height, FrameRate, AudioBitrate, Channels
  -h, --help                 show this text

The format, the size, the qualities and then the settings are applied in that order,
whatever order they are given in, as choosing them in the dialog would.

While converting, progress goes to standard error; Ctrl+C (and SIGTERM, SIGHUP, or a
closed standard error) stops and leaves nothing behind. The output path is printed on
success.

Exit status: 0 saved (or printed), 1 the conversion failed, was stopped or made a file
that does not hold the range, 2 bad usage or input.
)HELP";

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int usageError(const QString &message)
{
    err() << "snipora-cut: " << message << Qt::endl;
    return kExitUsage;
}

// A time code as the program writes it (hours of any length, minutes and seconds of two digits
// below 60, optional fraction) or a plain number of seconds; false for anything else. A number
// too large for a double is infinity: past the end of any input.
bool parseTime(const QString &text, double *seconds)
{
    static const QRegularExpression code(QStringLiteral("^\\d+:[0-5]\\d:[0-5]\\d(\\.\\d+)?$"));
    static const QRegularExpression number(QStringLiteral("^\\d+(\\.\\d*)?$|^\\.\\d+$"));
    const QString t = text.trimmed();
    if (code.match(t).hasMatch()) {
        *seconds = ParseTimeCode(t);
    } else if (number.match(t).hasMatch()) {
        bool ok = false;
        *seconds = t.toDouble(&ok);
        if (!ok || !std::isfinite(*seconds))
            *seconds = std::numeric_limits<double>::infinity();
    } else {
        return false;
    }
    return true;
}

int qualityIndex(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("high"))
        return 0;
    if (t == QLatin1String("normal"))
        return 1;
    if (t == QLatin1String("low"))
        return 2;
    return -1;
}

const CatalogueEntry *findEntry(const QString &text)
{
    bool numeric = false;
    const int id = text.toInt(&numeric);
    for (const CatalogueEntry &e : Catalogue::entries()) {
        if ((numeric && e.Id == id) || text == QLatin1String(e.Symbol) || text == e.caption())
            return &e;
    }
    return nullptr;
}

void listFormats()
{
    auto field = [](const char *v) { return v ? QString::fromLatin1(v) : QString(); };
    for (const CatalogueEntry &e : Catalogue::entries()) {
        out() << e.Id << '\t' << e.Symbol << '\t' << e.caption() << '\t' << Catalogue::groupPath(e)
              << '\t' << e.formatKey() << '\t' << (e.AudioOnly ? 1 : 0) << '\t' << field(e.Width)
              << '\t' << field(e.Height) << '\t' << field(e.FrameRate) << '\t'
              << field(e.AudioBitrate) << '\t' << field(e.Channels) << '\n';
    }
    out().flush();
}

// Ctrl+C, termination, a hang-up and a broken standard error reach the event loop through a
// pipe, and all stop the run the same way.
int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &c, 1);
}

struct Options
{
    QString input;
    QString start, end;
    bool copy = false;
    bool keyframeCopy = false;
    QString format;
    QString size;
    QString videoQuality, audioQuality;
    QStringList sets;
    QString outputDir;
    QString name;
    bool yes = false;
    bool printArgs = false;
    bool printFfmpeg = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("snipora-cut"));
    const QStringList args = QCoreApplication::arguments().mid(1);

    Options o;
    bool haveStart = false;
    bool haveEnd = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        auto value = [&](QString *target) {
            if (i + 1 >= args.size())
                return false;
            *target = args.at(++i);
            return true;
        };
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            out() << kHelp;
            out().flush();
            return kExitOk;
        } else if (a == QLatin1String("--list-formats")) {
            listFormats();
            return kExitOk;
        } else if (a == QLatin1String("--start")) {
            if (!value(&o.start))
                return usageError(QStringLiteral("--start needs a time"));
            haveStart = true;
        } else if (a == QLatin1String("--end")) {
            if (!value(&o.end))
                return usageError(QStringLiteral("--end needs a time"));
            haveEnd = true;
        } else if (a == QLatin1String("--copy")) {
            o.copy = true;
        } else if (a == QLatin1String("--keyframe-copy")) {
            o.copy = true;
            o.keyframeCopy = true;
        } else if (a == QLatin1String("--yes")) {
            o.yes = true;
        } else if (a == QLatin1String("--print-args")) {
            o.printArgs = true;
        } else if (a == QLatin1String("--print-ffmpeg")) {
            o.printFfmpeg = true;
        } else if (a == QLatin1String("--format")) {
            if (!value(&o.format))
                return usageError(QStringLiteral("--format needs an entry"));
        } else if (a == QLatin1String("--size")) {
            if (!value(&o.size))
                return usageError(QStringLiteral("--size needs auto or WxH"));
        } else if (a == QLatin1String("--video-quality")) {
            if (!value(&o.videoQuality))
                return usageError(QStringLiteral("--video-quality needs high, normal or low"));
        } else if (a == QLatin1String("--audio-quality")) {
            if (!value(&o.audioQuality))
                return usageError(QStringLiteral("--audio-quality needs high, normal or low"));
        } else if (a == QLatin1String("--set")) {
            QString set;
            if (!value(&set))
                return usageError(QStringLiteral("--set needs \"Caption=value\""));
            o.sets << set;
        } else if (a == QLatin1String("--output-dir")) {
            if (!value(&o.outputDir))
                return usageError(QStringLiteral("--output-dir needs a folder"));
        } else if (a == QLatin1String("--name")) {
            if (!value(&o.name))
                return usageError(QStringLiteral("--name needs a name"));
        } else if (a == QLatin1String("--")) {
            if (i + 1 < args.size() && o.input.isEmpty())
                o.input = args.at(++i);
        } else if (a.startsWith(QLatin1Char('-')) && !QFileInfo::exists(a)) {
            return usageError(QStringLiteral("unknown option %1 (see --help)").arg(a));
        } else if (o.input.isEmpty()) {
            o.input = a;
        } else {
            return usageError(QStringLiteral("only one input file can be cut at a time"));
        }
    }
    if (o.input.isEmpty())
        return usageError(QStringLiteral("no input file (see --help)"));
    if (!haveStart || !haveEnd)
        return usageError(QStringLiteral("--start and --end are needed"));

    double start = 0;
    double end = 0;
    if (!parseTime(o.start, &start))
        return usageError(
            QStringLiteral("--start: \"%1\" is not a time code (hh:mm:ss.t, two-digit minutes and "
                           "seconds below 60) or a number of seconds")
                .arg(o.start));
    if (!parseTime(o.end, &end))
        return usageError(QStringLiteral("--end: \"%1\" is not a time code (hh:mm:ss.t, two-digit "
                                         "minutes and seconds below 60) or a number of seconds")
                              .arg(o.end));
    if (!(end > start))
        return usageError(QStringLiteral("the end (%1) must come after the start (%2)")
                              .arg(o.end.trimmed(), o.start.trimmed()));
    // Direct copy keeps the source's format: the choices of a conversion would be dropped.
    if (o.copy) {
        const QString conflict = !o.format.isEmpty() ? QStringLiteral("--format")
            : !o.size.isEmpty()                      ? QStringLiteral("--size")
            : !o.videoQuality.isEmpty()              ? QStringLiteral("--video-quality")
            : !o.audioQuality.isEmpty()              ? QStringLiteral("--audio-quality")
            : !o.sets.isEmpty()                      ? QStringLiteral("--set")
                                                     : QString();
        if (!conflict.isEmpty())
            return usageError(
                QStringLiteral("--copy keeps the original format and takes no %1").arg(conflict));
    }

    // The source, probed as opening it in the program does.
    AvProbe probe;
    if (!probe.open(o.input, QString()))
        return usageError(probe.lastErrorText());
    BuildInputs in;
    in.InputFilePath = QFileInfo(o.input).absoluteFilePath();
    const int video = probe.videoStreamIndex();
    in.SourceWidth = probe.pictureWidth(video);
    in.SourceHeight = probe.pictureHeight(video);
    in.SourceHasVideo = probe.videoStreamCount() > 0;
    in.SourceBitrateKbps = EstimateSourceBitrateKbps(
        probe.fileSize(), double(probe.durationMicros()) / 100000.0, probe.audioStreamCount());
    in.AudioChannelCount = probe.channelCount(probe.audioStreamIndex());
    // The range within the input: a start at or past its end is nothing to cut; an end past
    // it cuts to the end.
    const double duration = probe.durationMicros() > 0 ? probe.durationMicros() / 1e6 : -1;
    if (duration > 0 && start >= duration)
        return usageError(QStringLiteral("--start %1 is at or past the end of %2 (%3 s long)")
                              .arg(o.start.trimmed(), o.input, NumberText(duration)));
    if (duration > 0 && end > duration) {
        err() << "snipora-cut: --end " << o.end.trimmed().left(40)
              << (o.end.trimmed().size() > 40 ? "..." : "") << " is past the end of " << o.input
              << "; the cut stops at its end (" << NumberText(duration) << " s)" << Qt::endl;
        end = duration;
    }
    if (!std::isfinite(end))
        return usageError(
            QStringLiteral("--end: \"%1\" is too large").arg(o.end.trimmed().left(40)));
    in.CutStartSeconds = start;
    in.CutLengthSeconds = end - start;

    // The dialog's choices, in the order the dialog applies them.
    OutputSettingsModel model;
    model.load(o.outputDir.isEmpty() ? QDir::currentPath() : o.outputDir);
    if (in.SourceHasVideo)
        model.grid().setPictureSize(in.SourceWidth, in.SourceHeight);
    if (!o.format.isEmpty()) {
        const CatalogueEntry *entry = findEntry(o.format);
        if (!entry)
            return usageError(
                QStringLiteral("no format \"%1\" in the catalogue (see --list-formats)")
                    .arg(o.format));
        model.SelectCatalogueEntry(entry->Id, entry->caption());
    }
    if (o.copy) {
        model.option1Click();
        model.setExactCut(!o.keyframeCopy);
    }
    if (!o.size.isEmpty()) {
        static const QRegularExpression wxh(QStringLiteral("^(\\d+)x(\\d+)$"));
        const auto m = wxh.match(o.size.toLower());
        if (o.size.toLower() == QLatin1String("auto")) {
            model.selectSize(0);
        } else if (m.hasMatch()) {
            model.selectSize(OutputSettingsModel::CustomSizeIndex);
            model.setWidthText(m.captured(1));
            model.ValidateSizeBox(OutputSettingsModel::Box::Width);
            model.setHeightText(m.captured(2));
            model.ValidateSizeBox(OutputSettingsModel::Box::Height);
        } else {
            return usageError(QStringLiteral("--size: \"%1\" is neither auto nor WxH").arg(o.size));
        }
    }
    for (const auto &[text, video] :
         { std::pair { o.videoQuality, true }, std::pair { o.audioQuality, false } }) {
        if (text.isEmpty())
            continue;
        const int index = qualityIndex(text);
        if (index < 0)
            return usageError(
                QStringLiteral("quality \"%1\" is not high, normal or low").arg(text));
        video ? model.selectVideoQuality(index) : model.selectAudioQuality(index);
    }
    // A value the grid would change or drop is refused: the cut would not be what was asked.
    for (const QString &set : o.sets) {
        const qsizetype eq = set.indexOf(QLatin1Char('='));
        const QString caption = set.left(eq).trimmed();
        const QString value = set.mid(eq + 1).trimmed();
        const AdvancedSettings &grid = model.grid();
        if (eq <= 0 || !grid.item(caption))
            return usageError(QStringLiteral("--set: \"%1\" names no advanced setting").arg(set));
        if (grid.isHidden(caption))
            return usageError(QStringLiteral("--set: %1 does not apply to %2 with these settings")
                                  .arg(caption, model.formatCaption()));
        if (grid.isReadOnly(caption))
            return usageError(QStringLiteral("--set: \"%1\" cannot be changed (read-only%2)")
                                  .arg(set,
                                       grid.item(caption)->parent.isEmpty()
                                           ? QString()
                                           : QStringLiteral(" until \"%1=True\"")
                                                 .arg(grid.item(caption)->parent)));
        const QString refusal = grid.refusal(caption, value);
        if (!refusal.isEmpty())
            return usageError(QStringLiteral("--set: %1").arg(refusal));
        model.grid().userEdit(caption, value);
    }
    if (o.name.isEmpty()) {
        model.setDefaultName(in.InputFilePath);
        if (model.fileName().isEmpty()) // a name without extension
            model.setFileName(QFileInfo(o.input).fileName() + QStringLiteral("-cut"));
    } else {
        model.setFileName(o.name);
    }
    const OutputSettingsModel::NameCheck check = model.checkOutputName();
    if (!check.ok) {
        if (check.message != QLatin1String("Invalid path!"))
            return usageError(
                QStringLiteral("Invalid file name! (nothing is left of \"%1\" without blanks, "
                               "control characters and %2)")
                    .arg(o.name.isEmpty() ? QFileInfo(o.input).completeBaseName() : o.name,
                         OutputSettingsModel::forbiddenNameCharacters()));
        const QString folder = model.folder();
        return usageError(
            QFileInfo(folder).isDir()
                ? QStringLiteral("Invalid path! (%1 cannot be the destination folder)").arg(folder)
                : QStringLiteral("Invalid path! (%1 is not a folder)").arg(folder));
    }
    if (model.sizeIndex() > 0 && !model.audioOnlyFormat()) {
        model.ValidateSizeBox(OutputSettingsModel::Box::Width);
        model.ValidateSizeBox(OutputSettingsModel::Box::Height);
    }

    BuilderMemory memory;
    const EncoderJob job = BuildEncoderArguments(model, in, memory);
    if (o.printArgs) {
        out() << job.EncoderArguments << '\n'
              << job.OutputExtension << '\n'
              << (job.ExactCopyMode        ? "exact-copy"
                      : job.DirectCopyMode ? "copy"
                                           : "convert")
              << '\n';
        out().flush();
        return kExitOk;
    }

    // The run. A name without extension gets no trailing dot.
    const QString outputPath = model.folder() + model.fileName()
        + (job.OutputExtension.isEmpty() ? QString() : QLatin1Char('.') + job.OutputExtension);
    const QFileInfo target(outputPath);
    if (target.exists()
        && target.canonicalFilePath() == QFileInfo(in.InputFilePath).canonicalFilePath())
        return usageError(
            QStringLiteral("%1 is the input file; saving there would destroy it").arg(outputPath));
    if (target.exists() && !o.yes)
        return usageError(
            QStringLiteral("%1 already exists; give --yes to replace it").arg(outputPath));

    FfmpegEncoder encoder;
    const QString libraryFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/LibAV");
    // A direct copy runs in this process and needs no ffmpeg program.
    if (!encoder.locateLibrary(libraryFolder) && !job.DirectCopyMode)
        return usageError(QStringLiteral("Video lib not found (no ffmpeg program)"));
    encoder.clearJobs();
    if (job.DirectCopyMode) {
        // Told before the run: where a copy that is not cut to the frame really starts.
        const QString line
            = DescribeCopyStart(PredictCopyStart(in.InputFilePath, start, job.ExactCopyMode, end));
        if (!line.isEmpty())
            err() << "snipora-cut: " << line << Qt::endl;
    }
    encoder.setExactCopy(job.ExactCopyMode);
    encoder.setDeviceLimits(job.Device);
    const int input = encoder.addInputFile(
        in.InputFilePath,
        job.DirectCopyMode ? QString() : QStringLiteral("-TimeStart ") + NumberText(start));
    if (input < 0) {
        // The reason does not repeat the path: "Can not open file: a.srt (no audio or video
        // stream)".
        QString reason = encoder.lastErrorText();
        while (reason.endsWith(QLatin1Char('.')))
            reason.chop(1);
        if (reason.size() > 1 && reason.at(1).isLower())
            reason[0] = reason.at(0).toLower();
        return usageError(QStringLiteral("Can not open file: %1 (%2)").arg(o.input, reason));
    }
    if (encoder.addOutputFile(input, outputPath, job.EncoderArguments) < 0)
        return usageError(QStringLiteral("Cannot convert. %1").arg(encoder.lastErrorText()));
    encoder.setReplaceAllowed(o.yes);
    if (o.printFfmpeg) {
        // The ffmpeg program's arguments for this job, one a line, writing to the output path
        // itself; nothing for a direct copy, which runs in this process.
        if (!job.DirectCopyMode) {
            for (const QString &argument : encoder.jobArguments(outputPath))
                out() << argument << '\n';
        }
        out().flush();
        return kExitOk;
    }

    if (::pipe(g_signalPipe) == 0) {
        // SIGPIPE: a closed standard error while progress is written. After the run it only
        // means nobody reads the output path any more, which changes nothing.
        for (const int sig : { SIGINT, SIGTERM, SIGHUP, SIGPIPE })
            std::signal(sig, onSignal);
    }
    QSocketNotifier interrupt(g_signalPipe[0], QSocketNotifier::Read);
    bool stopped = false;
    bool finished = false;
    QObject::connect(&interrupt, &QSocketNotifier::activated, &app, [&] {
        char c;
        [[maybe_unused]] const auto r = ::read(g_signalPipe[0], &c, 1);
        if (finished)
            return;
        stopped = true;
        encoder.stopEncoding(false); // ends ffmpeg and removes the partial file
    });

    const bool terminal = ::isatty(STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    double clockStart = 0;
    int lastPercent = -1;
    QObject::connect(&encoder, &Encoder::encoderProgress, &app,
                     [&](qint64 bytes, qint64 position, qint64 duration) {
                         const double now = clock.nsecsElapsed() / 1e9 + 1e-9;
                         if (clockStart == 0)
                             clockStart = now;
                         const ProgressUpdate u
                             = ComputeProgress(bytes, position, duration, now, clockStart);
                         if (!u.ok)
                             return;
                         const int percent = u.hasPercent ? u.percent : 0;
                         if (terminal) {
                             const int filled = percent * 30 / 100;
                             err() << '\r' << '[' << QString(filled, QLatin1Char('#'))
                                   << QString(30 - filled, QLatin1Char('-')) << "] "
                                   << QString::number(percent).rightJustified(3) << "%  elapsed "
                                   << u.elapsed << "  remaining " << u.remaining << "  size "
                                   << u.estimatedSize << "   ";
                             err().flush();
                         } else if (percent != lastPercent) {
                             err() << percent << "% elapsed " << u.elapsed << " remaining "
                                   << u.remaining << " size " << u.estimatedSize << Qt::endl;
                         }
                         lastPercent = percent;
                     });
    int status = kExitFailed;
    QObject::connect(&encoder, &Encoder::encoderFinished, &app,
                     [&](int, bool succeeded, bool, const QString &message) {
                         finished = true;
                         if (terminal)
                             err() << Qt::endl;
                         // What the start line before the run could not tell: streams left
                         // out, the level the re-encoded frames needed.
                         for (const QString &note : encoder.copyNotes()) {
                             if (note.startsWith(QLatin1String("Left out"))
                                 || note.startsWith(QLatin1String("The re-encoded frames")))
                                 err() << "snipora-cut: " << note << Qt::endl;
                         }
                         if (succeeded && !stopped) {
                             status = kExitOk;
                             out() << outputPath << Qt::endl;
                         } else {
                             err() << "snipora-cut: "
                                   << (stopped ? QStringLiteral("stopped; nothing was saved")
                                               : message)
                                   << Qt::endl;
                         }
                         app.quit();
                     });
    if (!encoder.startEncoding(1))
        return usageError(encoder.lastErrorText());
    app.exec();
    return status;
}
