// snipora-cut: the output settings and the conversion run of Snipora on the command line.
// It drives the same dialog model, catalogue, argument builder and encoder as the program,
// with no window.

#include "argumentbuilder.h"
#include "avlogging.h"
#include "avprobe.h"
#include "catalogue.h"
#include "copynotes.h"
#include "cutjob.h"
#include "ffmpegencoder.h"
#include "joinedranges.h"
#include "outputmodel.h"
#include "progress.h"
#include "segmentargs.h"
#include "startcut.h"
#include "streamlist.h"
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
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kHelp[] = R"HELP(Usage:
  snipora-cut --list-formats
  snipora-cut --list-streams INPUT
  snipora-cut INPUT --start T --end T [options]
  snipora-cut INPUT --keep T-T [--keep T-T ...] | --remove T-T [...] | --segments FILE
              [--each] [options]

Cuts the range from --start to --end out of INPUT and saves it, by direct stream copy
(--copy) or by converting it to one of Snipora's output formats. T is a time code
(hh:mm:ss.t, as Snipora shows it, minutes and seconds of two digits below 60) or a number
of seconds (12.5). An end past the end of INPUT cuts to its end.

Options:
  --keep START-END           a segment to keep (instead of --start and --end); may be
                             given many times: the segments are saved joined, in the
                             order given (overlapping or touching ones are merged)
  --remove START-END         a segment to leave out; everything else is saved, joined
  --segments FILE.csv        the segments of a CSV file (start,end,label a line, seconds
                             with a point); kept, or removed with --remove-listed
  --streams N,N,...          keep only these streams of INPUT (indexes as
                             --list-streams shows them), with any mode: a copy keeps
                             them all, a conversion every chosen track its format
                             holds (one audio track where the format holds one)
  --each                     one file per segment (NAME-1, NAME-2, ... or the segment's
                             label) instead of one joined file
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
  --list-streams INPUT       list the streams of INPUT, one per line, tab-separated:
                             index, kind (video, audio, subtitle, other), codec,
                             language, title
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

// --list-streams: one line per stream of the file, tab-separated.
int listStreams(const QString &path)
{
    const Result<QList<SourceStream>> streams = ListStreams(path);
    if (!streams) {
        const QString &error = streams.error().sentence;
        return usageError(QStringLiteral("Can not open file: %1 (%2)")
                              .arg(path, error.left(error.size() - 1).toLower()));
    }
    for (const SourceStream &s : streams.value())
        out() << s.index << '\t' << StreamKindName(s.kind) << '\t' << s.codec << '\t' << s.language
              << '\t' << s.title << '\n';
    out().flush();
    return kExitOk;
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
    bool haveStart = false;
    bool haveEnd = false;
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
    bool removeListed = false;
    SegmentArgs segments;
    QString streams; // --streams as given
    QList<int> streamIndexes; // read from it and checked against the source
};

// An exit status when the program ends here, nothing when it goes on.
using Exit = std::optional<int>;

// The options that take a value, with the complaint when it is missing.
struct ValueOption
{
    const char *name;
    QString Options::*target;
    const char *missing;
};

const ValueOption kValueOptions[] = {
    { "--start", &Options::start, "--start needs a time" },
    { "--end", &Options::end, "--end needs a time" },
    { "--format", &Options::format, "--format needs an entry" },
    { "--size", &Options::size, "--size needs auto or WxH" },
    { "--video-quality", &Options::videoQuality, "--video-quality needs high, normal or low" },
    { "--audio-quality", &Options::audioQuality, "--audio-quality needs high, normal or low" },
    { "--output-dir", &Options::outputDir, "--output-dir needs a folder" },
    { "--name", &Options::name, "--name needs a name" },
    { "--streams", &Options::streams, "--streams needs stream indexes (see --list-streams)" },
};

// The switches, each setting its flag (--keyframe-copy sets two).
struct SwitchOption
{
    const char *name;
    bool Options::*flag;
    bool Options::*also;
};

