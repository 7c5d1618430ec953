#include "formconverting.h"

#include "encoder.h"
#include "messagesink.h"
#include "progress.h"
#include "sharedvalues.h"
#include "startcut.h"
#include "taskbarprogress.h"
#include "timecode.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QString kProgramTitle = QStringLiteral("Snipora");

// Seconds of the source that a job saves.
double JobSeconds(const CutJob &job)
{
    double seconds = 0;
    for (const CutSpan &span : job.ranges)
        seconds += std::max(0.0, span.lengthSeconds());
    return seconds;
}

} // namespace

FormConverting::FormConverting(FormConvertingParts parts, QWidget *parent)
    : QDialog(parent)
    , m_parts(std::move(parts))
{
    setObjectName(QStringLiteral("FormConverting"));
    setWindowTitle(QStringLiteral("Please wait..."));
    // Modal over the main window only: the "File Saved" popup, a window of its own, stays
    // clickable while the finished dialog is open.
    setWindowModality(Qt::WindowModal);
    m_monotonic.start();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    m_group = new QGroupBox(this);
    auto *form = new QFormLayout(m_group);
    m_text1 = new QLineEdit(m_group);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text2 = new QLineEdit(m_group);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text3 = new QLineEdit(m_group);
    m_text3->setObjectName(QStringLiteral("Text3"));
    for (QLineEdit *box : { m_text1, m_text2, m_text3 }) {
        box->setReadOnly(true);
        box->setFocusPolicy(Qt::NoFocus);
        box->setMinimumWidth(200);
    }
    form->addRow(QStringLiteral("Time Elapsed:"), m_text1);
    form->addRow(QStringLiteral("Remaining Time:"), m_text2);
    form->addRow(QStringLiteral("Estimated Size:"), m_text3);
    layout->addWidget(m_group);
    m_labelSaved = new QLabel(this);
    m_labelSaved->setObjectName(QStringLiteral("LabelSaved"));
    m_labelSaved->setWordWrap(true);
    m_labelSaved->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_labelSaved->hide();
    layout->addWidget(m_labelSaved);
    m_progressBar1 = new QProgressBar(this);
    m_progressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar1->setRange(0, 100);
    m_progressBar1->setValue(0);
    layout->addWidget(m_progressBar1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_btnStop = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnStop->setObjectName(QStringLiteral("BtnStop"));
    buttons->addWidget(m_btnStop);
    layout->addLayout(buttons);
    connect(m_btnStop, &QPushButton::clicked, this, &FormConverting::stop);

    if (parent)
        setWindowIcon(parent->windowIcon());
    if (m_parts.encoder) {
        connect(m_parts.encoder, &Encoder::encoderProgress, this, &FormConverting::onProgress);
        connect(m_parts.encoder, &Encoder::encoderFinished, this, &FormConverting::onFinished);
    }
}

FormConverting::~FormConverting()
{
    if (m_parts.encoder)
        m_parts.encoder->disconnect(this);
}

double FormConverting::now() const
{
    if (m_parts.clock)
        return m_parts.clock();
    return m_monotonic.nsecsElapsed() / 1e9 + 1.0; // never 0: 0 means "not started"
}

QString FormConverting::outputPath() const
{
    const SharedValues &s = *m_parts.shared;
    return s.outputPath();
}

int FormConverting::run()
{
    // The dialog's load; of several files, the first one's share of the bar.
    if (m_parts.shared) {
        const CutJob &first
            = m_parts.jobs.isEmpty() ? m_parts.shared->Job : m_parts.jobs.constFirst();
        if (first.isCopy())
            m_progressBar1->setValue(35 / std::max(1, int(m_parts.jobs.size())));
    }
    StartConversion();
    if (m_closed)
        return QDialog::Rejected; // the start failed (or the job already ended in failure)
    return exec();
}

void FormConverting::StartConversion()
{
    if (!m_parts.shared || !m_parts.encoder)
        return;
    if (!m_parts.jobs.isEmpty())
        m_parts.shared->Job = m_parts.jobs.at(m_fileIndex);
    const SharedValues &s = *m_parts.shared;
    if (m_fileIndex == 0)
        m_progressClockStart = 0;
    const Outcome started = startCut(*m_parts.encoder, s.Job);
    if (!started) {
        // Nothing runs, so a "Cancel" that waits would be a dead end: the dialog closes.
        if (m_parts.messages)
            showRefusal(started.error());
        closeDialog();
        return;
    }
    QApplication::processEvents();
}

void FormConverting::showRefusal(const Error &error)
{
    if (error.code == ErrorCode::SourceUnreadable) {
        m_parts.messages->showMessage(this, MessageSink::Icon::Error, kProgramTitle,
                                      QStringLiteral("Can not open file: \n%1\n\nError: \n%2")
                                          .arg(m_parts.shared->Job.source.path, error.sentence));
        return;
    }
    m_parts.messages->showMessage(
        this, MessageSink::Icon::Error, QStringLiteral("Error"),
        QStringLiteral("Cannot convert.\nError: %1\nPlease try to convert it to another format")
            .arg(error.sentence));
}

void FormConverting::onProgress(qint64 bytes, qint64 position, qint64 duration)
{
    if (!m_parts.shared || m_parts.shared->StopRequested)
        return;
    const double t = now();
    if (m_progressClockStart == 0)
        m_progressClockStart = t;
    // Of several files, the figures are the whole run's: the files saved count in full, the
    // one running by its own fraction, each weighed by the seconds of the source it saves.
    if (m_parts.jobs.size() > 1 && duration > 0 && position > 0) {
        double total = 0;
        for (const CutJob &job : std::as_const(m_parts.jobs))
            total += JobSeconds(job);
        const double share = JobSeconds(m_parts.jobs.at(m_fileIndex));
        const double fraction = double(position) / double(duration);
        if (total > 0) {
            constexpr qint64 kWhole = 1000000000;
            position = qint64(std::llround((m_savedSeconds + fraction * share) / total * kWhole));
            duration = kWhole;
            bytes += m_savedBytes;
        }
    }
    const ProgressUpdate u = ComputeProgress(bytes, position, duration, t, m_progressClockStart);
    if (!u.ok)
        return; // the previous figures stay
    m_text1->setText(u.elapsed);
    m_text2->setText(u.remaining);
    m_text3->setText(u.estimatedSize);
    if (u.hasPercent) {
        m_progressBar1->setValue(u.percent);
        if (m_parts.taskbar)
            m_parts.taskbar->setValue(m_progressBar1->value());
    }
}

void FormConverting::onFinished(int taskIndex, bool succeeded, bool failed, const QString &message)
{
    if (taskIndex >= 0 && succeeded) {
        m_savedPaths << outputPath();
        if (startNextFile())
            return;
        m_saved = true;
        showFinished();
    }
    if (failed) {
        if (m_parts.messages)
            m_parts.messages->showMessage(this, MessageSink::Icon::Warning, kProgramTitle, message);
        if (m_parts.taskbar)
            m_parts.taskbar->clear();
        closeDialog();
    }
}

bool FormConverting::startNextFile()
{
    if (m_fileIndex + 1 >= m_parts.jobs.size() || !m_parts.shared)
        return false;
    m_savedSeconds += JobSeconds(m_parts.jobs.at(m_fileIndex));
    m_savedBytes += QFileInfo(outputPath()).size();
    ++m_fileIndex;
    m_labelSaved->setText(
        QStringLiteral("Saved %1 of %2 files").arg(m_fileIndex).arg(m_parts.jobs.size()));
    m_labelSaved->show();
    // Out of the encoder's finished event first: the next job starts on a quiet encoder.
    QTimer::singleShot(0, this, [this] {
        if (!m_closed && !m_parts.shared->StopRequested)
            StartConversion();
    });
    return true;
}

void FormConverting::showFinished()
{
    m_progressBar1->setValue(100);
    setWindowTitle(QStringLiteral("File Saved!"));
    m_btnStop->setText(QStringLiteral("Close"));
    if (m_parts.playSound)
        m_parts.playSound();
    m_text2->setText(QStringLiteral("00:00:00"));
    // The file as it was saved: where it is, and its size (the last estimate of a copy or
    // of a conversion is taken before its last bytes are written).
    QStringList lines;
    qint64 bytes = 0;
    for (const QString &path : std::as_const(m_savedPaths)) {
        lines << QStringLiteral("Saved as %1").arg(QDir::toNativeSeparators(path));
        bytes += QFileInfo(path).size();
    }
    m_labelSaved->setText(lines.join(QLatin1Char('\n')));
    m_labelSaved->show();
    if (bytes > 0)
        m_text3->setText(FormatMegabytes(BytesToMegabytes(bytes)) + QStringLiteral(" MB"));
    m_progressClockStart = 0;
    if (m_parts.taskbar)
        m_parts.taskbar->clear();
    if (m_parts.showSavedPopup)
        m_parts.showSavedPopup();
}

void FormConverting::stop()
{
    if (m_parts.shared)
        m_parts.shared->StopRequested = true;
    if (m_parts.encoder)
        m_parts.encoder->stopEncoding();
    if (m_parts.taskbar)
        m_parts.taskbar->clear();
    closeDialog();
}

void FormConverting::closeDialog()
{
    m_closed = true;
    close();
}

void FormConverting::reject()
{
    stop(); // Escape works as the button does
}

void FormConverting::closeEvent(QCloseEvent *event)
{
    // Closing never is refused, and always stops the encoder.
    if (m_parts.encoder)
        m_parts.encoder->stopEncoding();
    event->accept();
    QDialog::closeEvent(event);
    done(QDialog::Rejected);
}
