#pragma once

#include "argumentbuilder.h"
#include "cutjob.h"
#include "outputmodel.h"
#include "sourcestreams.h"

#include <QComboBox>
#include <QDialog>

#include <functional>

struct SharedValues;
class MessageSink;
class PropertyGrid;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

// The output format combo: its drop-down is the catalogue menu, not a list.
// Agrees to the file a job saves before it runs: saving over the source is refused with a
// message; replacing another file needs the user's yes (then job.replaceAllowed is set).
// False when the job must not run.
bool AgreeToTarget(CutJob &job, MessageSink *messages, QWidget *parent);

class FormatCombo final : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override { Q_EMIT popupRequested(); }

Q_SIGNALS:
    void popupRequested();
};

// What the dialog works with besides its own model.
struct FormVideoFormatParts
{
    SharedValues *shared = nullptr;
    MessageSink *messages = nullptr;
    // The channel count of the opened file's audio stream (0 when none).
    std::function<int()> audioChannelCount;
    // Runs the conversion of the job OK built; returns when its progress dialog has closed.
    std::function<void()> startConversion;
    // Chooses a folder ("" when cancelled); tests replace the dialog.
    std::function<QString(QWidget *, const QString &)> chooseFolder;
    // The note telling where a direct copy of the ranges (joined in their order) will really
    // lie ("" when it starts with the frame at the start mark); exact is the "Exact cut" box,
    // streams the tracks the job keeps (empty: every one).
    std::function<QString(const QList<CutSpan> &ranges, bool exact, const QList<int> &streams)>
        copyStartNote;
    // What a conversion of the job will say of the chosen tracks it cannot keep ("keeps one
    // audio track: AVI holds one"), for the streams of the source.
    std::function<QStringList(const CutJob &job, const QList<SourceStream> &streams)> trackNotes;
    // The streams of the opened file, for the track list (asked once per cut).
    std::function<QList<SourceStream>()> sourceStreams;
};

// The output settings dialog ("Output Settings"). Created on first use and afterwards only
// hidden: OK, Cancel and the close box all hide it, so every choice persists between cuts.
// It shows and edits an OutputSettingsModel; OK checks the name and folder, builds the job
// into the shared values, hides the dialog and starts the conversion.
class FormVideoFormat final : public QDialog
{
    Q_OBJECT
public:
    FormVideoFormat(FormVideoFormatParts parts, QWidget *parent);
    ~FormVideoFormat() override;

    // Shows the dialog modally for a cut: the default name is set from the opened file.
    int showForCut();

    OutputSettingsModel &model() { return m_model; }
    QMenu *formatMenu() const { return m_formatMenu; }
    PropertyGrid *propertyGrid() const { return m_grid; }
    // Opens the catalogue menu under the format combo (blocks until it closes).
    void ShowFormatMenu();
    void browseFolder();
    // The OK command; returns true when the job was built and handed on.
    bool ok();
    // The streams the job keeps as the track list has them: empty while the list is hidden or
    // shows the choice the mode makes by itself (every stream for a copy, ffmpeg's pick for a
    // conversion).
    QList<int> jobStreams() const;
    // Lets the next close go ahead (the program is ending).
    void closeForGood() { m_closeForGood = true; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildFormatFrame(QVBoxLayout *column);
    void buildNamingAndButtons(QVBoxLayout *column);
    // The "Tracks" group: a check box for each stream of the source, shown only where there is
    // a choice to make (see OffersTrackChoice()).
    void buildTracksGroup(QVBoxLayout *column);
    void loadTracks();
    // Until the user changes a box, the boxes show the choice of the mode.
    void refreshTracks();
    QList<int> checkedTracks() const;
    QList<int> defaultTracks() const;
    void connectControls();
    void buildFormatMenu();
    // Brings every widget up to date with the model.
    void refresh();
    void refreshEnabled();
    void takeFocusRequest();
    // Gives the dialog the height its left column needs (at least the design's 400 pixels).
    void fitHeight();
    // The steps of OK: the name and folder checked (a missing folder made when the user wants
    // it); the choices remembered; the job built; the target agreed to (never the source, a
    // file replaced only after a yes, which the job then carries).
    bool acceptName();
    void rememberChoices();
    // The job of the dialog's choices for the ranges (the builder's options show the first).
    CutJob buildJob(const QList<CutSpan> &ranges);
    // The ranges one output of the cut holds: the segments joined, else the cut.
    QList<CutSpan> joinedRanges() const;
    bool agreeToTarget(CutJob &job);
    QString copyStartNote();
    // The notes of the job shown under the option: where a copy starts, or what a conversion
    // leaves out of the chosen tracks.
    QString jobNote();
    void refreshNote();

    FormVideoFormatParts m_parts;
    OutputSettingsModel m_model;
    BuilderMemory m_memory;
    bool m_refreshing = false;
    bool m_closeForGood = false;
    QString m_offeredFolder; // the source's folder the destination box was given, if any

    QWidget *m_leftPanel = nullptr;
    QRadioButton *m_copyOption = nullptr;
    QRadioButton *m_convertOption = nullptr;
    QCheckBox *m_checkExactCut = nullptr;
    QLabel *m_labelCopyStart = nullptr;
    QString m_copyStartNote[2]; // by the box's state, for the cut and tracks being shown
    bool m_copyStartKnown[2] = { false, false };
    QList<int> m_copyStartStreams[2];
    QGroupBox *m_formatGroup = nullptr;
    FormatCombo *m_comboFormat = nullptr;
    QComboBox *m_comboSize = nullptr;
    QLineEdit *m_textW = nullptr;
    QLineEdit *m_textH = nullptr;
    QComboBox *m_comboVideoQ = nullptr;
    QComboBox *m_comboAudioQ = nullptr;
    QPushButton *m_btnMore = nullptr;
    QLineEdit *m_textFileName = nullptr;
    QLineEdit *m_textFolder = nullptr;
    QPushButton *m_btnBrowse = nullptr;
    QPushButton *m_btnOK = nullptr;
    QPushButton *m_btnCancel = nullptr;
    PropertyGrid *m_grid = nullptr;
    QMenu *m_formatMenu = nullptr;
    QGroupBox *m_tracksGroup = nullptr;
    QList<QCheckBox *> m_trackBoxes; // in the order of m_streams
    QList<SourceStream> m_streams;
    QString m_tracksPath; // the file the boxes were made for
    bool m_tracksEdited = false;
};