const SwitchOption kSwitches[] = {
    { "--copy", &Options::copy, nullptr },
    { "--keyframe-copy", &Options::copy, &Options::keyframeCopy },
    { "--yes", &Options::yes, nullptr },
    { "--print-args", &Options::printArgs, nullptr },
    { "--print-ffmpeg", &Options::printFfmpeg, nullptr },
    { "--remove-listed", &Options::removeListed, nullptr },
};

// --keep, --remove, --segments and --each; false when the argument is none of them.
Exit parseSegmentArgument(const QStringList &args, int &i, Options &o, bool *taken)
{
    const QString &a = args.at(i);
    *taken = true;
    if (a == QLatin1String("--each")) {
        o.segments.each = true;
        return std::nullopt;
    }
    const bool keep = a == QLatin1String("--keep");
    const bool remove = a == QLatin1String("--remove");
    if (!keep && !remove && a != QLatin1String("--segments")) {
        *taken = false;
        return std::nullopt;
    }
    if (i + 1 >= args.size())
        return usageError(
            QStringLiteral("%1 needs %2")
                .arg(a,
                     keep || remove ? QStringLiteral("START-END") : QStringLiteral("a CSV file")));
    const QString value = args.at(++i);
    if (!keep && !remove) {
        o.segments.csvPath = value;
        return std::nullopt;
    }
    const Result<Segment> segment = ParseSpan(a, value);
    if (!segment)
        return usageError(segment.error().sentence);
    o.segments.segments << segment.value();
    (keep ? o.segments.keepGiven : o.segments.removeGiven) = true;
    return std::nullopt;
}

// One argument at args[i] (and its value, which moves i on); an exit for --help,
// --list-formats and bad usage.
Exit parseArgument(const QStringList &args, int &i, Options &o)
{
    const QString &a = args.at(i);
    if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
        out() << kHelp;
        out().flush();
        return kExitOk;
    }
    if (a == QLatin1String("--list-formats")) {
        listFormats();
        return kExitOk;
    }
    if (a == QLatin1String("--list-streams"))
        return i + 1 < args.size() ? listStreams(args.at(i + 1))
                                   : usageError(QStringLiteral("--list-streams needs a file"));
    for (const SwitchOption &s : kSwitches) {
        if (a == QLatin1String(s.name)) {
            o.*s.flag = true;
            if (s.also)
                o.*s.also = true;
            return std::nullopt;
        }
    }
    bool segment = false;
    if (const Exit exit = parseSegmentArgument(args, i, o, &segment); exit || segment)
        return exit;
    if (a == QLatin1String("--set")) {
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("--set needs \"Caption=value\""));
        o.sets << args.at(++i);
        return std::nullopt;
    }
    for (const ValueOption &v : kValueOptions) {
        if (a != QLatin1String(v.name))
            continue;
        if (i + 1 >= args.size())
            return usageError(QString::fromLatin1(v.missing));
        o.*v.target = args.at(++i);
        o.haveStart = o.haveStart || v.target == &Options::start;
        o.haveEnd = o.haveEnd || v.target == &Options::end;
        return std::nullopt;
    }
    if (a == QLatin1String("--")) {
        if (i + 1 < args.size() && o.input.isEmpty())
            o.input = args.at(++i);
    } else if (a.startsWith(QLatin1Char('-')) && !QFileInfo::exists(a)) {
        return usageError(QStringLiteral("unknown option %1 (see --help)").arg(a));
    } else if (o.input.isEmpty()) {
        o.input = a;
    } else {
        return usageError(QStringLiteral("only one input file can be cut at a time"));
    }
    return std::nullopt;
}

