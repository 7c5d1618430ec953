#include "ffmpegencoder.h"

#include "avprobe.h"
#include "medialibrary.h"
#include "optiontranslator.h"
#include "streamcopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {

constexpr int kTerminateWaitMs = 3000;
constexpr int kKillWaitMs = 2000;
constexpr qsizetype kStderrTailBytes = 8192;
constexpr int kFolderCheckMs = 1000;

QString ffmpegPath(const QString &path)
{
    // The "file:" protocol keeps names with a colon or a leading "-" from being read as
    // something else.
    return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

// What makes a translated job impossible before ffmpeg starts, as a sentence; "" when nothing.
QString jobRefusal(const QString &inputPath, int videoStreams, int audioStreams,
                   const TranslatedOptions &t, const QString &extension)
{
    const bool keepsVideo = videoStreams > 0 && !t.outputArgs.contains(QLatin1String("-vn"));
    const bool keepsAudio = audioStreams > 0 && !t.outputArgs.contains(QLatin1String("-an"));
    if (!keepsVideo && !keepsAudio) {
        if (audioStreams == 0)
            return QStringLiteral("There is nothing to save: %1 has no audio stream, and the "
                                  "chosen format keeps only audio.")
                .arg(inputPath);
        if (videoStreams == 0)
            return QStringLiteral("There is nothing to save: %1 has no video stream, and its "
                                  "audio is removed.")
                .arg(inputPath);
        return QStringLiteral("There is nothing to save: the chosen settings remove both the "
                              "video and the audio of %1.")
            .arg(inputPath);
    }
    if (!extension.isEmpty() && !t.outputArgs.contains(QLatin1String("-f"))
        && !HasMuxerForExtension(extension))
        return QStringLiteral("No file type is known for the extension \"%1\" (a direct copy "
                              "keeps the input's extension): rename the input or convert it to "
                              "a format.")
            .arg(extension);
    return QString();
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool diskFull(const QString &text)
{
    return text.contains(QLatin1String("No space left on device"))
        || text.contains(QLatin1String("Disk quota exceeded"));
}

QString diskFullMessage(const QString &finalPath)
{
    return QStringLiteral("There is not enough space on the disk for %1; nothing was saved.")
        .arg(native(finalPath));
}

// "Nothing was saved as FILE: " and the reason, a sentence of the engine's ("The video ...")
// made the rest of that one sentence: one line, the temporary file named as the file the user
// asked for.
QString nothingSaved(const QString &finalPath, QString reason, const QString &temporaryPath = {})
{
    if (!temporaryPath.isEmpty())
        reason.replace(temporaryPath, native(finalPath));
    reason = reason.simplified();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    if (reason.size() > 1 && reason.at(1).isLower())
        reason[0] = reason.at(0).toLower();
    return QStringLiteral("Nothing was saved as %1: %2.").arg(native(finalPath), reason);
}

// ffmpeg's error lines as a user may read them: without the log's "[libx264 @ 0x...]" prefixes,
// an encoder's own "x265 [error]:" tag and the "file:" protocol, the temporary file given as the
// file the user asked for; empty lines and notes of repeats left out.
QStringList readableLines(const QByteArray &tail, const QString &temporaryPath,
                          const QString &finalPath)
{
    static const QRegularExpression prefix(
        QStringLiteral("^((\\[[^\\]]*@ 0x[0-9a-fA-F]+\\]\\s*)+|\\w+ \\[\\w+\\]:\\s*)"));
    QStringList lines;
    for (const QByteArray &raw : tail.split('\n')) {
        QString line = QString::fromUtf8(raw).trimmed();
        line.remove(prefix);
        if (!temporaryPath.isEmpty())
            line.replace(temporaryPath, native(finalPath));
        line.replace(QLatin1String("file:/"), QLatin1String("/"));
        if (!line.isEmpty() && !line.startsWith(QLatin1String("Last message repeated")))
            lines << line;
    }
    return lines;
}

// The last of the lines that tells the fault rather than its consequence ("Conversion failed!",
// "Error initializing output stream ...").
QString faultLine(const QStringList &lines)
{
    static const char *const kConsequences[]
        = { "Conversion failed",  "Error initializing output", "Error while opening encoder",
            "Error closing file", "Error writing trailer",     "Error while processing" };
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        bool consequence = false;
        for (const char *c : kConsequences)
            consequence = consequence || it->contains(QLatin1String(c));
        if (!consequence)
            return *it;
    }
    return lines.isEmpty() ? QString() : lines.last();
}

} // namespace

