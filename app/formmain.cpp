#include "formmain.h"

#include "appfolder.h"
#include "artwork.h"
#include "clicklabel.h"
#include "copynotes.h"
#include "encoder.h"
#include "eventsound.h"
#include "formconverting.h"
#include "formflash.h"
#include "formvideoformat.h"
#include "mainlayout.h"
#include "messagesink.h"
#include "nasliders.h"
#include "playback.h"
#include "player.h"
#include "probe.h"
#include "propertybag.h"
#include "rangemarks.h"
#include "savedpopup.h"
#include "segmentpanel.h"
#include "settings.h"
#include "slidermath.h"
#include "streamlist.h"
#include "taskbarprogress.h"
#include "timecode.h"
#include "timelineview.h"
#include "workbench.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QThread>

#include <algorithm>
#include <limits>

namespace {

const QString kProgramTitle = QStringLiteral("Snipora");
// An open that takes longer than this says so in the window.
constexpr int kOpeningPanelDelayMs = 400;

QPushButton *makeButton(QWidget *parent, const char *name, const QString &tooltip)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tooltip);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

void place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(MainLayout::TwipsToPixels(left, top, width, height));
}

// Esc pressed anywhere in the window, while installed on the application.
class EscapeKey final : public QObject
{
public:
    EscapeKey(QWidget *window, std::function<void()> pressed)
        : QObject(window)
        , m_window(window)
        , m_pressed(std::move(pressed))
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() != QEvent::KeyPress || !widget || widget->window() != m_window
            || static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape)
            return false;
        m_pressed();
        return true;
    }

private:
    QWidget *m_window;
    std::function<void()> m_pressed;
};

// The More button points down while the column is open and up while it is collapsed.
QString moreGlyph(bool open)
{
    return open ? QStringLiteral("\u25BE") : QStringLiteral("\u25B4");
}

} // namespace

FormMain::FormMain(FormMainParts parts, QWidget *parent)
    : QWidget(parent)
    , m_player(parts.player)
    , m_encoder(parts.encoder)
    , m_probe(std::move(parts.probe))
    , m_messages(parts.messages)
    , m_programFolder(parts.programFolder)
    , m_openUrl(std::move(parts.openUrl))
    , m_showInFileManager(std::move(parts.showInFileManager))
    , m_chooseFile(std::move(parts.chooseFile))
    , m_showOutputDialog(std::move(parts.showOutputDialog))
{
    setObjectName(QStringLiteral("FormMain"));
    m_confirmAfterShow = parts.confirmLibrariesAfterShow;
    setWindowTitle(kProgramTitle);
    if (m_player)
        m_player->setParent(this);
    if (m_encoder)
        m_encoder->setParent(this);
    m_tickTimer.setInterval(1000);
    buildControls();
    m_popup = std::make_unique<SavedPopup>(this, m_openUrl, m_showInFileManager);
    connect(m_popup.get(), &SavedPopup::folderNotOpened, this, [this](const QString &folder) {
        if (m_messages)
            m_messages->showMessage(
                this, MessageSink::Icon::Warning, kProgramTitle,
                QStringLiteral("No file manager could be started to open the folder %1.")
                    .arg(QDir::toNativeSeparators(folder)));
    });
    m_taskbar = std::make_unique<TaskbarProgress>();
    m_sound = std::make_unique<EventSound>();
    if (m_player && m_probe) {
        m_playback = std::make_unique<Playback>(*m_player, *m_probe, m_shared, *this);
        m_rangeMarks = std::make_unique<RangeMarks>(*m_playback, *m_player, m_shared, *this);
        connectControls();
    }
    setAcceptDrops(true);
    updateMinimumSize();
    resize(800, 560);
}

void FormMain::fitLabels()
{
    // Fonts differ between desktops: a label grows to the right to show its text whole, as far
    // as the next control on its row allows (it never covers one).
    const std::pair<QLabel *, QString> labels[] = {
        { m_positionLabel, QStringLiteral("00:00:00.0/00:00:00.0") },
        { m_startCaption, m_startCaption->text() },
        { m_endCaption, m_endCaption->text() },
        { m_labelDuration, QStringLiteral("Duration:00:00:00.0") },
    };
    for (const auto &[label, longest] : labels) {
        label->ensurePolished();
        int limit = std::numeric_limits<int>::max();
        for (QWidget *other : m_controlStrip->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            const QRect r = other->geometry();
            if (other != label && r.left() >= label->x() && r.top() < label->geometry().bottom()
                && r.bottom() > label->y())
                limit = std::min(limit, r.left() - label->x() - 2);
        }
        const int needed = label->fontMetrics().horizontalAdvance(longest) + 4;
        label->resize(std::min(std::max(needed, label->width()), limit), label->height());
    }
}