// --streams: the indexes, each a stream of the source, with a video or an audio stream among
// them (without one nothing would be saved).
Exit chooseStreams(Options &o)
{
    if (o.streams.isNull())
        return std::nullopt;
    const Result<QList<SourceStream>> listed = ListStreams(o.input);
    if (!listed)
        return usageError(listed.error().sentence);
    const QList<SourceStream> &streams = listed.value();
    bool media = false;
    for (const QString &part : o.streams.split(QLatin1Char(','))) {
        bool number = false;
        const int index = part.trimmed().toInt(&number);
        if (!number || index < 0)
            return usageError(QStringLiteral("--streams: \"%1\" is not a list of stream indexes "
                                             "such as 0,2,3")
                                  .arg(o.streams));
        const SourceStream *s = FindStream(streams, index);
        if (!s)
            return usageError(QStringLiteral("--streams: %1 has no stream %2 (its streams are 0 "
                                             "to %3; see --list-streams)")
                                  .arg(o.input)
                                  .arg(index)
                                  .arg(streams.size() - 1));
        media
            = media || s->kind == SourceStream::Kind::Video || s->kind == SourceStream::Kind::Audio;
        if (!o.streamIndexes.contains(index))
            o.streamIndexes << index;
    }
    if (!media)
        return usageError(QStringLiteral("--streams: none of the streams %1 is video or audio; "
                                         "there would be nothing to save")
                              .arg(o.streams));
    std::sort(o.streamIndexes.begin(), o.streamIndexes.end());
    return std::nullopt;
}

QString notATime(const char *option, const QString &text)
{
    return QStringLiteral("%1: \"%2\" is not a time code (hh:mm:ss.t, two-digit minutes and "
                          "seconds below 60) or a number of seconds")
        .arg(QLatin1String(option), text);
}

// Direct copy keeps the source's format: the choices of a conversion would be dropped.
Exit copyConflict(const Options &o)
{
    if (!o.copy)
        return std::nullopt;
    const QString conflict = !o.format.isEmpty() ? QStringLiteral("--format")
        : !o.size.isEmpty()                      ? QStringLiteral("--size")
        : !o.videoQuality.isEmpty()              ? QStringLiteral("--video-quality")
        : !o.audioQuality.isEmpty()              ? QStringLiteral("--audio-quality")
        : !o.sets.isEmpty()                      ? QStringLiteral("--set")
                                                 : QString();
    if (!conflict.isEmpty())
        return usageError(
            QStringLiteral("--copy keeps the original format and takes no %1").arg(conflict));
    return std::nullopt;
}

// The command line, read whole and checked for what needs no file: an input, a range that
// ends after it starts, and a copy that takes no conversion choices.
Exit parseOptions(const QStringList &args, Options &o, CutSpan &range)
{
    for (int i = 0; i < args.size(); ++i) {
        if (const Exit exit = parseArgument(args, i, o))
            return exit;
    }
    if (o.input.isEmpty())
        return usageError(QStringLiteral("no input file (see --help)"));
    if (o.removeListed)
        o.segments.removeGiven = true;
    if (o.segments.any()) {
        if (o.haveStart || o.haveEnd)
            return usageError(QStringLiteral("--start and --end cannot be mixed with --keep, "
                                             "--remove or --segments"));
        return copyConflict(o);
    }
    if (o.segments.each)
        return usageError(QStringLiteral("--each needs segments (--keep, --remove or --segments)"));
    if (!o.haveStart || !o.haveEnd)
        return usageError(QStringLiteral("--start and --end are needed"));
    if (!ReadTimeOrSeconds(o.start, &range.startSeconds))
        return usageError(notATime("--start", o.start));
    if (!ReadTimeOrSeconds(o.end, &range.endSeconds))
        return usageError(notATime("--end", o.end));
    if (!(range.endSeconds > range.startSeconds))
        return usageError(QStringLiteral("the end (%1) must come after the start (%2)")
                              .arg(o.end.trimmed(), o.start.trimmed()));
    return copyConflict(o);
}

