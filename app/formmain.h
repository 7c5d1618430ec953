#pragma once

#include "mainview.h"
#include "sharedvalues.h"

#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class ClickLabel;
class Encoder;
class FormVideoFormat;
class MessageSink;
class NaSlider;
class NaSlider1;
class Playback;
class Player;
class Probe;
class QKeyEvent;
class QMimeData;
class QLabel;
class QLineEdit;
class QPushButton;
class RangeMarks;
class SavedPopup;
class TaskbarProgress;
class EventSound;
class Workbench;

// What the main window is built from. The window owns the engines; the message sink is
// borrowed and must outlive the window.
struct FormMainParts
{
    Player *player = nullptr; // owned by the window (re-parented)
    Encoder *encoder = nullptr; // owned by the window (re-parented)
    std::unique_ptr<Probe> probe;
    MessageSink *messages = nullptr;
    QString programFolder; // the folder the program runs from
    // Opens a file or web address with the desktop's handler; tests replace it.
    std::function<bool(const QUrl &)> openUrl;
    // Shows a file selected in the desktop's file manager (false where it cannot); tests
    // replace it.
    std::function<bool(const QString &)> showInFileManager;
    // Chooses a media file to open ("" when cancelled); tests replace the dialog.
    std::function<QString(QWidget *, const QString &, const QStringList &)> chooseFile;
    // Shows the output settings dialog modally; empty for the real dialog.
    std::function<void()> showOutputDialog;
    // load() leaves the encoder's answer to confirmLibraries(), called once the window shows.
    bool confirmLibrariesAfterShow = false;
};

// The main window: a video area above a control pane. load() runs the start-up sequence and
// returns false when the program must end at once (the media library is missing); closing
// the window stops the engines and writes the settings back. The playback and range logic
// live in Playback and RangeMarks; this class wires the widgets to them.
class FormMain final : public QWidget, public MainView
{
    Q_OBJECT
public:
    explicit FormMain(FormMainParts parts, QWidget *parent = nullptr);
    ~FormMain() override;

    bool load();
    // With confirmLibrariesAfterShow: takes the encoder library check's answer; false (after
    // "Video lib not found") when the program must end. Call it after the window is shown and
    // before handling any input.
    bool confirmLibraries();

    SharedValues &shared() { return m_shared; }
    const SharedValues &shared() const { return m_shared; }
    Playback &playback() { return *m_playback; }
    QString firstStartFlag() const { return m_firstStartFlag; }
    QString showMoreSetting() const { return m_showMoreSetting; }
    bool moreOpen() const { return m_moreOpen; }
    Player *player() const { return m_player; }
    Encoder *encoder() const { return m_encoder; }
    Probe *probe() const { return m_probe.get(); }
    MessageSink *messages() const { return m_messages; }
    SavedPopup *popup() const { return m_popup.get(); }

    // Commands of the pane's right-hand column.
    void runMore();
    void showHelp();
    void showAbout();
    // Runs the conversion of the job the output dialog built (one job a segment when the
    // segments are saved one file each).
    void startConversion();
    // Cut (the button, Ctrl+E): the segment list's cut where it has one, else the marks'.
    void cutCommand();
    Workbench *workbench() const { return m_workbench; }
    // Ends the session as closing the window does, also while a cut is being saved.
    void endSession();
    // Opens a file handed over from outside (the command line, a drop) as Open would.
    void openFile(const QString &path);
    // The local file a drop carries, "" for anything else.
    static QString droppedFile(const QMimeData *data);

