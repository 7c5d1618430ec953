#include "encoderruns.h"

#include "streamcopy.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {

constexpr int kTerminateWaitMs = 3000;
constexpr int kKillWaitMs = 2000;
constexpr qsizetype kStderrTailBytes = 8192;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The ffmpeg program tells a full disk only in its log (the text of strerror for ENOSPC and
// EDQUOT); the in-process copy reports it as ErrorCode::DestinationFull.
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

ProcessRun::~ProcessRun()
{
    stop();
}

void ProcessRun::start(const QString &program, const QStringList &arguments, const RunFiles &files)
{
    stop();
    m_parser = ProgressParser();
    m_stderrTail.clear();
    m_files = files;
    m_program = program;
    auto *process = new QProcess;
    m_process = process;
#ifdef Q_OS_LINUX
    // ffmpeg dies with the program, even when the program is killed.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                     [this] { onStandardOutput(); });
    QObject::connect(process, &QProcess::readyReadStandardError, process,
                     [this] { onStandardError(); });
    QObject::connect(
        process, &QProcess::finished, process,
        [this](int exitCode, QProcess::ExitStatus status) { onFinished(exitCode, status); });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [this](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             finish(false,
                                    QStringLiteral("The ffmpeg program could not be "
                                                   "started: %1")
                                        .arg(m_program));
                     });
    process->start(program, arguments);
}

void ProcessRun::stop()
{
    QPointer<QProcess> process = m_process;
    m_process = nullptr;
    if (!process)
        return;
    process->disconnect();
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(kTerminateWaitMs)) {
            process->kill();
            process->waitForFinished(kKillWaitMs);
        }
    }
    process->deleteLater();
}

bool ProcessRun::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

void ProcessRun::onStandardOutput()
{
    if (!m_process)
        return;
    const QList<ProgressParser::Block> blocks = m_parser.feed(m_process->readAllStandardOutput());
    if (progressed)
        progressed(blocks);
}

void ProcessRun::onStandardError()
{
    if (!m_process)
        return;
    m_stderrTail += m_process->readAllStandardError();
    if (m_stderrTail.size() > kStderrTailBytes)
        m_stderrTail = m_stderrTail.right(kStderrTailBytes);
}

void ProcessRun::onFinished(int exitCode, QProcess::ExitStatus status)
{
    if (!m_process)
        return;
    onStandardOutput();
    if (!m_process)
        return; // the last progress ended the run (the destination folder went away)
    onStandardError();
    // ffmpeg 5 exits 0 even when the output could not be written completely (a full disk
    // while writing the trailer); such a run is a failure, never a saved file.
    static const char *const kWriteErrors[]
        = { "Error writing trailer", "Error closing file", "No space left on device",
            "av_interleaved_write_frame()", "Input/output error" };
    bool writeFailed = false;
    for (const char *marker : kWriteErrors)
        writeFailed = writeFailed || m_stderrTail.contains(marker);
    if (status != QProcess::NormalExit || exitCode != 0 || writeFailed) {
        finish(false, conversionFailure(status != QProcess::NormalExit));
        return;
    }
    finish(true, QString());
}

void ProcessRun::finish(bool written, const QString &failure)
{
    QProcess *process = m_process;
    m_process = nullptr;
    if (process) {
        process->disconnect();
        process->deleteLater();
    }
    if (ended)
        ended(written, failure);
}

QString ProcessRun::conversionFailure(bool crashed) const
{
    const QString finalPath = native(m_files.finalPath);
    const QStringList lines = readableLines(m_stderrTail, m_files.temporaryPath, finalPath);
    const QString all = lines.join(QLatin1Char('\n'));
    if (diskFull(all))
        return diskFullMessage(finalPath);
    const QString input = m_files.inputPath;
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

CopyRun::~CopyRun()
{
    stop();
}

void CopyRun::start(const StreamCopyJob &job, const RunFiles &files)
{
    stop();
    m_files = files;
    const quint64 run = ++m_run;
    m_cancel = false;
    m_running = true;
    m_notes.clear();
    m_thread = std::thread([this, job, run] {
        StreamCopy copy(job);
        Outcome outcome = copy.run(m_cancel, [this, run](qint64 bytes, double fraction) {
            QMetaObject::invokeMethod(
                &m_context, [this, run, bytes, fraction] { onProgress(run, bytes, fraction); },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            &m_context,
            [this, run, outcome = std::move(outcome), notes = copy.notes()] {
                onFinished(run, outcome, notes);
            },
            Qt::QueuedConnection);
    });
}

void CopyRun::join()
{
    if (m_thread.joinable()) {
        m_cancel = true;
        m_thread.join();
    }
    m_running = false;
}

void CopyRun::stop()
{
    ++m_run; // what the worker still reports belongs to no run
    join();
}

void CopyRun::onProgress(quint64 run, qint64 bytes, double fraction)
{
    if (run == m_run && m_running && progressed)
        progressed(bytes, fraction);
}

void CopyRun::onFinished(quint64 run, const Outcome &outcome, const CopyNotes &notes)
{
    if (run != m_run || !m_running)
        return;
    m_thread.join(); // the worker has finished: this was its last act
    m_running = false;
    m_notes = notes;
    const QString finalPath = m_files.finalPath;
    const QString failure = outcome ? QString()
        : outcome.code() == ErrorCode::DestinationFull
        ? diskFullMessage(finalPath)
        : nothingSaved(finalPath, outcome.error().sentence, m_files.temporaryPath);
    if (ended)
        ended(outcome.ok(), failure);
}