// The source, probed as opening it in the program does, and the range within it: a start at or
// past its end is nothing to cut; an end past it cuts to the end.
Exit probeSource(const Options &o, CutSource &source, CutSpan &range)
{
    AvProbe probe;
    if (!probe.open(o.input, QString()))
        return usageError(probe.lastErrorText());
    source.path = QFileInfo(o.input).absoluteFilePath();
    const int video = probe.videoStreamIndex();
    source.width = probe.pictureWidth(video);
    source.height = probe.pictureHeight(video);
    source.hasVideo = probe.videoStreamCount() > 0;
    source.bitrateKbps = EstimateSourceBitrateKbps(
        probe.fileSize(), double(probe.durationMicros()) / 100000.0, probe.audioStreamCount());
    source.channelCount = probe.channelCount(probe.audioStreamIndex());
    const double duration = probe.durationMicros() > 0 ? probe.durationMicros() / 1e6 : -1;
    source.durationSeconds = duration;
    if (duration > 0 && range.startSeconds >= duration)
        return usageError(QStringLiteral("--start %1 is at or past the end of %2 (%3 s long)")
                              .arg(o.start.trimmed(), o.input, NumberText(duration)));
    if (duration > 0 && range.endSeconds > duration) {
        err() << "snipora-cut: --end " << o.end.trimmed().left(40)
              << (o.end.trimmed().size() > 40 ? "..." : "") << " is past the end of " << o.input
              << "; the cut stops at its end (" << NumberText(duration) << " s)" << Qt::endl;
        range.endSeconds = duration;
    }
    if (!std::isfinite(range.endSeconds))
        return usageError(
            QStringLiteral("--end: \"%1\" is too large").arg(o.end.trimmed().left(40)));
    return std::nullopt;
}

// --size: auto, or a width and a height checked as leaving their boxes would.
Exit applySize(const QString &size, OutputSettingsModel &model)
{
    static const QRegularExpression wxh(QStringLiteral("^(\\d+)x(\\d+)$"));
    const auto m = wxh.match(size.toLower());
    if (size.toLower() == QLatin1String("auto")) {
        model.selectSize(0);
    } else if (m.hasMatch()) {
        model.selectSize(OutputSettingsModel::CustomSizeIndex);
        model.setWidthText(m.captured(1));
        model.ValidateSizeBox(OutputSettingsModel::Box::Width);
        model.setHeightText(m.captured(2));
        model.ValidateSizeBox(OutputSettingsModel::Box::Height);
    } else {
        return usageError(QStringLiteral("--size: \"%1\" is neither auto nor WxH").arg(size));
    }
    return std::nullopt;
}

// One --set. A value the grid would change or drop is refused: the cut would not be what was
// asked.
Exit applySetting(const QString &set, OutputSettingsModel &model)
{
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
        return usageError(
            QStringLiteral("--set: \"%1\" cannot be changed (read-only%2)")
                .arg(set,
                     grid.item(caption)->parent.isEmpty()
                         ? QString()
                         : QStringLiteral(" until \"%1=True\"").arg(grid.item(caption)->parent)));
    const QString refusal = grid.refusal(caption, value);
    if (!refusal.isEmpty())
        return usageError(QStringLiteral("--set: %1").arg(refusal));
    model.grid().userEdit(caption, value);
    return std::nullopt;
}

// The dialog's choices, in the order the dialog applies them.
Exit applyChoices(const Options &o, const CutSource &source, OutputSettingsModel &model)
{
    model.load(o.outputDir.isEmpty() ? QDir::currentPath() : o.outputDir);
    if (source.hasVideo)
        model.grid().setPictureSize(source.width, source.height);
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
        if (const Exit exit = applySize(o.size, model))
            return exit;
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
    for (const QString &set : o.sets) {
        if (const Exit exit = applySetting(set, model))
            return exit;
    }
    return std::nullopt;
}

