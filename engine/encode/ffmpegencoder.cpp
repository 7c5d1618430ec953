#include "ffmpegencoder.h"

#include "avprobe.h"
#include "joinedranges.h"
#include "medialibrary.h"
#include "optiontranslator.h"
#include "rangejoin.h"
#include "result.h"
#include "streamcopy.h"
#include "streamlist.h"
#include "temporaryoutput.h"
#include "timecode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

namespace {

constexpr int kFolderCheckMs = 1000;

QString ffmpegPath(const QString &path)
{
    // The "file:" protocol keeps names with a colon or a leading "-" from being read as
    // something else.
    return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

Error nothing(const QString &sentence)
{
    return Error { ErrorCode::NotPossible, sentence };
}

Error unusable(const QString &sentence)
{
    return Error { ErrorCode::DestinationUnusable, sentence };
}

// Where the output may go: it has a name, is not the input, is no folder, and its folder
// exists, takes the name and can be written to.
Outcome destinationRefusal(const QString &path, const QString &inputPath)
{
    const QFileInfo out(path);
    if (path.isEmpty() || out.fileName().isEmpty())
        return Error { ErrorCode::BadRequest, QStringLiteral("The output file has no name.") };
    if (SameFile(path, inputPath))
        return Error { ErrorCode::OutputIsInput,
                       QStringLiteral("The output file is the input file itself: %1\n"
                                      "Writing it would destroy the source. Choose another name "
                                      "or folder.")
                           .arg(path) };
    if (out.isDir())
        return unusable(QStringLiteral("A folder has the output file's name: %1").arg(path));
    const QDir folder = out.absoluteDir();
    if (!folder.exists())
        return unusable(
            QStringLiteral("The destination folder does not exist: %1").arg(folder.absolutePath()));
    const int nameMax = TemporaryOutput::maximumNameBytes(folder.absolutePath());
    const qsizetype nameBytes = QFile::encodeName(out.fileName()).size();
    if (nameBytes > nameMax)
        return unusable(QStringLiteral("The output file name is too long: %1 bytes where the "
                                       "folder takes %2.")
                            .arg(nameBytes)
                            .arg(nameMax));
    QTemporaryFile probe(folder.filePath(QStringLiteral(".snipora-write-test-XXXXXX")));
    if (!probe.open())
        return unusable(QStringLiteral("Cannot write to the destination folder: %1")
                            .arg(folder.absolutePath()));
    return {};
}

// What makes a translated job impossible before ffmpeg starts.
Outcome jobRefusal(const QString &inputPath, int videoStreams, int audioStreams,
                   const TranslatedOptions &t, const QString &extension)
{
    const bool keepsVideo = videoStreams > 0 && !t.outputArgs.contains(QLatin1String("-vn"));
    const bool keepsAudio = audioStreams > 0 && !t.outputArgs.contains(QLatin1String("-an"));
    if (!keepsVideo && !keepsAudio) {
        if (audioStreams == 0)
            return nothing(QStringLiteral("There is nothing to save: %1 has no audio stream, and "
                                          "the chosen format keeps only audio.")
                               .arg(inputPath));
        if (videoStreams == 0)
            return nothing(QStringLiteral("There is nothing to save: %1 has no video stream, and "
                                          "its audio is removed.")
                               .arg(inputPath));
        return nothing(QStringLiteral("There is nothing to save: the chosen settings remove both "
                                      "the video and the audio of %1.")
                           .arg(inputPath));
    }
    if (!extension.isEmpty() && !t.outputArgs.contains(QLatin1String("-f"))
        && !HasMuxerForExtension(extension))
        return nothing(QStringLiteral("No file type is known for the extension \"%1\" (a direct "
                                      "copy keeps the input's extension): rename the input or "
                                      "convert it to a format.")
                           .arg(extension));
    return {};
}

// The containers that keep chapters, by the output's extension: Matroska and WebM, MP4 and
// QuickTime.
bool ChaptersFit(const QString &extension)
{
    static const QStringList kinds { QStringLiteral("mkv"),  QStringLiteral("mka"),
                                     QStringLiteral("webm"), QStringLiteral("mp4"),
                                     QStringLiteral("m4v"),  QStringLiteral("m4a"),
                                     QStringLiteral("mov") };
    return kinds.contains(extension.toLower());
}

// What the translation knows of the input when only the chosen streams are kept: their counts,
// the first chosen video's picture and the first chosen audio's channels and rate.
SourceMedia chosenMedia(SourceMedia media, const QList<SourceStream> &chosen)
{
    media.videoStreams = media.audioStreams = 0;
    bool video = false;
    bool audio = false;
    for (const SourceStream &s : chosen) {
        if (s.kind == SourceStream::Kind::Video) {
            ++media.videoStreams;
            if (!std::exchange(video, true)) {
                media.width = s.width;
                media.height = s.height;
            }
        } else if (s.kind == SourceStream::Kind::Audio) {
            ++media.audioStreams;
            if (!std::exchange(audio, true)) {
                media.audioChannels = s.channels;
                media.sampleRate = s.sampleRate > 0 ? s.sampleRate : media.sampleRate;
            }
        }
    }
    media.chosen = chosen;
    return media;
}

} // namespace

FfmpegEncoder::FfmpegEncoder(QObject *parent)
    : Encoder(parent)
    , m_output(std::make_unique<TemporaryOutput>())
{
    m_process.progressed
        = [this](const QList<ProgressParser::Block> &blocks) { onProcessProgress(blocks); };
    m_copy.progressed = [this](qint64 bytes, double fraction) { onCopyProgress(bytes, fraction); };
    m_process.ended = m_copy.ended
        = [this](bool written, const QString &failure) { onRunEnded(written, failure); };
}

FfmpegEncoder::~FfmpegEncoder()
{
    stopEncoding();
}

bool FfmpegEncoder::isLibraryLoaded() const
{
    return m_loaded;
}

bool FfmpegEncoder::locateLibrary(const QString &folder)
{
    m_program = FindFfmpegProgram(folder);
    m_loaded = !m_program.isEmpty();
    if (!m_loaded)
        m_error = QStringLiteral("The ffmpeg program was not found.");
    return m_loaded;
}

bool FfmpegEncoder::loadLibrary(const QString &folder)
{
    const QString program = FindFfmpegProgram(folder);
    m_loaded = FfmpegProgramRuns(program);
    if (m_loaded)
        m_program = program;
    else
        m_error = QStringLiteral("The ffmpeg program was not found or does not run.");
    return m_loaded;
}

void FfmpegEncoder::clearJobs()
{
    if (isRunning())
        stopEncoding();
    m_inputs.clear();
    m_outputs.clear();
    m_mode.reset();
    m_ranges.clear();
    m_streams.clear();
    setReplaceAllowed(false);
}

int FfmpegEncoder::addInputFile(const QString &path, const QString &options)
{
    const Result<MediaFileInfo> inspected = InspectMediaFile(path);
    if (!inspected) {
        m_error = inspected.error().sentence;
        return -1;
    }
    const MediaFileInfo &info = inspected.value();
    if (!TokenizeOptions(options)) {
        m_error = QStringLiteral("Unbalanced quotes in the input options.");
        return -1;
    }
    Input input;
    input.path = QFileInfo(path).absoluteFilePath();
    input.options = options;
    input.formatName = info.formatName;
    input.media.videoStreams = info.videoStreams;
    input.media.audioStreams = info.audioStreams;
    input.media.width = info.width;
    input.media.height = info.height;
    input.media.frameRate = info.frameRate;
    input.media.audioChannels = info.audioChannels;
    input.media.sampleRate = info.sampleRate;
    input.durationMicros = info.durationMicros;
    m_inputs << input;
    return int(m_inputs.size()) - 1;
}

int FfmpegEncoder::addOutputFile(int inputIndex, const QString &path, const QString &options)
{
    if (inputIndex < 0 || inputIndex >= m_inputs.size() || m_inputs.at(inputIndex).removed) {
        m_error = QStringLiteral("There is no input to convert.");
        return -1;
    }
    const Input &input = m_inputs.at(inputIndex);
    const QFileInfo out(path);
    if (const Outcome destination = destinationRefusal(path, input.path); !destination) {
        m_error = destination.error().sentence;
        return -1;
    }
    QList<SourceStream> chosen;
    if (!m_streams.isEmpty() && !chosenStreams(input, &chosen))
        return -1;
    const SourceMedia media = chosen.isEmpty() ? input.media : chosenMedia(input.media, chosen);
    // A combination that ffmpeg would refuse even after the translation is refused here, with
    // the translation's sentence, before anything starts.
    Result<TranslatedOptions> translation = TranslateOptions(
        input.options, options, out.suffix(), input.formatName, media, m_deviceLimits);
    if (!translation) {
        m_error = translation.error().sentence;
        return -1;
    }
    TranslatedOptions &translated = translation.value();
    const Outcome refusal
        = jobRefusal(input.path, media.videoStreams, media.audioStreams, translated, out.suffix());
    if (!refusal) {
        m_error = refusal.error().sentence;
        return -1;
    }
    Output job;
    job.inputIndex = inputIndex;
    job.path = out.absoluteFilePath();
    job.streamCopy = m_mode ? *m_mode != CutMode::Convert : translated.copiesVideo;
    job.exact = m_mode ? *m_mode == CutMode::ExactCopy : m_exactCopy;
    job.streams = m_streams;
    job.notes = translated.notes;
    if (!m_ranges.isEmpty() && !job.streamCopy) {
        // The concat filter joins pictures and sounds: subtitles stay out of a joined
        // conversion.
        QList<SourceStream> joinable = chosen;
        const bool subtitles = joinable.removeIf(
            [](const SourceStream &s) { return s.kind == SourceStream::Kind::Subtitle; });
        if (subtitles && translated.outputArgs.contains(QLatin1String("-c:s:0")))
            job.notes << QStringLiteral("leaves out the subtitles: joined segments of a "
                                        "conversion hold pictures and sound only");
        const Result<RangeJoin> joined = joinRanges(
            input, joinable.isEmpty() ? input.media : chosenMedia(input.media, joinable), options,
            out.suffix());
        if (!joined) {
            m_error = joined.error().sentence;
            return -1;
        }
        job.joinedArgs = joined.value().args;
    }
    job.translated = std::move(translated);
    m_outputs.clear(); // one output per job
    m_outputs << job;
    return 0;
}

void FfmpegEncoder::removeInputFile(int inputIndex)
{
    if (inputIndex < 0 || inputIndex >= m_inputs.size())
        return;
    m_inputs[inputIndex].removed = true;
    m_outputs.removeIf([inputIndex](const Output &o) { return o.inputIndex == inputIndex; });
}

bool FfmpegEncoder::chosenStreams(const Input &input, QList<SourceStream> *chosen)
{
    const Result<QList<SourceStream>> listed = ListStreams(input.path);
    if (!listed) {
        m_error = listed.error().sentence;
        return false;
    }
    const QList<SourceStream> &streams = listed.value();
    bool media = false;
    for (const int index : std::as_const(m_streams)) {
        const SourceStream *s = FindStream(streams, index);
        if (!s) {
            m_error = QStringLiteral("The source has no stream %1 (its streams are 0 to %2).")
                          .arg(index)
                          .arg(streams.size() - 1);
            return false;
        }
        if (!std::any_of(chosen->cbegin(), chosen->cend(),
                         [index](const SourceStream &c) { return c.index == index; }))
            *chosen << *s;
        media
            = media || s->kind == SourceStream::Kind::Video || s->kind == SourceStream::Kind::Audio;
    }
    if (!media) {
        m_error = QStringLiteral("None of the chosen tracks is video or audio: there is nothing "
                                 "to save.");
        return false;
    }
    std::sort(chosen->begin(), chosen->end(),
              [](const SourceStream &a, const SourceStream &b) { return a.index < b.index; });
    return true;
}

QStringList FfmpegEncoder::jobNotes() const
{
    return m_outputs.isEmpty() ? QStringList() : m_outputs.constFirst().notes;
}

Result<RangeJoin> FfmpegEncoder::joinRanges(const Input &input, const SourceMedia &media,
                                            const QString &options, const QString &extension) const
{
    // Each range is translated as the job of that one range would be.
    static const QRegularExpression length(QStringLiteral("(^|\\s)-TimeLength\\s+\\S+"));
    QString rest = options;
    rest.remove(length);
    QList<TranslatedOptions> pieces;
    for (const CutSpan &range : m_ranges) {
        Result<TranslatedOptions> piece = TranslateOptions(
            QStringLiteral("-TimeStart ") + NumberText(range.startSeconds),
            rest + QStringLiteral(" -TimeLength ") + NumberText(range.lengthSeconds()), extension,
            input.formatName, media, m_deviceLimits);
        if (!piece)
            return piece.error();
        pieces << std::move(piece).value();
    }
    // The streams the translation mapped (as far as the format holds them) are the ones
    // joined.
    JoinStreams streams;
    if (!media.chosen.isEmpty() && !pieces.isEmpty()) {
        streams.video.clear();
        streams.audio.clear();
        const QStringList &args = pieces.constFirst().outputArgs;
        for (qsizetype i = 0; i + 1 < args.size(); ++i) {
            if (args.at(i) != QLatin1String("-map"))
                continue;
            const SourceStream *s = FindStream(media.chosen, args.at(i + 1).mid(2).toInt());
            if (s && s->kind == SourceStream::Kind::Video && streams.video.isEmpty())
                streams.video = QString::number(s->index);
            else if (s && s->kind == SourceStream::Kind::Audio)
                streams.audio << QString::number(s->index);
        }
    }
    Result<RangeJoin> join
        = JoinRanges(ffmpegPath(input.path), pieces,
                     media.audioStreams != 0 && !streams.audio.isEmpty(), streams);
    if (join && ChaptersFit(extension))
        AddJoinChapters(&join.value(), m_ranges.size(),
                        joinedChapters(input, !join.value().args.contains(QLatin1String("-an"))));
    return join;
}

QList<JoinChapter> FfmpegEncoder::joinedChapters(const Input &input, bool audio) const
{
    const QList<double> starts
        = ConvertedPieceStarts(input.path, m_ranges, audio && input.media.audioStreams != 0);
    QList<JoinChapter> chapters;
    for (qsizetype k = 0; k + 1 < starts.size() && k < m_ranges.size(); ++k)
        chapters << JoinChapter { starts.at(k), starts.at(k + 1), ChapterTitleOf(m_ranges, k) };
    return chapters;
}

QStringList FfmpegEncoder::jobArguments(const QString &outputPath) const
{
    if (m_outputs.isEmpty())
        return {};
    const Output &output = m_outputs.constFirst();
    const Input &input = m_inputs.at(output.inputIndex);
    const TranslatedOptions &t = output.translated;
    QStringList args { QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                       QStringLiteral("-nostats"), QStringLiteral("-loglevel"),
                       QStringLiteral("error"),    QStringLiteral("-progress"),
                       QStringLiteral("pipe:1"),   QStringLiteral("-n") };
    if (!output.joinedArgs.isEmpty())
        args << output.joinedArgs;
    else
        args << t.inputArgs << QStringLiteral("-i") << ffmpegPath(input.path) << t.outputArgs;
    args << ffmpegPath(outputPath);
    return args;
}

// How long the job's output should last (m_jobDurationMicros, -1 when unknown) and how much
// of it the commit's check expects (m_expectedMicros): the range, as far as the input reaches.
void FfmpegEncoder::planDurations(const Input &input, const TranslatedOptions &t)
{
    qint64 available = input.durationMicros > 0
        ? std::max<qint64>(0, input.durationMicros - qint64(t.startSeconds * 1e6))
        : -1;
    if (!m_ranges.isEmpty()) {
        // The ranges together, each as far as the input reaches.
        qint64 joined = 0;
        for (const CutSpan &range : m_ranges) {
            const double end = input.durationMicros > 0
                ? std::min(range.endSeconds, input.durationMicros / 1e6)
                : range.endSeconds;
            joined += qint64(std::max(0.0, end - range.startSeconds) * 1e6);
        }
        available = joined;
        m_jobDurationMicros = joined;
    } else if (t.lengthSeconds >= 0) {
        m_jobDurationMicros = qint64(t.lengthSeconds * 1e6);
    } else {
        m_jobDurationMicros = available;
    }
    m_expectedMicros = available >= 0 && m_jobDurationMicros >= 0
        ? std::min(available, m_jobDurationMicros)
        : m_jobDurationMicros;
}

bool FfmpegEncoder::startEncoding()
{
    if (isRunning()) {
        m_error = QStringLiteral("A conversion is already running.");
        return false;
    }
    if (m_outputs.isEmpty()) {
        m_error = QStringLiteral("There is no output to write.");
        return false;
    }
    const Output &output = m_outputs.constFirst();
    // A direct copy runs in this process; only a conversion needs the ffmpeg program.
    if (!m_loaded && !output.streamCopy) {
        m_error = QStringLiteral("The ffmpeg program was not found or does not run.");
        return false;
    }
    const Input &input = m_inputs.at(output.inputIndex);
    const TranslatedOptions &t = output.translated;
    if (const Outcome begun = m_output->begin(output.path); !begun) {
        m_error = begun.error().sentence;
        return false;
    }

    planDurations(input, t);

    m_stopping = false;
    m_aborted = false;
    m_folderCheck.start();
    const RunFiles files { input.path, m_output->temporaryPath(), m_output->finalPath() };
    if (output.streamCopy) {
        m_copyNotes.clear();
        m_run = &m_copy;
        StreamCopyJob job { input.path,     m_output->temporaryPath(),
                            t.startSeconds, t.lengthSeconds,
                            output.exact,   {},
                            output.streams };
        for (qsizetype k = 0; k < m_ranges.size(); ++k)
            job.ranges << CopyRange { m_ranges.at(k).startSeconds, m_ranges.at(k).lengthSeconds(),
                                      ChapterTitleOf(m_ranges, k) };
        m_copy.start(job, files);
    } else {
        m_run = &m_process;
        m_process.start(m_program, jobArguments(m_output->temporaryPath()), files);
    }
    return true;
}

bool FfmpegEncoder::folderGone()
{
    if (m_aborted || !m_folderCheck.hasExpired(kFolderCheckMs))
        return false;
    m_folderCheck.restart();
    if (m_output->folderStillThere())
        return false;
    m_aborted = true;
    endRun(folderGoneMessage());
    return true;
}

void FfmpegEncoder::onProcessProgress(const QList<ProgressParser::Block> &blocks)
{
    if (m_run != &m_process || m_stopping || folderGone())
        return;
    for (const ProgressParser::Block &b : blocks) {
        if (m_run != &m_process)
            return; // a receiver stopped the run
        const qint64 position = b.outTimeUs < 0 ? (b.outTimeUs == -1 ? -1 : 0) : b.outTimeUs;
        Q_EMIT encoderProgress(b.totalSize, position, m_jobDurationMicros);
    }
}

void FfmpegEncoder::onCopyProgress(qint64 bytes, double fraction)
{
    if (m_run != &m_copy || m_stopping || folderGone())
        return;
    // The last report comes once the copy has closed its file, when the writer counts nothing
    // any more: the file itself tells how much was written.
    if (fraction >= 1.0)
        bytes = std::max(bytes, QFileInfo(m_output->temporaryPath()).size());
    const qint64 duration = m_jobDurationMicros > 0 ? m_jobDurationMicros : 1000000;
    Q_EMIT encoderProgress(bytes, qint64(fraction * double(duration)), duration);
}

void FfmpegEncoder::onRunEnded(bool written, const QString &failure)
{
    if (m_run == &m_copy)
        m_copyNotes = m_copy.notes();
    if (!written) {
        finishRun(false, failure);
        return;
    }
    saveOutput();
}

void FfmpegEncoder::stopEncoding()
{
    if (!m_run)
        return;
    m_stopping = true;
    endRun(QStringLiteral("The conversion was stopped."));
}

void FfmpegEncoder::endRun(const QString &message)
{
    if (!m_run)
        return;
    m_run->stop();
    finishRun(false, message);
}

QString FfmpegEncoder::folderGoneMessage() const
{
    return QStringLiteral("The destination folder %1 was moved or removed during the "
                          "conversion; nothing was saved.")
        .arg(QFileInfo(m_output->finalPath()).absolutePath());
}

QString FfmpegEncoder::temporaryOutputPath() const
{
    return m_output->temporaryPath();
}

bool FfmpegEncoder::isRunning() const
{
    return m_run && m_run->isRunning();
}

QString FfmpegEncoder::lastErrorText() const
{
    return m_error;
}

void FfmpegEncoder::saveOutput()
{
    if (const Outcome saved = m_output->commit(m_expectedMicros, replaceAllowed()); !saved) {
        finishRun(false, saved.error().sentence);
        return;
    }
    finishRun(true, QString());
}

void FfmpegEncoder::finishRun(bool succeeded, const QString &text)
{
    const QString message = text; // text may be one of the members cleared below
    m_run = nullptr;
    m_output->discard();
    setReplaceAllowed(false); // consent was for this job only
    m_aborted = false;
    const bool stopped = m_stopping;
    m_stopping = false;
    if (!succeeded && !stopped)
        m_error = message;
    Q_EMIT encoderFinished(0, succeeded, !succeeded && !stopped, message);
}