void FormMain::updateMinimumSize()
{
    // The narrowest window in which the centred group clears the column of small buttons at
    // the right, and the lowest in which the guide picture clears the pane. Above it the
    // layout follows its own rules unchanged.
    constexpr int gap = 6;
    int right = 0;
    for (QWidget *child : m_controlStrip->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        right = std::max(right, child->geometry().right() + 1);
    const int centre = m_controlStrip->width();
    const int column = (MainLayout::ColumnButtonWidthTwips + MainLayout::ColumnMarginTwips
                        + MainLayout::TwipsPerPixel - 1)
        / MainLayout::TwipsPerPixel;
    const int width = std::max(centre + 2 * gap, 2 * right - centre + 2 * (column + gap));
    const int height = MainLayout::PaneHeightPixels + TimelineView::kPreferredHeight
        + m_guidePicture->height() + 2 * gap;
    setMinimumSize(width, height);
}

void FormMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFile(event->mimeData()).isEmpty() && m_playback)
        event->acceptProposedAction();
}

void FormMain::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty() || !m_playback)
        return; // text, a web address, a folder: not ours
    event->acceptProposedAction();
    // Opened after the drop has finished, as if chosen in the Open dialog.
    QTimer::singleShot(0, this, [this, path] { openFile(path); });
}

QString FormMain::droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (!info.isDir())
            return info.absoluteFilePath();
    }
    return QString();
}

void FormMain::openFile(const QString &path)
{
    runCommand([this, path] { m_playback->openFile(path); });
}

FormMain::~FormMain()
{
    qApp->removeEventFilter(this);
    // The child widgets and the engines outlive this class's members while the window is torn
    // down (a focused time-code box still reports the end of editing): cut them off first.
    for (QObject *child : findChildren<QObject *>())
        QObject::disconnect(child, nullptr, this, nullptr);
}

void FormMain::buildControls()
{
    buildVideoArea();
    buildPositionSlider();
    buildTransportButtons();
    buildVolumeControls();
    buildCutAndTimes();
    buildSideButtons();
    m_workbench = new Workbench(this);
    // Before the first file is opened only Open, the volume and the secondary commands work.
    setFileControlsEnabled(false);
}

// The video pane, and over it the guide picture whose scissors open a file.
void FormMain::buildVideoArea()
{
    m_videoPane = m_player ? m_player->videoWidget(this) : new QWidget(this);
    m_videoPane->setObjectName(QStringLiteral("PicPlayer"));

    m_guidePicture = makeLabel(this, "PicGuide", QString());
    m_guidePicture->setPixmap(Artwork::guidePicture());
    m_guidePicture->adjustSize();
    // The scissors on the guide open a file, like the Open button.
    m_guideScissors = new ClickLabel(m_guidePicture);
    m_guideScissors->setObjectName(QStringLiteral("Image3"));
    m_guideScissors->setGeometry(10, 25, 90, 90);
    m_guideScissors->setCursor(Qt::PointingHandCursor);
    m_guideScissors->setToolTip(QStringLiteral("Open..."));
}

// The bottom pane and its position slider, which starts from its stored design state.
void FormMain::buildPositionSlider()
{
    m_bottomPane = new QWidget(this);
    m_bottomPane->setObjectName(QStringLiteral("PicPane"));
    m_bottomPane->setAttribute(Qt::WA_StyledBackground);

    m_positionSlider = new NaSlider(m_bottomPane);
    m_positionSlider->setObjectName(QStringLiteral("NaSlider1"));
    {
        MemoryPropertyBag design;
        design.entries = { { QStringLiteral("BackColor"), 0xF0F0F0u },
                           { QStringLiteral("Enabled"), false },
                           { QStringLiteral("SmallChange"), 0 },
                           { QStringLiteral("LargeChange"), 0 },
                           { QStringLiteral("ShowTicks"), false } };
        m_positionSlider->loadProperties(design);
    }
    place(m_positionSlider, 165, 105, 8805, 300);
}

// The centre strip of the pane with Open and the play, go-to and mark buttons.
void FormMain::buildTransportButtons()
{
    m_controlStrip = new QWidget(m_bottomPane);
    m_controlStrip->setObjectName(QStringLiteral("PicCen"));
    place(m_controlStrip, 1245, 585, 9210, 1140);

    m_openButton = makeButton(m_controlStrip, "btbOpen", QStringLiteral("Open... (Ctrl+O)"));
    m_openButton->setIcon(Artwork::openIcon());
    place(m_openButton, 210, 60, 480, 405);

    m_btnPause = makeButton(m_controlStrip, "btnPause", QStringLiteral("Play/Pause (Space)"));
    m_btnPause->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    place(m_btnPause, 1035, 60, 435, 405);

    m_btnGoStart = makeButton(m_controlStrip, "BtnGoStart", QStringLiteral("Go to start (Home)"));
    m_btnGoStart->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    place(m_btnGoStart, 1575, 60, 435, 405);

    m_btnGoEnd = makeButton(m_controlStrip, "btnGoEnd", QStringLiteral("Go to end (End)"));
    m_btnGoEnd->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
    place(m_btnGoEnd, 2130, 60, 435, 405);

    m_btnSetStart
        = makeButton(m_controlStrip, "btnSetStart", QStringLiteral("Set start point (I)"));
    m_btnSetStart->setIcon(Artwork::setStartIcon());
    place(m_btnSetStart, 2850, 60, 435, 405);

    m_btnSetEnd = makeButton(m_controlStrip, "btnSetEnd", QStringLiteral("Set end point (O)"));
    m_btnSetEnd->setIcon(Artwork::setEndIcon());
    place(m_btnSetEnd, 3375, 60, 435, 405);
}