// The output name (given, or the input's with "-cut") and the folder, checked as the dialog's
// OK checks them.
Exit applyName(const Options &o, const CutSource &source, OutputSettingsModel &model)
{
    if (o.name.isEmpty()) {
        model.setDefaultName(source.path);
        if (model.fileName().isEmpty()) // a name without extension
            model.setFileName(QFileInfo(o.input).fileName() + QStringLiteral("-cut"));
    } else {
        model.setFileName(o.name);
    }
    const OutputSettingsModel::NameCheck check = model.checkOutputName();
    if (check.fault == OutputSettingsModel::NameFault::FileName)
        return usageError(
            QStringLiteral("Invalid file name! (nothing is left of \"%1\" without blanks, "
                           "control characters and %2)")
                .arg(o.name.isEmpty() ? QFileInfo(o.input).completeBaseName() : o.name,
                     OutputSettingsModel::forbiddenNameCharacters()));
    if (!check.ok) {
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
    return std::nullopt;
}

// The job the choices make, as the dialog's OK builds it.
CutJob buildJob(const Options &o, const CutSource &source, const CutSpan &range,
                OutputSettingsModel &model)
{
    BuildInputs in;
    in.InputFilePath = source.path;
    in.SourceWidth = source.width;
    in.SourceHeight = source.height;
    in.SourceHasVideo = source.hasVideo;
    in.SourceBitrateKbps = source.bitrateKbps;
    in.AudioChannelCount = source.channelCount;
    in.CutStartSeconds = range.startSeconds;
    in.CutLengthSeconds = range.lengthSeconds();
    BuilderMemory memory;
    const EncoderJob built = BuildEncoderArguments(model, in, memory);
    CutJob job;
    job.source = source;
    job.ranges = { range };
    job.mode = CutModeOf(built.DirectCopyMode, built.ExactCopyMode);
    job.encode = EncodeSpec { built.EncoderArguments, built.Device };
    job.output = CutOutput { model.folder(), model.fileName(), built.OutputExtension };
    job.replaceAllowed = o.yes;
    job.streams = o.streamIndexes;
    return job;
}

void printArgs(const CutJob &job)
{
    out() << job.encode.options << '\n'
          << job.output.extension << '\n'
          << (job.mode == CutMode::ExactCopy     ? "exact-copy"
                  : job.mode == CutMode::Convert ? "convert"
                                                 : "copy")
          << '\n';
    out().flush();
}

// Why the job could not be set up or started, as a usage error.
int refusal(const Options &o, const CutJob &job, const Error &error)
{
    switch (error.code) {
    case ErrorCode::SourceUnreadable: {
        // The reason does not repeat the path: "Can not open file: a.srt (no audio or video
        // stream)".
        QString reason = error.sentence;
        while (reason.endsWith(QLatin1Char('.')))
            reason.chop(1);
        if (reason.size() > 1 && reason.at(1).isLower())
            reason[0] = reason.at(0).toLower();
        return usageError(QStringLiteral("Can not open file: %1 (%2)").arg(o.input, reason));
    }
    case ErrorCode::OutputIsInput:
        return usageError(QStringLiteral("%1 is the input file; saving there would destroy it")
                              .arg(job.outputPath()));
    case ErrorCode::NotPossible:
        return usageError(QStringLiteral("Cannot convert. %1").arg(error.sentence));
    default:
        return usageError(error.sentence);
    }
}

// Where the job may save: never over the input, never over another file without --yes.
Exit checkTarget(const CutJob &job)
{
    const QFileInfo target(job.outputPath());
    if (target.exists() && job.outputIsInput())
        return usageError(QStringLiteral("%1 is the input file; saving there would destroy it")
                              .arg(job.outputPath()));
    if (target.exists() && !job.replaceAllowed)
        return usageError(
            QStringLiteral("%1 already exists; give --yes to replace it").arg(job.outputPath()));
    return std::nullopt;
}

// --print-ffmpeg: the ffmpeg program's arguments for this job, one a line, writing to the
// output path itself; nothing for a direct copy, which runs in this process.
int printFfmpeg(const Options &o, FfmpegEncoder &encoder, const CutJob &job)
{
    const Outcome setUp = setUpCut(encoder, job);
    if (!setUp)
        return refusal(o, job, setUp.error());
    for (const QString &note : encoder.jobNotes())
        err() << "snipora-cut: " << note << Qt::endl;
    if (!job.isCopy()) {
        for (const QString &argument : encoder.jobArguments(job.outputPath()))
            out() << argument << '\n';
    }
    out().flush();
    return kExitOk;
}

// Ctrl+C, termination, a hang-up and a broken standard error stop the run, all the same way.
// The notifier lives as long as the run.
std::unique_ptr<QSocketNotifier> stopOnSignals(FfmpegEncoder &encoder, const bool &finished,
                                               bool &stopped)
{
    if (::pipe(g_signalPipe) == 0) {
        // SIGPIPE: a closed standard error while progress is written. After the run it only
        // means nobody reads the output path any more, which changes nothing.
        for (const int sig : { SIGINT, SIGTERM, SIGHUP, SIGPIPE })
            std::signal(sig, onSignal);
    }
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [&encoder, &finished, &stopped] {
                         char c;
                         [[maybe_unused]] const auto r = ::read(g_signalPipe[0], &c, 1);
                         if (finished)
                             return;
                         stopped = true;
                         encoder.stopEncoding(); // ends ffmpeg and removes the partial file
                     });
    return notifier;
}