FfmpegEncoder::FfmpegEncoder(QObject *parent)
    : Encoder(parent)
{
}

FfmpegEncoder::~FfmpegEncoder()
{
    stopEncoding(false);
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
        stopEncoding(false);
    m_inputs.clear();
    m_outputs.clear();
    m_mode.reset();
    setReplaceAllowed(false);
}

int FfmpegEncoder::addInputFile(const QString &path, const QString &options)
{
    MediaFileInfo info;
    QString error;
    if (!InspectMediaFile(path, &info, &error)) {
        m_error = error;
        return -1;
    }
    bool ok = true;
    TokenizeOptions(options, &ok);
    if (!ok) {
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
    input.videoStreams = info.videoStreams;
    input.audioStreams = info.audioStreams;
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
    if (path.isEmpty() || out.fileName().isEmpty()) {
        m_error = QStringLiteral("The output file has no name.");
        return -1;
    }
    if (SameFile(path, input.path)) {
        m_error = QStringLiteral("The output file is the input file itself: %1\n"
                                 "Writing it would destroy the source. Choose another name "
                                 "or folder.")
                      .arg(path);
        return -1;
    }
    if (out.isDir()) {
        m_error = QStringLiteral("A folder has the output file's name: %1").arg(path);
        return -1;
    }
    const QDir folder = out.absoluteDir();
    if (!folder.exists()) {
        m_error = QStringLiteral("The destination folder does not exist: %1")
                      .arg(folder.absolutePath());
        return -1;
    }
    const int nameMax = TemporaryOutput::maximumNameBytes(folder.absolutePath());
    if (QFile::encodeName(out.fileName()).size() > nameMax) {
        m_error = QStringLiteral("The output file name is too long: %1 bytes where the folder "
                                 "takes %2.")
                      .arg(QFile::encodeName(out.fileName()).size())
                      .arg(nameMax);
        return -1;
    }
    {
        QTemporaryFile probe(folder.filePath(QStringLiteral(".snipora-write-test-XXXXXX")));
        if (!probe.open()) {
            m_error = QStringLiteral("Cannot write to the destination folder: %1")
                          .arg(folder.absolutePath());
            return -1;
        }
    }
    // A combination that ffmpeg would refuse even after the translation is refused here, with
    // the translation's sentence, before anything starts.
    const TranslatedOptions translated = TranslateOptions(
        input.options, options, out.suffix(), input.formatName, -1, input.media, m_deviceLimits);
    if (!translated.ok) {
        m_error = translated.error;
        return -1;
    }
    const QString refusal
        = jobRefusal(input.path, input.videoStreams, input.audioStreams, translated, out.suffix());
    if (!refusal.isEmpty()) {
        m_error = refusal;
        return -1;
    }
    Output job;
    job.inputIndex = inputIndex;
    job.path = out.absoluteFilePath();
    job.options = options;
    job.streamCopy = m_mode ? *m_mode != CutMode::Convert : translated.copiesVideo;
    job.exact = m_mode ? *m_mode == CutMode::ExactCopy : m_exactCopy;
    job.device = m_deviceLimits;
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

QStringList FfmpegEncoder::jobArguments(const QString &outputPath) const
{
    if (m_outputs.isEmpty())
        return {};
    const Output &output = m_outputs.constFirst();
    const Input &input = m_inputs.at(output.inputIndex);
    const TranslatedOptions t
        = TranslateOptions(input.options, output.options, QFileInfo(output.path).suffix(),
                           input.formatName, output.copyKeyFrame, input.media, output.device);
    if (!t.ok)
        return {};
    QStringList args { QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                       QStringLiteral("-nostats"), QStringLiteral("-loglevel"),
                       QStringLiteral("error"),    QStringLiteral("-progress"),
                       QStringLiteral("pipe:1"),   QStringLiteral("-n") };
    args << t.inputArgs << QStringLiteral("-i") << ffmpegPath(input.path) << t.outputArgs
         << ffmpegPath(outputPath);
    return args;
}

bool FfmpegEncoder::startEncoding(int flag)
{
    Q_UNUSED(flag);
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
    const QFileInfo out(output.path);
    const TranslatedOptions t
        = TranslateOptions(input.options, output.options, out.suffix(), input.formatName,
                           output.copyKeyFrame, input.media, output.device);

    if (!m_output.begin(output.path, &m_error))
        return false;

    const qint64 available = input.durationMicros > 0
        ? std::max<qint64>(0, input.durationMicros - qint64(t.startSeconds * 1e6))
        : -1;
    if (t.lengthSeconds >= 0)
        m_jobDurationMicros = qint64(t.lengthSeconds * 1e6);
    else
        m_jobDurationMicros = available;
    m_expectedMicros = available >= 0 && m_jobDurationMicros >= 0
        ? std::min(available, m_jobDurationMicros)
        : m_jobDurationMicros;

    m_parser = ProgressParser();
    m_stderrTail.clear();
    m_stopping = false;
    m_abortMessage.clear();
    m_folderCheck.start();
    if (output.streamCopy) {
        startCopy(output, input, t.startSeconds, t.lengthSeconds);
        return true;
    }

    auto *process = new QProcess(this);
    m_process = process;
#ifdef Q_OS_LINUX
    // ffmpeg dies with the program, even when the program is killed.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    connect(process, &QProcess::readyReadStandardOutput, this, &FfmpegEncoder::onStandardOutput);
    connect(process, &QProcess::readyReadStandardError, this, &FfmpegEncoder::onStandardError);
    connect(process, &QProcess::finished, this, &FfmpegEncoder::onFinished);
    connect(process, &QProcess::errorOccurred, this, &FfmpegEncoder::onProcessError);
    process->start(m_program, jobArguments(m_output.temporaryPath()));
    return true;
}

void FfmpegEncoder::startCopy(const Output &output, const Input &input, double start, double length)
{
    StreamCopyJob job;
    job.inputPath = input.path;
    job.outputPath = m_output.temporaryPath();
    job.startSeconds = start;
    job.lengthSeconds = length;
    job.exact = output.exact;
    const quint64 run = ++m_copyRun;
    m_cancelCopy = false;
    m_copying = true;
    m_copyNotes.clear();
    m_copyThread = std::thread([this, job, run] {
        StreamCopy copy(job);
        const bool ok = copy.run(m_cancelCopy, [this, run](qint64 bytes, double fraction) {
            QMetaObject::invokeMethod(
                this, [this, run, bytes, fraction] { onCopyProgress(run, bytes, fraction); },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this,
            [this, run, ok, error = copy.errorText(), notes = copy.notes()] {
                onCopyFinished(run, ok, error, notes);
            },
            Qt::QueuedConnection);
    });
}

void FfmpegEncoder::joinCopy()
{
    if (m_copyThread.joinable()) {
        m_cancelCopy = true;
        m_copyThread.join();
    }
    m_copying = false;
}

void FfmpegEncoder::onCopyProgress(quint64 run, qint64 bytes, double fraction)
{
    if (run != m_copyRun || !m_copying || m_stopping)
        return;
    // A folder that went away takes the output with it: end the run now, not at its end.
    if (m_abortMessage.isEmpty() && m_folderCheck.hasExpired(kFolderCheckMs)) {
        m_folderCheck.restart();
        if (!m_output.folderStillThere()) {
            abortRun(folderGoneMessage());
            return;
        }
    }
    // The last report comes once the copy has closed its file, when the writer counts nothing
    // any more: the file itself tells how much was written.
    if (fraction >= 1.0)
        bytes = std::max(bytes, QFileInfo(m_output.temporaryPath()).size());
    const qint64 duration = m_jobDurationMicros > 0 ? m_jobDurationMicros : 1000000;
    Q_EMIT encoderProgress(bytes, qint64(fraction * double(duration)), duration);
}

void FfmpegEncoder::onCopyFinished(quint64 run, bool succeeded, const QString &error,
                                   const QStringList &notes)
{
    if (run != m_copyRun || !m_copying)
        return;
    m_copyThread.join(); // the worker has finished: this was its last act
    m_copying = false;
    m_copyNotes = notes;
    if (!succeeded) {
        const QString finalPath = m_output.finalPath();
        finishRun(false,
                  diskFull(error) ? diskFullMessage(finalPath)
                                  : nothingSaved(finalPath, error, m_output.temporaryPath()));
        return;
    }
    saveOutput();
}

void FfmpegEncoder::endProcess()
{
    QPointer<QProcess> process = m_process;
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (process && !process->waitForFinished(kTerminateWaitMs) && process) {
            process->kill();
            process->waitForFinished(kKillWaitMs);
        }
    }
}

void FfmpegEncoder::stopEncoding(bool flag)
{
    Q_UNUSED(flag);
    if (m_copying) {
        // The worker checks the flag between packets and frames, so the wait is short.
        m_stopping = true;
        ++m_copyRun;
        joinCopy();
        finishRun(false, QStringLiteral("The conversion was stopped."));
        return;
    }
    if (!m_process)
        return;
    m_stopping = true;
    endProcess();
    // The finished handler normally ran inside the waits; make sure the run is closed.
    if (m_process)
        finishRun(false, QStringLiteral("The conversion was stopped."));
}

void FfmpegEncoder::abortRun(const QString &message)
{
    if (m_copying) {
        m_abortMessage = message;
        ++m_copyRun; // what the worker still reports belongs to no run
        joinCopy();
        finishRun(false, message);
        return;
    }
    if (!m_process)
        return;
    m_abortMessage = message;
    endProcess();
    if (m_process)
        finishRun(false, message);
}

QString FfmpegEncoder::folderGoneMessage() const
{
    return QStringLiteral("The destination folder %1 was moved or removed during the "
                          "conversion; nothing was saved.")
        .arg(QFileInfo(m_output.finalPath()).absolutePath());
}

bool FfmpegEncoder::isRunning() const
{
    return m_copying || (m_process && m_process->state() != QProcess::NotRunning);
}

QString FfmpegEncoder::lastErrorText() const
{
    return m_error;
}

void FfmpegEncoder::onStandardOutput()
{
    if (!m_process)
        return;
    const QList<ProgressParser::Block> blocks = m_parser.feed(m_process->readAllStandardOutput());
    // A folder that went away takes the output with it: end the run now, not at its end.
    if (!m_stopping && m_abortMessage.isEmpty() && m_folderCheck.hasExpired(kFolderCheckMs)) {
        m_folderCheck.restart();
        if (!m_output.folderStillThere()) {
            abortRun(folderGoneMessage());
            return;
        }
    }
    for (const ProgressParser::Block &b : blocks) {
        if (m_stopping || !m_abortMessage.isEmpty())
            return;
        const qint64 position = b.outTimeUs < 0 ? (b.outTimeUs == -1 ? -1 : 0) : b.outTimeUs;
        Q_EMIT encoderProgress(b.totalSize, position, m_jobDurationMicros);
    }
}

void FfmpegEncoder::onStandardError()
{
    if (!m_process)
        return;
    m_stderrTail += m_process->readAllStandardError();
    if (m_stderrTail.size() > kStderrTailBytes)
        m_stderrTail = m_stderrTail.right(kStderrTailBytes);
}

QString FfmpegEncoder::conversionFailure(bool crashed) const
{
    const QString finalPath = native(m_output.finalPath());
    const QStringList lines = readableLines(m_stderrTail, m_output.temporaryPath(), finalPath);
    const QString all = lines.join(QLatin1Char('\n'));
    if (diskFull(all))
        return diskFullMessage(finalPath);
    QString input;
    for (const Output &o : m_outputs)
        input = m_inputs.value(o.inputIndex).path;
    QString sentence;
    if (crashed) {
        sentence = QStringLiteral("The encoder (ffmpeg) ended unexpectedly");
    } else if (!input.isEmpty() && all.contains(input)
               && (all.contains(QLatin1String("No such file"))
                   || all.contains(QLatin1String("Permission denied")))) {
        sentence
            = QStringLiteral("The source %1 could not be read (it was moved, removed or locked "
                             "after it was opened)")
                  .arg(native(input));
    } else if (all.contains(QLatin1String("Error while opening encoder"))
               || all.contains(QLatin1String("Error initializing output"))) {
        sentence = QStringLiteral("The encoder refused the chosen settings (try other ones, or "
                                  "another format)");
    } else if (m_stderrTail.contains("Error writing trailer")
               || m_stderrTail.contains("Error closing file")
               || m_stderrTail.contains("av_interleaved_write_frame()")) {
        sentence = QStringLiteral("The output could not be written completely");
    } else {
        sentence = QStringLiteral("ffmpeg could not convert %1").arg(native(input));
    }
    const QString detail = faultLine(lines);
    return nothingSaved(finalPath, sentence)
        + (detail.isEmpty() || sentence.contains(detail) ? QString()
                                                         : QStringLiteral("\nDetails: ") + detail);
}

void FfmpegEncoder::onFinished(int exitCode, QProcess::ExitStatus status)
{
    if (!m_process)
        return;
    onStandardOutput();
    if (!m_process)
        return; // the last progress found the folder gone and ended the run
    onStandardError();
    if (!m_abortMessage.isEmpty()) {
        finishRun(false, m_abortMessage);
        return;
    }
    if (m_stopping) {
        finishRun(false, QStringLiteral("The conversion was stopped."));
        return;
    }
    // ffmpeg 5 exits 0 even when the output could not be written completely (a full disk
    // while writing the trailer); such a run is a failure, never a saved file.
    static const char *const kWriteErrors[]
        = { "Error writing trailer", "Error closing file", "No space left on device",
            "av_interleaved_write_frame()", "Input/output error" };
    bool writeFailed = false;
    for (const char *marker : kWriteErrors)
        writeFailed = writeFailed || m_stderrTail.contains(marker);
    if (status != QProcess::NormalExit || exitCode != 0 || writeFailed) {
        finishRun(false, conversionFailure(status != QProcess::NormalExit));
        return;
    }
    saveOutput();
}

void FfmpegEncoder::saveOutput()
{
    QString error;
    if (!m_output.commit(m_expectedMicros, replaceAllowed(), &error)) {
        finishRun(false, error);
        return;
    }
    finishRun(true, QString());
}

void FfmpegEncoder::onProcessError(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart && m_process)
        finishRun(false,
                  QStringLiteral("The ffmpeg program could not be started: %1").arg(m_program));
}

void FfmpegEncoder::finishRun(bool succeeded, const QString &text)
{
    const QString message = text; // text may be one of the members cleared below
    QProcess *process = m_process;
    m_process = nullptr;
    if (process) {
        process->disconnect(this);
        process->deleteLater();
    }
    m_output.discard();
    setReplaceAllowed(false); // consent was for this job only
    m_abortMessage.clear();
    const bool stopped = m_stopping;
    m_stopping = false;
    if (!succeeded && !stopped)
        m_error = message;
    Q_EMIT encoderFinished(0, succeeded, !succeeded && !stopped, message);
}