// The mute picture and the volume slider, which starts from its stored design state (full).
void FormMain::buildVolumeControls()
{
    m_mutePicture = new ClickLabel(m_controlStrip);
    m_mutePicture->setObjectName(QStringLiteral("PicMute"));
    m_mutePicture->setAlignment(Qt::AlignCenter);
    m_mutePicture->setCursor(Qt::PointingHandCursor);
    place(m_mutePicture, 4305, 135, 300, 225);

    m_volumeSlider = new NaSlider1(m_controlStrip);
    m_volumeSlider->setObjectName(QStringLiteral("NaSliderVol"));
    {
        MemoryPropertyBag design;
        design.entries
            = { { QStringLiteral("BackColor"), 0xF0F0F0u }, { QStringLiteral("Value"), 128 },
                { QStringLiteral("SmallChange"), 0 },       { QStringLiteral("LargeChange"), 0 },
                { QStringLiteral("ShowTicks"), false },     { QStringLiteral("Max"), 128 },
                { QStringLiteral("SelLength"), 128 } };
        m_volumeSlider->loadProperties(design);
    }
    place(m_volumeSlider, 4665, 150, 1080, 195);
}

// The Cut button, the position and duration labels and the start and end boxes.
void FormMain::buildCutAndTimes()
{
    m_btnCut = makeButton(m_controlStrip, "btnCut", QStringLiteral("Cut (Ctrl+E)"));
    m_btnCut->setText(QStringLiteral("Cut"));
    m_btnCut->setIcon(Artwork::cutIcon());
    m_btnCut->setIconSize(QSize(24, 24));
    place(m_btnCut, 7890, 30, 1215, 1050);

    m_positionLabel = makeLabel(m_controlStrip, "Label1", QStringLiteral("00:00:00.0/00:00:00.0"));
    place(m_positionLabel, 5835, 135, 1905, 210);
    m_startCaption = makeLabel(m_controlStrip, "Label2", QStringLiteral("Start:"));
    place(m_startCaption, 2205, 735, 465, 210);
    m_editStart = new QLineEdit(m_controlStrip);
    m_editStart->setObjectName(QStringLiteral("EditStart"));
    place(m_editStart, 2760, 675, 1065, 345);
    m_endCaption = makeLabel(m_controlStrip, "Label3", QStringLiteral("End:"));
    place(m_endCaption, 4005, 735, 375, 210);
    m_editEnd = new QLineEdit(m_controlStrip);
    m_editEnd->setObjectName(QStringLiteral("EditEnd"));
    place(m_editEnd, 4470, 675, 1065, 345);
    m_labelDuration
        = makeLabel(m_controlStrip, "LabelDuration", QStringLiteral("Duration:00:00:00"));
    place(m_labelDuration, 5670, 735, 1500, 210);
    fitLabels();
}

// Help, About and More at the pane's left edge.
void FormMain::buildSideButtons()
{
    m_btnHelp = makeButton(m_bottomPane, "btnHelp", QStringLiteral("Help"));
    m_btnHelp->setText(QStringLiteral("?"));
    place(m_btnHelp, 45, 825, 360, 285);
    m_btnAbout = makeButton(m_bottomPane, "btnAbout", QStringLiteral("About..."));
    m_btnAbout->setText(QStringLiteral("i"));
    place(m_btnAbout, 45, 1110, 360, 285);
    m_btnMore = makeButton(m_bottomPane, "btnMore", QString());
    m_btnMore->setText(moreGlyph(true));
    place(m_btnMore, 45, 1395, 360, 285);
    connect(m_btnMore, &QPushButton::clicked, this, &FormMain::runMore);
    connect(m_btnHelp, &QPushButton::clicked, this, &FormMain::showHelp);
    connect(m_btnAbout, &QPushButton::clicked, this, &FormMain::showAbout);
}