// The progress on standard error: a bar on a terminal, else a line for each new percent.
struct ProgressPrinter
{
    bool terminal = ::isatty(STDERR_FILENO);
    QElapsedTimer clock;
    double clockStart = 0;
    int lastPercent = -1;

    void show(qint64 bytes, qint64 position, qint64 duration)
    {
        const double now = clock.nsecsElapsed() / 1e9 + 1e-9;
        if (clockStart == 0)
            clockStart = now;
        const ProgressUpdate u = ComputeProgress(bytes, position, duration, now, clockStart);
        if (!u.ok)
            return;
        const int percent = u.hasPercent ? u.percent : 0;
        if (terminal) {
            const int filled = percent * 30 / 100;
            err() << '\r' << '[' << QString(filled, QLatin1Char('#'))
                  << QString(30 - filled, QLatin1Char('-')) << "] "
                  << QString::number(percent).rightJustified(3) << "%  elapsed " << u.elapsed
                  << "  remaining " << u.remaining << "  size " << u.estimatedSize << "   ";
            err().flush();
        } else if (percent != lastPercent) {
            err() << percent << "% elapsed " << u.elapsed << " remaining " << u.remaining
                  << " size " << u.estimatedSize << Qt::endl;
        }
        lastPercent = percent;
    }
};

// The end of the run: what the copy found (the start line before the run could not tell of
// streams left out or the level the re-encoded frames needed), then the path or the reason.
int reportEnd(FfmpegEncoder &encoder, const CutJob &job, bool succeeded, bool stopped,
              const QString &message)
{
    for (const CopyNote &note : encoder.copyNotes()) {
        if (note.kind == CopyNote::Kind::StreamLeftOut || note.kind == CopyNote::Kind::LevelHeld
            || note.kind == CopyNote::Kind::HeaderRepeated)
            err() << "snipora-cut: " << note.text << Qt::endl;
    }
    if (succeeded && !stopped) {
        out() << job.outputPath() << Qt::endl;
        return kExitOk;
    }
    err() << "snipora-cut: " << (stopped ? QStringLiteral("stopped; nothing was saved") : message)
          << Qt::endl;
    return kExitFailed;
}

// The run, with progress and the signals that stop it; the exit status.
int runJob(QCoreApplication &app, const Options &o, FfmpegEncoder &encoder, const CutJob &job)
{
    bool stopped = false;
    bool finished = false;
    const auto interrupt = stopOnSignals(encoder, finished, stopped);
    ProgressPrinter progress;
    progress.clock.start();
    QObject::connect(&encoder, &Encoder::encoderProgress, &app,
                     [&](qint64 bytes, qint64 position, qint64 duration) {
                         progress.show(bytes, position, duration);
                     });
    int status = kExitFailed;
    QObject::connect(&encoder, &Encoder::encoderFinished, &app,
                     [&](int, bool succeeded, bool, const QString &message) {
                         finished = true;
                         if (progress.terminal)
                             err() << Qt::endl;
                         status = reportEnd(encoder, job, succeeded, stopped, message);
                         app.quit();
                     });
    const Outcome started = startCut(encoder, job);
    if (started) {
        for (const QString &note : encoder.jobNotes())
            err() << "snipora-cut: " << note << Qt::endl;
        app.exec();
    }
    // The next job (--each) connects anew: nothing of this one may outlive it.
    QObject::disconnect(&encoder, nullptr, &app, nullptr);
    return started ? status : refusal(o, job, started.error());
}