    // MainView
    int positionValue() const override;
    void setPositionValue(int value) override;
    int positionMin() const override;
    int positionMax() const override;
    void setPositionMax(int max) override;
    void setPositionSelStart(int start) override;
    void setPositionSelLength(int length) override;
    int positionValueAt(double xTwips) const override;
    int volumeValue() const override;
    void setVolumeValue(int value) override;
    void setVolumeSelLength(int length) override;
    int volumeValueAt(double xTwips) const override;
    int videoPaneWidth() const override;
    int videoPaneHeight() const override;
    void setPositionLabel(const QString &text) override;
    void setDurationLabel(const QString &text) override;
    QString startText() const override;
    void setStartText(const QString &text) override;
    QString endText() const override;
    void setEndText(const QString &text) override;
    bool takePendingStartEdit() override;
    bool takePendingEndEdit() override;
    void setWindowCaption(const QString &text) override;
    bool offersPlay() const override;
    void setOffersPlay(bool play) override;
    void setFileControlsEnabled(bool enabled) override;
    void setCutEnabled(bool enabled) override;
    void setMutedPicture(bool muted) override;
    void setGuideVisible(bool visible) override;
    void clearVideo() override;
    void setBusy(bool busy) override;
    void showOpening(const QString &fileName) override;
    void hideOpening() override;
    void leaveTopmost() override;
    void repaintVideo() override;
    QString chooseMediaFile(const QString &folder, const QStringList &filters) override;
    void showPlainMessage(const QString &text) override;
    void showOutputDialog() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildVideoArea();
    void buildPositionSlider();
    void buildTransportButtons();
    void buildVolumeControls();
    void buildCutAndTimes();
    void buildSideButtons();
    void connectControls();
    bool initialise();
    bool libraryMissing();
    bool encoderLibraryLoaded();
    void queryUnload();
    void unload();
    void loadSkin();
    void layoutWindow();
    void fitLabels();
    void updateMinimumSize();
    bool openUrl(const QUrl &url);
    bool handleKey(QKeyEvent *key);
    // The keys that act wherever the focus is (open, cut, Return on a button); nullopt for
    // any other key.
    std::optional<bool> handleWindowKey(QKeyEvent *key);
    // Play, step, jump, mark and go to the ends; false for any other key.
    bool handlePlaybackKey(QKeyEvent *key);
    void runCommand(const std::function<void()> &action);
    bool handleWorkbenchKey(QKeyEvent *key);
    void connectWorkbench();
    void layoutWorkbench(const QRect &timeline, const QRect &panel);
    void showTimelinePosition(qint64 micros, bool exact);
    void applySegmentMarks(double startSeconds, double endSeconds);
    void stepKeyFrame(int direction);
    void goToMark(bool end);
    void scrubTo(double xTwips);
    void refreshCutEnabled();
    bool runEachFile();
    // The shared job, or else the files of `jobs` one after the other, in one progress dialog.
    bool runOneConversion(const QList<CutJob> &jobs = {});
    void buildOpeningPanel();
    void placeOpeningPanel();

    SharedValues m_shared;
    Player *m_player;
    Encoder *m_encoder;
    std::unique_ptr<Probe> m_probe;
    MessageSink *m_messages;
    QString m_programFolder;
    std::function<bool(const QUrl &)> m_openUrl;
    std::function<bool(const QString &)> m_showInFileManager;
    std::function<QString(QWidget *, const QString &, const QStringList &)> m_chooseFile;
    std::function<void()> m_showOutputDialog;
    std::unique_ptr<Playback> m_playback;
    std::unique_ptr<RangeMarks> m_rangeMarks;
    FormVideoFormat *m_formVideoFormat = nullptr;
    std::unique_ptr<SavedPopup> m_popup;
    std::unique_ptr<TaskbarProgress> m_taskbar;
    std::unique_ptr<EventSound> m_sound;

    QString m_firstStartFlag;
    QString m_showMoreSetting;
    bool m_moreOpen = true;
    bool m_offersPlay = true;
    bool m_confirmAfterShow = false;
    bool m_loaded = false;
    bool m_unloaded = false;
    int m_busyDepth = 0;
    bool m_cutByMarks = false; // the marks make a range Cut can save
    bool m_scrubbing = false; // the position slider is being dragged
    Workbench *m_workbench = nullptr;

    QTimer m_tickTimer; // once a second: Playback::timerTick()
    QTimer m_openingDelay; // an open this long on its way shows the opening panel

    // Over the video area while a file takes long to open: its name and Cancel (Esc).
    QWidget *m_openingPanel = nullptr;
    QLabel *m_openingLabel = nullptr;
    QObject *m_openingEscape = nullptr; // Esc cancels, while an open is on its way

    // Controls. Each keeps the Qt object name of its design (PicPane, NaSlider1, btbOpen...),
    // which the skin and the tests address; the members say what the controls are.
    QWidget *m_videoPane = nullptr;
    QLabel *m_guidePicture = nullptr;
    ClickLabel *m_guideScissors = nullptr;
    QWidget *m_bottomPane = nullptr;
    QWidget *m_controlStrip = nullptr;
    NaSlider *m_positionSlider = nullptr;
    NaSlider1 *m_volumeSlider = nullptr;
    QPushButton *m_openButton = nullptr;
    QPushButton *m_btnPause = nullptr;
    QPushButton *m_btnGoStart = nullptr;
    QPushButton *m_btnGoEnd = nullptr;
    QPushButton *m_btnSetStart = nullptr;
    QPushButton *m_btnSetEnd = nullptr;
    ClickLabel *m_mutePicture = nullptr;
    QPushButton *m_btnCut = nullptr;
    QLabel *m_positionLabel = nullptr;
    QLabel *m_startCaption = nullptr;
    QLabel *m_endCaption = nullptr;
    QLabel *m_labelDuration = nullptr;
    QLineEdit *m_editStart = nullptr;
    QLineEdit *m_editEnd = nullptr;
    QPushButton *m_btnHelp = nullptr;
    QPushButton *m_btnAbout = nullptr;
    QPushButton *m_btnMore = nullptr;
};