void FormMain::connectControls()
{
    Playback *playback = m_playback.get();
    RangeMarks *marks = m_rangeMarks.get();
    connect(m_player, &Player::mediaOpened, this,
            [playback](qint64 d) { playback->onMediaOpened(d); });
    connect(m_player, &Player::positionChanged, this,
            [playback](qint64 t) { playback->onPosition(t); });
    connect(m_player, &Player::stateChanged, this,
            [playback](int code) { playback->onStateChanged(code); });

    auto command = [this](auto action) { return [this, action] { runCommand(action); }; };
    connect(m_openButton, &QPushButton::clicked, this,
            command([playback] { playback->openCommand(); }));
    connect(m_guideScissors, &ClickLabel::clicked, this,
            command([playback] { playback->openCommand(); }));
    connect(m_btnPause, &QPushButton::clicked, this,
            command([playback] { playback->playPause(); }));
    connect(m_btnGoStart, &QPushButton::clicked, this,
            command([playback] { playback->goToStart(); }));
    connect(m_btnGoEnd, &QPushButton::clicked, this, command([playback] { playback->goToEnd(); }));
    connect(m_positionSlider, &SliderBase::mouseDown, this,
            [playback, marks](int button, int, float, float) {
                marks->applyPendingEdits();
                playback->positionMouseDown(button);
            });
    connect(m_positionSlider, &SliderBase::mouseMove, this,
            [this](int button, int, float x, float) {
                if (button == 1)
                    scrubTo(x);
            });
    connect(m_positionSlider, &SliderBase::mouseUp, this,
            [this, playback](int button, int, float x, float) {
                m_scrubbing = false;
                playback->positionMouseUp(button, x);
            });
    connect(m_volumeSlider, &SliderBase::clicked, this, [playback] { playback->volumeClick(); });
    connect(m_volumeSlider, &SliderBase::mouseUp, this,
            [playback](int button, int, float x, float) { playback->volumeMouseUp(button, x); });
    connect(m_mutePicture, &ClickLabel::clicked, this, [playback] { playback->muteClick(); });
    connect(&m_tickTimer, &QTimer::timeout, this, [playback] { playback->timerTick(); });

    connect(m_btnSetStart, &QPushButton::clicked, this, [marks] { marks->setStart(); });
    connect(m_btnSetEnd, &QPushButton::clicked, this, [marks] { marks->setEnd(); });
    connect(m_btnCut, &QPushButton::clicked, this, &FormMain::cutCommand);
    // The boxes act when editing ends (Enter or leaving the box) and only after the user
    // changed the text, so a half-typed time code never seeks.
    connect(m_editStart, &QLineEdit::editingFinished, this, [this, marks] {
        if (takePendingStartEdit())
            marks->editStart();
    });
    connect(m_editEnd, &QLineEdit::editingFinished, this, [this, marks] {
        if (takePendingEndEdit())
            marks->editEnd();
    });
    connectWorkbench();
    // The window's keys (Ctrl+O, Ctrl+E, Return, Space, the arrows, I, O, Home, End), wherever
    // the focus is, and the focus leaving the time boxes.
    qApp->installEventFilter(this);
}

bool FormMain::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this || !m_playback)
        return QWidget::eventFilter(watched, event);
    const bool box = widget == m_editStart || widget == m_editEnd;
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        auto *key = static_cast<QKeyEvent *>(event);
        // A box whose text does not fill its mask yet reports no end of editing: Return in it
        // applies what it holds all the same.
        if (box && type == QEvent::KeyPress
            && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
            m_rangeMarks->applyPendingEdits();
        if (isActiveWindow() && handleKey(key))
            return true;
    } else if (type == QEvent::FocusOut && box
               && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) {
        // Leaving a box (Tab, a click elsewhere; not its own menu) applies it, whether it is
        // complete or not.
        m_rangeMarks->applyPendingEdits();
    } else if (type == QEvent::MouseButtonPress && !box && !(widget->focusPolicy() & Qt::ClickFocus)
               && qobject_cast<QLineEdit *>(QApplication::focusWidget())) {
        // A click on the picture, the panel or a button leaves the time box: the keys are the
        // window's again.
        setFocus(Qt::MouseFocusReason);
    }
    return QWidget::eventFilter(watched, event);
}

bool FormMain::handleKey(QKeyEvent *key)
{
    if (const std::optional<bool> handled = handleWindowKey(key))
        return *handled;
    // The time-code boxes keep their own keys.
    if (qobject_cast<QLineEdit *>(QApplication::focusWidget()))
        return false;
    return handleWorkbenchKey(key) || handlePlaybackKey(key);
}

std::optional<bool> FormMain::handleWindowKey(QKeyEvent *key)
{
    const bool press = key->type() == QEvent::KeyPress;
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    // Ctrl+O released over the window opens a file, wherever the focus is.
    if (key->key() == Qt::Key_O && key->modifiers() == Qt::ControlModifier) {
        if (!press && !key->isAutoRepeat())
            runCommand([this] { m_playback->openCommand(); });
        return !press;
    }
    // Ctrl+E cuts, wherever the focus is; a time code being typed counts, as for the button.
    if (key->key() == Qt::Key_E && mods == Qt::ControlModifier) {
        if (press && !key->isAutoRepeat() && m_btnPause->isEnabled())
            cutCommand();
        return true;
    }
    // Return and Enter press the button that has the focus.
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
        auto *button = qobject_cast<QPushButton *>(QApplication::focusWidget());
        if (!button || button->window() != this)
            return false;
        if (press && !key->isAutoRepeat() && button->isEnabled())
            button->click();
        return true;
    }
    return std::nullopt;
}