// The segments resolved against the source: the ranges to save, each with its label; the
// notes of what was merged or clipped go to standard error.
Exit resolveRanges(const Options &o, const CutSource &source, QList<Segment> *ranges)
{
    const Result<SegmentPlan> plan = ResolveSegments(o.segments, source.durationSeconds, o.input);
    if (!plan)
        return usageError(plan.error().sentence);
    for (const QString &note : plan.value().notes)
        err() << "snipora-cut: " << note << Qt::endl;
    *ranges = plan.value().ranges;
    return std::nullopt;
}

// --each: one job per range, one after the other; the first that fails ends the run.
int runEach(QCoreApplication &app, const Options &o, FfmpegEncoder &encoder,
            const CutSource &source, const QList<Segment> &ranges, OutputSettingsModel &model)
{
    QStringList labels;
    for (const Segment &r : ranges)
        labels << r.label;
    const QStringList names = OutputSettingsModel::eachFileNames(model.fileName(), labels);
    for (int k = 0; k < ranges.size(); ++k) {
        const CutSpan span { ranges.at(k).start, ranges.at(k).end, ranges.at(k).label };
        CutJob job = buildJob(o, source, span, model);
        job.output.name = names.at(k);
        if (const Exit exit = checkTarget(job))
            return *exit;
        if (const int status = runJob(app, o, encoder, job); status != kExitOk)
            return status;
    }
    return kExitOk;
}

// Told before a copy runs: where a copy that is not cut to the frame really starts, or the key
// frames each segment of a key-frame copy really starts on and the last frame it keeps. A
// failure to read them is reported by the run itself.
void tellCopyRanges(const CutJob &job, const CutSource &source, const QList<Segment> &ranges)
{
    if (job.isCopy() && ranges.size() == 1) {
        const Segment &range = ranges.first();
        const QString line = CopyStartNote(source.path, range.start, job.mode == CutMode::ExactCopy,
                                           range.end, job.streams);
        if (!line.isEmpty())
            err() << "snipora-cut: " << line << Qt::endl;
    }
    if (job.mode == CutMode::KeyFrameCopy && ranges.size() > 1) {
        const Result<QList<CutSpan>> saved = KeyFrameRanges(source.path, CutSpansOf(ranges));
        for (qsizetype k = 0; saved && k < saved.value().size(); ++k)
            err() << "snipora-cut: " << SavedRangeLine(saved.value().at(k), k) << Qt::endl;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("snipora-cut"));
    Options o;
    CutSpan range;
    if (const Exit exit = parseOptions(QCoreApplication::arguments().mid(1), o, range))
        return *exit;
    CutSource source;
    if (const Exit exit = probeSource(o, source, range))
        return *exit;
    if (const Exit exit = chooseStreams(o))
        return *exit;
    QList<Segment> ranges { Segment { range.startSeconds, range.endSeconds, QString() } };
    if (o.segments.any()) {
        if (const Exit exit = resolveRanges(o, source, &ranges))
            return *exit;
        range = CutSpan { ranges.first().start, ranges.first().end, ranges.first().label };
    }
    OutputSettingsModel model;
    if (const Exit exit = applyChoices(o, source, model))
        return *exit;
    if (const Exit exit = applyName(o, source, model))
        return *exit;
    CutJob job = buildJob(o, source, range, model);
    if (!o.segments.each)
        job.ranges = CutSpansOf(ranges);
    if (o.printArgs) {
        printArgs(job);
        return kExitOk;
    }
    if (const Exit exit = o.segments.each ? Exit() : checkTarget(job))
        return *exit;

    FfmpegEncoder encoder;
    const QString libraryFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/LibAV");
    // A direct copy runs in this process and needs no ffmpeg program.
    if (!encoder.locateLibrary(libraryFolder) && !job.isCopy())
        return usageError(QStringLiteral("Video lib not found (no ffmpeg program)"));
    tellCopyRanges(job, source, ranges);
    if (o.printFfmpeg)
        return printFfmpeg(o, encoder, job);
    if (o.segments.each)
        return runEach(app, o, encoder, source, ranges, model);
    return runJob(app, o, encoder, job);
}
