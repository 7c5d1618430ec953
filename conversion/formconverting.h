#pragma once

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
    // One job of several run one after the other: the dialog closes by itself once the file is
    // saved, so the next can start.
    bool closeWhenSaved = false;
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
    // The job's file was saved.
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

    FormConvertingParts m_parts;
    double m_progressClockStart = 0;
    QElapsedTimer m_monotonic;
    bool m_closed = false;
    bool m_saved = false;

    QGroupBox *m_group = nullptr;
    QLineEdit *m_text1 = nullptr;
    QLineEdit *m_text2 = nullptr;
    QLineEdit *m_text3 = nullptr;
    QLabel *m_labelSaved = nullptr; // where the saved file went, once it is saved
    QProgressBar *m_progressBar1 = nullptr;
    QPushButton *m_btnStop = nullptr;
};