bool FormMain::handlePlaybackKey(QKeyEvent *key)
{
    struct Command
    {
        int key;
        Qt::KeyboardModifiers modifiers;
        bool repeats; // held down, it acts again
        std::function<void()> run;
    };
    const Command commands[] = {
        { Qt::Key_Space, Qt::NoModifier, false, [this] { m_playback->playPause(); } },
        { Qt::Key_Left, Qt::NoModifier, true, [this] { m_playback->stepFrame(-1); } },
        { Qt::Key_Right, Qt::NoModifier, true, [this] { m_playback->stepFrame(1); } },
        { Qt::Key_Left, Qt::ShiftModifier, true, [this] { m_playback->jump(-1); } },
        { Qt::Key_Right, Qt::ShiftModifier, true, [this] { m_playback->jump(1); } },
        { Qt::Key_I, Qt::NoModifier, false, [this] { m_rangeMarks->setStart(); } },
        { Qt::Key_O, Qt::NoModifier, false, [this] { m_rangeMarks->setEnd(); } },
        { Qt::Key_Home, Qt::NoModifier, false, [this] { m_playback->goToStart(); } },
        { Qt::Key_End, Qt::NoModifier, false, [this] { m_playback->goToEnd(); } },
    };
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    const auto found
        = std::find_if(std::begin(commands), std::end(commands), [&](const Command &c) {
              return c.key == key->key() && c.modifiers == mods;
          });
    if (found == std::end(commands))
        return false;
    // Both the press and the release are ours: a focused button would otherwise click on the
    // release of Space, and the arrows would move the focus.
    if (key->type() == QEvent::KeyPress && (found->repeats || !key->isAutoRepeat())
        && m_btnPause->isEnabled())
        runCommand(found->run);
    return true;
}

void FormMain::runCommand(const std::function<void()> &action)
{
    if (!m_rangeMarks)
        return;
    // A time code typed but not yet confirmed is applied first: the buttons take no focus, so
    // the box would otherwise apply it only after the command ran.
    m_rangeMarks->applyPendingEdits();
    action();
}

bool FormMain::load()
{
    if (m_playback)
        m_playback->setLastOpenFolder(QString());
    if (!initialise())
        return false;
    // The start hint shows whenever no file is open, on the first start and on every later one
    // ("FirstStartSoftware" is still kept, for the older program reading the same store).
    m_guidePicture->show();
    // The size and place the window had at the last exit; a value that does not restore (none,
    // damaged, from a screen that is gone) leaves the window as designed.
    const QByteArray geometry
        = QByteArray::fromBase64(ReadSetting(QStringLiteral("WindowGeometry")).toLatin1());
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    setWindowIcon(Artwork::appIcon());
    m_loaded = true;
    m_tickTimer.start();
    return true;
}

bool FormMain::libraryMissing()
{
    if (m_messages)
        m_messages->showMessage(this, MessageSink::Icon::Error, kProgramTitle,
                                QStringLiteral("Video lib not found"));
    return false;
}

bool FormMain::encoderLibraryLoaded()
{
    return m_encoder->isLibraryLoaded() || m_encoder->loadLibrary(m_shared.MediaLibraryFolder);
}

bool FormMain::confirmLibraries()
{
    if (!m_confirmAfterShow || !m_encoder)
        return true;
    m_confirmAfterShow = false;
    if (encoderLibraryLoaded())
        return true;
    // The program ends as it would have before showing: nothing is written at exit.
    m_loaded = false;
    m_tickTimer.stop();
    libraryMissing();
    return false;
}

bool FormMain::initialise()
{
    // The program's folder and the media library's, each with one trailing separator.
    m_shared.AppFolder = AppFolderOf(m_programFolder);
    m_shared.MediaLibraryFolder = LibraryFolder(m_programFolder);

    // The output folder and the first-start flag as stored.
    m_shared.Job.output.folder = ReadSetting(QStringLiteral("OutPath"));
    m_firstStartFlag = ReadSetting(QStringLiteral("FirstStartSoftware"));

    // Full volume until the stored volume is known.
    m_volumeSlider->setMax(128);
    m_volumeSlider->setValue(128);

    // The encoder's media library; without it the program cannot work. Its check runs an
    // ffmpeg process: with confirmLibrariesAfterShow its answer is taken by confirmLibraries()
    // once the window is up, before any input is handled.
    if (!m_encoder)
        return libraryMissing();
    if (!m_confirmAfterShow && !encoderLibraryLoaded())
        return libraryMissing();

    // Layout: the pane is docked to the bottom, the video area fills the rest.
    layoutWindow();

    // The player's media library; without it nothing can be played.
    if (!m_player || (!m_player->isLibraryLoaded() && !m_player->loadLibrary()))
        return libraryMissing();
    // The volume the user left it at (full volume when none is stored or it is out of range).
    bool volumeKnown = false;
    const int volume = ReadSetting(QStringLiteral("Volume")).toInt(&volumeKnown);
    if (volumeKnown && volume >= 0 && volume <= 128) {
        m_volumeSlider->setValue(volume);
        m_volumeSlider->setSelLength(volume);
        m_player->setVolume(volume);
    }

    // The time-code boxes take only time codes and start at zero.
    for (QLineEdit *edit : { m_editStart, m_editEnd }) {
        edit->setInputMask(QStringLiteral("00:00:00.0;_"));
        edit->setText(QStringLiteral("00:00:00.0"));
    }

    // Sound on.
    m_mutePicture->setPixmap(Artwork::soundOnPicture());

    // The skin, when the program's folder has one.
    loadSkin();

    // The More column as the user left it.
    m_showMoreSetting = ReadSetting(QStringLiteral("ShowMoreBtn"));
    if (m_showMoreSetting == QLatin1String("No"))
        runMore();
    return true;
}

