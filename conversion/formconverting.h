#pragma once

#include "cutjob.h"

#include <QDialog>
#include <QElapsedTimer>

#include <functional>

struct Error;
struct SharedValues;
class Encoder;
class MessageSink;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TaskbarProgress;

// What a conversion run works with.
struct FormConvertingParts
{
    SharedValues *shared = nullptr;
    Encoder *encoder = nullptr;
    MessageSink *messages = nullptr;
    TaskbarProgress *taskbar = nullptr;
    std::function<void()> playSound; // the finished sound
    std::function<void()> showSavedPopup; // the notice on the main window
    std::function<double()> clock; // seconds; a monotonic clock when empty
    // Several files saved one after the other in this one dialog (each becomes the shared job
    // in turn); empty for the shared job alone. The bar, the times and the size cover them all.
    QList<CutJob> jobs;
};

// The progress dialog ("Please wait..."): loading it hands the job to the encoder; progress
// events update the elapsed and remaining time, the estimated size, the bar and the taskbar;
// the finished event turns it into "File Saved!" or reports the failure. Every way out of the
// dialog stops the encoder.
class FormConverting final : public QDialog
{
    Q_OBJECT
public:
    FormConverting(FormConvertingParts parts, QWidget *parent);
    ~FormConverting() override;

    // The dialog's load (bar at 35 for a direct copy) and StartConversion; then exec().
    int run();
    void StartConversion();
    void onProgress(qint64 bytes, qint64 position, qint64 duration);
    void onFinished(int taskIndex, bool succeeded, bool failed, const QString &message);
    void stop();

    QString outputPath() const;
    // The job's file was saved; of several files, every one.
    bool saved() const { return m_saved; }
    double progressClockStart() const { return m_progressClockStart; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    double now() const;
    void closeDialog();
    // Tells why the job did not start, as the dialog always told it.
    void showRefusal(const Error &error);
    // Of several files: the next one after the one just saved starts. False after the last.
    bool startNextFile();
    void showFinished();

    FormConvertingParts m_parts;
    double m_progressClockStart = 0;
    QElapsedTimer m_monotonic;
    bool m_closed = false;
    bool m_saved = false;
    // Of several files: the one running, and what the ones before it took.
    int m_fileIndex = 0;
    double m_savedSeconds = 0; // of the source
    qint64 m_savedBytes = 0;
    QStringList m_savedPaths;

    QGroupBox *m_group = nullptr;
    QLineEdit *m_text1 = nullptr;
    QLineEdit *m_text2 = nullptr;
    QLineEdit *m_text3 = nullptr;
    QLabel *m_labelSaved = nullptr; // where the saved file went, once it is saved
    QProgressBar *m_progressBar1 = nullptr;
    QPushButton *m_btnStop = nullptr;
};