void FormMain::loadSkin()
{
    QFile skin(m_shared.AppFolder + QStringLiteral("skin.qss"));
    if (!skin.open(QIODevice::ReadOnly | QIODevice::Text))
        return; // a missing skin is not reported
    setStyleSheet(QString::fromUtf8(skin.readAll()));
    ensurePolished();
    fitLabels();
    updateMinimumSize();
}

void FormMain::runMore()
{
    if (!m_moreOpen) {
        m_moreOpen = true;
        m_btnMore->setText(moreGlyph(true));
        m_btnHelp->show();
        m_btnAbout->show();
        m_showMoreSetting = QStringLiteral("Yes");
    } else {
        m_moreOpen = false;
        m_btnMore->setText(moreGlyph(false));
        m_btnHelp->hide();
        m_btnAbout->hide();
        m_showMoreSetting = QStringLiteral("No");
    }
}

bool FormMain::openUrl(const QUrl &url)
{
    return m_openUrl ? m_openUrl(url) : QDesktopServices::openUrl(url);
}

void FormMain::showHelp()
{
    // The compiled help beside the program when there is one, else the HTML user guide.
    const QString chm = m_shared.AppFolder + QStringLiteral("help.chm");
    const QString help
        = QFileInfo::exists(chm) ? chm : m_shared.AppFolder + QStringLiteral("help/index.html");
    if (!openUrl(QUrl::fromLocalFile(help)) && m_messages)
        m_messages->showMessage(this, MessageSink::Icon::Warning, kProgramTitle,
                                QStringLiteral("No program could be started to show the user "
                                               "guide; you can open %1 yourself.")
                                    .arg(QDir::toNativeSeparators(help)));
}

void FormMain::showAbout()
{
    FormFlash about(this, m_openUrl);
    about.exec();
}

// --- MainView --------------------------------------------------------------------------

int FormMain::positionValue() const
{
    return m_positionSlider->value();
}

void FormMain::setPositionValue(int value)
{
    // While the thumb is dragged it shows where the user points, not where the player is.
    if (!m_scrubbing)
        m_positionSlider->setValue(value);
    if (m_playback && m_workbench)
        m_workbench->positionShown(qint64(std::llround(m_playback->positionSeconds() * 1e6)));
}

int FormMain::positionMin() const
{
    return m_positionSlider->min();
}

int FormMain::positionMax() const
{
    return m_positionSlider->max();
}

void FormMain::setPositionMax(int max)
{
    m_positionSlider->setMax(max);
}

void FormMain::setPositionSelStart(int start)
{
    m_positionSlider->setSelStart(start);
}

void FormMain::setPositionSelLength(int length)
{
    m_positionSlider->setSelLength(length);
    // The band's length is the last of a range's changes to be shown.
    if (m_playback && m_workbench)
        m_workbench->rangeShown(m_playback->range().start(), m_playback->range().end());
}

int FormMain::positionValueAt(double xTwips) const
{
    return SliderMath::xToValue(xTwips, m_positionSlider->min(), m_positionSlider->max(),
                                m_positionSlider->thumbHalfWidth(),
                                m_positionSlider->trackLength());
}

int FormMain::volumeValue() const
{
    return m_volumeSlider->value();
}

void FormMain::setVolumeValue(int value)
{
    m_volumeSlider->setValue(value);
}

void FormMain::setVolumeSelLength(int length)
{
    m_volumeSlider->setSelLength(length);
}

int FormMain::volumeValueAt(double xTwips) const
{
    return SliderMath::xToValue(xTwips, m_volumeSlider->min(), m_volumeSlider->max(),
                                m_volumeSlider->thumbHalfWidth(), m_volumeSlider->trackLength());
}

int FormMain::videoPaneWidth() const
{
    return m_videoPane->width();
}

int FormMain::videoPaneHeight() const
{
    return m_videoPane->height();
}

void FormMain::setPositionLabel(const QString &text)
{
    m_positionLabel->setText(text);
}

void FormMain::setDurationLabel(const QString &text)
{
    m_labelDuration->setText(text);
}

QString FormMain::startText() const
{
    return m_editStart->displayText();
}

void FormMain::setStartText(const QString &text)
{
    m_editStart->setText(text);
}

QString FormMain::endText() const
{
    return m_editEnd->displayText();
}

void FormMain::setEndText(const QString &text)
{
    m_editEnd->setText(text);
}

bool FormMain::takePendingStartEdit()
{
    const bool pending = m_editStart->isModified();
    m_editStart->setModified(false);
    return pending;
}

bool FormMain::takePendingEndEdit()
{
    const bool pending = m_editEnd->isModified();
    m_editEnd->setModified(false);
    return pending;
}

void FormMain::setWindowCaption(const QString &text)
{
    setWindowTitle(text.isEmpty() ? kProgramTitle : text);
}

bool FormMain::offersPlay() const
{
    return m_offersPlay;
}

void FormMain::setOffersPlay(bool play)
{
    m_offersPlay = play;
    m_btnPause->setIcon(style()->standardIcon(play ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    m_btnPause->setToolTip(play ? QStringLiteral("Play (Space)") : QStringLiteral("Pause (Space)"));
}

void FormMain::setFileControlsEnabled(bool enabled)
{
    for (QWidget *w : { static_cast<QWidget *>(m_positionSlider),
                        static_cast<QWidget *>(m_btnPause), static_cast<QWidget *>(m_btnGoStart),
                        static_cast<QWidget *>(m_btnGoEnd), static_cast<QWidget *>(m_btnSetStart),
                        static_cast<QWidget *>(m_btnSetEnd), static_cast<QWidget *>(m_btnCut),
                        static_cast<QWidget *>(m_editStart), static_cast<QWidget *>(m_editEnd) })
        w->setEnabled(enabled);
    if (!m_workbench)
        return;
    if (enabled && m_playback)
        m_workbench->fileShown(m_shared.InputFilePath, m_playback->durationMicros(),
                               m_shared.SourceHasVideo, m_probe && m_probe->audioStreamCount() > 0,
                               m_playback->range().start(), m_playback->range().end(),
                               m_player ? m_player->frameRate() : 0);
    else
        m_workbench->fileClosed();
    layoutWindow();
}

void FormMain::setCutEnabled(bool enabled)
{
    m_cutByMarks = enabled;
    refreshCutEnabled();
}

void FormMain::setMutedPicture(bool muted)
{
    m_mutePicture->setPixmap(muted ? Artwork::mutedPicture() : Artwork::soundOnPicture());
}

void FormMain::setGuideVisible(bool visible)
{
    m_guidePicture->setVisible(visible);
}

void FormMain::clearVideo()
{
    m_videoPane->update();
}

void FormMain::setBusy(bool busy)
{
    if (busy) {
        if (m_busyDepth++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_busyDepth > 0) {
        if (--m_busyDepth == 0)
            QApplication::restoreOverrideCursor();
    }
}

void FormMain::showOpening(const QString &fileName)
{
    if (!m_openingPanel)
        buildOpeningPanel();
    m_openingLabel->setText(QStringLiteral("Opening %1...").arg(fileName));
    m_openingDelay.start();
    qApp->installEventFilter(m_openingEscape);
}

void FormMain::hideOpening()
{
    m_openingDelay.stop();
    if (!m_openingPanel)
        return;
    m_openingPanel->hide();
    qApp->removeEventFilter(m_openingEscape);
}

void FormMain::buildOpeningPanel()
{
    // A window of its own, so that it shows above the video surface (one too).
    m_openingPanel = new QWidget(this);
    m_openingPanel->setObjectName(QStringLiteral("PanelOpening"));
    m_openingPanel->setAttribute(Qt::WA_NativeWindow);
    m_openingPanel->setAttribute(Qt::WA_StyledBackground);
    m_openingPanel->setStyleSheet(QStringLiteral("#PanelOpening { background-color: #f0f0f0; }"));
    m_openingLabel = makeLabel(m_openingPanel, "LabelOpening", QString());
    auto *bar = new QProgressBar(m_openingPanel);
    bar->setObjectName(QStringLiteral("BarOpening"));
    bar->setRange(0, 0); // busy, no known share
    bar->setTextVisible(false);
    auto *cancel = makeButton(m_openingPanel, "btnCancelOpen", QStringLiteral("Cancel (Esc)"));
    cancel->setText(QStringLiteral("Cancel"));
    m_openingLabel->setGeometry(12, 10, 296, 20);
    bar->setGeometry(12, 36, 210, 22);
    cancel->setGeometry(232, 34, 76, 26);
    m_openingPanel->resize(320, 70);
    m_openingPanel->hide();
    const auto cancelOpen = [this] {
        if (m_playback)
            m_playback->cancelOpen();
    };
    connect(cancel, &QPushButton::clicked, this, cancelOpen);
    m_openingEscape = new EscapeKey(this, cancelOpen);
    m_openingDelay.setSingleShot(true);
    m_openingDelay.setInterval(kOpeningPanelDelayMs);
    connect(&m_openingDelay, &QTimer::timeout, this, [this] {
        placeOpeningPanel();
        m_openingPanel->show();
        m_openingPanel->raise();
    });
}

void FormMain::placeOpeningPanel()
{
    const QRect area = m_videoPane->geometry();
    m_openingPanel->move(area.center() - m_openingPanel->rect().center());
}

void FormMain::leaveTopmost()
{
    if (windowFlags() & Qt::WindowStaysOnTopHint) {
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        show();
    }
}

void FormMain::repaintVideo()
{
    if (QWidget *video = m_player ? m_player->videoWindow() : nullptr)
        video->repaint();
}

QString FormMain::chooseMediaFile(const QString &folder, const QStringList &filters)
{
    if (m_chooseFile)
        return m_chooseFile(this, folder, filters);
    QFileDialog dialog(this, QString(), folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

void FormMain::showPlainMessage(const QString &text)
{
    if (m_messages)
        m_messages->showMessage(this, MessageSink::Icon::None, kProgramTitle, text);
}

void FormMain::showOutputDialog()
{
    if (m_showOutputDialog) {
        m_showOutputDialog();
        return;
    }
    if (!m_formVideoFormat) {
        FormVideoFormatParts parts;
        parts.shared = &m_shared;
        parts.messages = m_messages;
        parts.audioChannelCount
            = [this] { return m_probe ? m_probe->channelCount(m_probe->audioStreamIndex()) : 0; };
        parts.startConversion = [this] { startConversion(); };
        parts.copyStartNote
            = [this](const QList<CutSpan> &ranges, bool exact, const QList<int> &streams) {
                  return CopyRangesNote(m_shared.InputFilePath, ranges, exact, streams);
              };
        parts.trackNotes = ConversionTrackNotes;
        parts.sourceStreams = [this] { return ListStreamsOrNone(m_shared.InputFilePath); };
        m_formVideoFormat = new FormVideoFormat(std::move(parts), this);
    }
    m_formVideoFormat->showForCut();
}

void FormMain::startConversion()
{
    if (!runEachFile())
        runOneConversion();
}

bool FormMain::runOneConversion(const QList<CutJob> &jobs)
{
    FormConvertingParts parts;
    parts.shared = &m_shared;
    parts.encoder = m_encoder;
    parts.messages = m_messages;
    parts.taskbar = m_taskbar.get();
    parts.playSound = [this] { m_sound->playExclamation(); };
    parts.showSavedPopup
        = [this] { m_popup->ShowSavedPopup(m_shared.Job.output.folder, m_shared.outputPath()); };
    parts.jobs = jobs;
    // The popup stays while the finished dialog is open, and its full time after that.
    m_popup->hold();
    FormConverting progress(std::move(parts), this);
    progress.run();
    m_popup->release();
    return progress.saved();
}

void FormMain::endSession()
{
    // The job first: ffmpeg ends and the temporary file goes before anything else can.
    if (m_encoder)
        m_encoder->stopEncoding();
    // Then every dialog over the window, as its Cancel would (the progress dialog, the output
    // settings, a question or message), and the window itself, which writes the settings.
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QDialog *>(top); dialog && dialog->isVisible())
            dialog->reject();
    }
    close();
}

void FormMain::closeEvent(QCloseEvent *event)
{
    // The close is never refused.
    if (m_loaded && !m_unloaded) {
        if (m_rangeMarks)
            m_rangeMarks->applyPendingEdits();
        queryUnload();
        unload();
    }
    event->accept();
}

void FormMain::queryUnload()
{
    if (m_player)
        m_player->close();
    if (m_encoder)
        m_encoder->stopEncoding();
}

void FormMain::unload()
{
    m_unloaded = true;
    m_tickTimer.stop();
    WriteSetting(QStringLiteral("OutPath"), m_shared.Job.output.folder);
    WriteSetting(QStringLiteral("ShowMoreBtn"), m_showMoreSetting);
    WriteSetting(QStringLiteral("Volume"), QString::number(m_volumeSlider->value()));
    WriteSetting(QStringLiteral("WindowGeometry"), QString::fromLatin1(saveGeometry().toBase64()));
    if (m_firstStartFlag.isEmpty())
        WriteSetting(QStringLiteral("FirstStartSoftware"), QStringLiteral("N"));
    hide();
    QApplication::processEvents();
}

void FormMain::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutWindow();
}

void FormMain::layoutWindow()
{
    MainLayout::Extras extras;
    const bool fileOpen = m_playback && m_playback->fileOpen();
    extras.timelineHeight = fileOpen ? TimelineView::kPreferredHeight : 0;
    extras.timelineFillsVideoArea = fileOpen && m_workbench && !m_workbench->hasVideo();
    extras.panelWidth = m_workbench ? SegmentPanel::kPreferredWidth : 0;
    const MainLayout::Result r = MainLayout::Compute(size(), m_guidePicture->size(), extras);
    m_bottomPane->setGeometry(0, height() - MainLayout::PaneHeightPixels, width(),
                              MainLayout::PaneHeightPixels);
    if (r.sliderOk) {
        QRect slider = m_positionSlider->geometry();
        slider.setWidth(int(std::lround(r.positionSliderWidthTwips / 15.0)));
        m_positionSlider->setGeometry(slider);
        m_positionSlider->Refresh();
        m_controlStrip->move(int(std::lround(r.centreGroupLeftTwips / 15.0)), m_controlStrip->y());
        m_videoPane->setGeometry(r.playerRect);
        m_guidePicture->move(r.guideTopLeft);
        const int column = int(std::lround(r.columnLeftTwips / 15.0));
        for (QWidget *w : { m_btnHelp, m_btnAbout, m_btnMore })
            w->move(column, w->y());
        layoutWorkbench(r.timelineRect, r.panelRect);
    }
    if (m_player) {
        m_player->setDisplayWidth(r.displaySize.width());
        m_player->setDisplayHeight(r.displaySize.height());
        m_player->applySize();
    }
}
