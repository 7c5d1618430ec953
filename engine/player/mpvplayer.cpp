#include "mpvplayer.h"

#include "containerfacts.h"
#include "mpvvideowidget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QWidget>
#include <clocale>

#include <mpv/client.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kOpenTimeoutMs = 20000;
constexpr int kSurfaceTimeoutMs = 5000;
constexpr int kSurfacePollMs = 10;
// After the file is loaded, the time its length may take to become known.
constexpr int kDurationGraceMs = 2000;
constexpr int kPositionIntervalMs = 40;
// A frame step that shows no new frame (the first or the last one) lands after this.
constexpr int kStepGuardMs = 2000;
// The reply tags of our own flag changes.
constexpr quint64 kPauseSet = 1;
constexpr quint64 kMuteSet = 2;

void onWakeup(void *player)
{
    // Called on any mpv thread: only queue a call onto the UI thread.
    auto *p = static_cast<MpvPlayer *>(player);
    QMetaObject::invokeMethod(p, "drainEventsQueued", Qt::QueuedConnection);
}

QString openErrorText(int error, const QString &path)
{
    switch (error) {
    case MPV_ERROR_NOTHING_TO_PLAY:
        return QStringLiteral("No playable audio or video stream in: %1").arg(path);
    case MPV_ERROR_UNKNOWN_FORMAT:
    case MPV_ERROR_LOADING_FAILED:
        return QStringLiteral("Not a media file, or a damaged one: %1").arg(path);
    default:
        return QStringLiteral("Cannot open %1: %2")
            .arg(path, QString::fromUtf8(mpv_error_string(error)));
    }
}

// A string mpv hands out, freed by mpv; null when the property has no value.
MpvString propertyString(mpv_handle *mpv, const char *name)
{
    return MpvString(mpv_get_property_string(mpv, name));
}

} // namespace

void MpvHandleRelease::operator()(mpv_handle *mpv) const
{
    // No wakeup may reach a player that is going away.
    mpv_set_wakeup_callback(mpv, nullptr, nullptr);
    mpv_terminate_destroy(mpv);
}

void MpvStringRelease::operator()(char *text) const
{
    mpv_free(text);
}

MpvPlayer::MpvPlayer(Options options, QObject *parent)
    : Player(parent)
    , m_options(options)
{
    m_positionTimer.setInterval(kPositionIntervalMs);
    connect(&m_positionTimer, &QTimer::timeout, this, &MpvPlayer::emitPosition);
    m_stepGuard.setSingleShot(true);
    m_stepGuard.setInterval(kStepGuardMs);
    connect(&m_stepGuard, &QTimer::timeout, this, &MpvPlayer::onStepGuard);
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &MpvPlayer::onOpenTimeout);
    m_surfacePoll.setInterval(kSurfacePollMs);
    connect(&m_surfacePoll, &QTimer::timeout, this, &MpvPlayer::onSurfacePoll);
}

MpvPlayer::~MpvPlayer()
{
    m_positionTimer.stop();
    // The render context must go before the mpv handle it belongs to.
    delete m_videoWidget.data();
    m_mpv.reset();
}

bool MpvPlayer::isLibraryLoaded() const
{
    return m_mpv != nullptr;
}

bool MpvPlayer::loadLibrary()
{
    if (m_mpv)
        return true;
    MpvHandle mpv(mpv_create());
    if (!mpv) {
        m_error = QStringLiteral("The mpv library could not be started.");
        return false;
    }
    const std::pair<const char *, const char *> options[] = {
        { "config", "no" },
        { "terminal", "no" },
        { "load-scripts", "no" },
        { "ytdl", "no" },
        { "osc", "no" },
        { "input-default-bindings", "no" },
        { "input-vo-keyboard", "no" },
        { "input-cursor", "no" },
        { "idle", "yes" },
        { "keep-open", "yes" },
        { "hr-seek", "yes" },
        // libavformat reads every file, as it does for the probe and the encoder: the player's
        // times are then the encoder's times, frame for frame. (mpv's own Matroska reader
        // places time 0 elsewhere when the audio has a codec delay, so a mark set on a frame
        // would have been cut one frame later.)
        { "demuxer", "lavf" },
        { "pause", "yes" },
        { "audio-fallback-to-null", "yes" },
        { "vo", m_options.headless ? "null" : "libmpv" },
        { "ao", m_options.headless ? "null" : "" },
    };
    for (const auto &[name, value] : options) {
        if (*value)
            mpv_set_option_string(mpv.get(), name, value);
    }
    if (mpv_initialize(mpv.get()) < 0) {
        m_error = QStringLiteral("The mpv library could not be initialised.");
        return false;
    }
    m_mpv = std::move(mpv);
    mpv_observe_property(m_mpv.get(), 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv.get(), 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv.get(), 0, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv.get(), 0, "mute", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(m_mpv.get(), onWakeup, this);
    return true;
}

QWidget *MpvPlayer::videoWidget(QWidget *parent)
{
    if (!m_videoWidget) {
        if (m_options.headless) {
            auto *plain = new QWidget(parent);
            plain->setAttribute(Qt::WA_StyledBackground);
            plain->setStyleSheet(QStringLiteral("background-color: black;"));
            m_videoWidget = plain;
        } else {
            // The handle may be created after the widget (the library check runs later); the
            // widget asks for it when its GL context comes up.
            m_videoWidget = new MpvVideoWidget([this] { return m_mpv.get(); }, parent);
        }
    }
    return m_videoWidget;
}

QWidget *MpvPlayer::videoWindow() const
{
    return m_videoWidget;
}

void MpvPlayer::open(const QString &path)
{
    cancelOpen();
    ++m_openSerial;
    m_openPath = path;
    if (!m_mpv) {
        failOpenLater(QStringLiteral("The player is not ready."));
        return;
    }
    const QFileInfo info(path);
    if (!checkReadable(info, path)) {
        failOpenLater(m_error);
        return;
    }
    m_openFile = info.absoluteFilePath();
    m_timePos = std::numeric_limits<double>::quiet_NaN();
    resetSteps();
    m_positionTimer.stop();
    setFlag("pause", true);
    m_openStage = OpenStage::Surface;
    m_openTimer.start(kOpenTimeoutMs);
    waitForSurface();
}

void MpvPlayer::cancelOpen()
{
    if (m_openStage == OpenStage::None)
        return;
    ++m_openSerial;
    endOpenStage();
    abandonOpen();
}

void MpvPlayer::failOpenLater(const QString &text)
{
    m_error = text;
    // The answer never comes from within open(): the caller has not yet seen it return.
    QTimer::singleShot(0, this, [this, serial = m_openSerial] {
        if (serial == m_openSerial)
            Q_EMIT openFinished(false);
    });
}

bool MpvPlayer::checkReadable(const QFileInfo &info, const QString &path)
{
    if (path.isEmpty() || !info.exists())
        m_error = QStringLiteral("File not found: %1").arg(path);
    else if (info.isDir() || !info.isReadable())
        m_error = QStringLiteral("The file cannot be read: %1").arg(path);
    else if (info.size() == 0)
        m_error = QStringLiteral("The file is empty: %1").arg(path);
    else
        return true;
    return false;
}

void MpvPlayer::waitForSurface()
{
    // mpv's video output needs its render context before a file is loaded; the pane creates
    // its OpenGL surface only now, so that start-up never waits for OpenGL. The surface comes
    // up from the event loop: it is looked at every few milliseconds, for a bounded time.
    auto *video = qobject_cast<MpvVideoWidget *>(m_videoWidget.data());
    if (!video || !video->isVisible() || video->hasRenderContext()) {
        if (video && video->isVisible())
            video->activate();
        startLoad();
        return;
    }
    video->activate();
    m_surfaceClock.start();
    m_surfacePoll.start();
}

void MpvPlayer::onSurfacePoll()
{
    auto *video = qobject_cast<MpvVideoWidget *>(m_videoWidget.data());
    if (m_openStage != OpenStage::Surface)
        return m_surfacePoll.stop();
    if (video && !video->hasRenderContext() && m_surfaceClock.elapsed() < kSurfaceTimeoutMs)
        return;
    m_surfacePoll.stop();
    startLoad();
}

void MpvPlayer::startLoad()
{
    // Events still waiting belong to what was open before: they go before the load's own.
    m_openStage = OpenStage::None;
    drainEvents();
    m_openStage = OpenStage::Loading;
    m_openEntry = -1;
    m_openEntryStarted = false;
    const QByteArray file = QFile::encodeName(m_openFile);
    const char *command[] = { "loadfile", file.constData(), "replace", nullptr };
    mpv_node result {};
    if (mpv_command_ret(m_mpv.get(), command, &result) < 0) {
        failOpen(QStringLiteral("Cannot open %1").arg(m_openPath));
        return;
    }
    if (result.format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < result.u.list->num; ++i) {
            if (qstrcmp(result.u.list->keys[i], "playlist_entry_id") == 0
                && result.u.list->values[i].format == MPV_FORMAT_INT64)
                m_openEntry = result.u.list->values[i].u.int64;
        }
    }
    mpv_free_node_contents(&result);
}

void MpvPlayer::onOpenStart(qint64 entry)
{
    // The first file started after the load command is the load's when mpv did not say.
    if (m_openStage != OpenStage::Loading)
        return;
    if (m_openEntry < 0)
        m_openEntry = entry;
    if (entry == m_openEntry)
        m_openEntryStarted = true;
}

void MpvPlayer::onFileLoaded()
{
    if (m_openStage != OpenStage::Loading || !m_openEntryStarted)
        return;
    if (!hasPlayableStream()) {
        failOpen(openErrorText(MPV_ERROR_NOTHING_TO_PLAY, m_openPath));
        return;
    }
    // The length may come a moment later (a stream that starts late): a file whose length
    // never comes opens with none.
    m_openStage = OpenStage::Duration;
    qint64 duration = 0;
    if (knownDuration(&duration))
        completeOpen();
    else
        m_openTimer.start(kDurationGraceMs);
}

void MpvPlayer::completeOpen()
{
    qint64 duration = 0;
    knownDuration(&duration);
    endOpenStage();
    m_durationMicros = duration;
    setSeekOffsetForFormat();
    m_error.clear();
    setState(StateStopped);
    Q_EMIT mediaOpened(m_durationMicros);
    Q_EMIT openFinished(true);
}

void MpvPlayer::failOpen(const QString &text)
{
    endOpenStage();
    abandonOpen();
    m_error = text;
    Q_EMIT openFinished(false);
}

void MpvPlayer::onOpenTimeout()
{
    if (m_openStage == OpenStage::Duration)
        completeOpen();
    else if (m_openStage != OpenStage::None)
        failOpen(QStringLiteral("Opening took too long: %1").arg(m_openPath));
}

void MpvPlayer::endOpenStage()
{
    m_openStage = OpenStage::None;
    m_openTimer.stop();
    m_surfacePoll.stop();
}

void MpvPlayer::abandonOpen()
{
    stopPlayback();
    if (auto *video = qobject_cast<MpvVideoWidget *>(m_videoWidget.data()))
        video->deactivate();
    m_durationMicros = 0;
    setState(StateNoMedia);
}

bool MpvPlayer::hasPlayableStream() const
{
    const MpvString vid = propertyString(m_mpv.get(), "vid");
    const MpvString aid = propertyString(m_mpv.get(), "aid");
    const bool noVideo = !vid || qstrcmp(vid.get(), "no") == 0;
    const bool noAudio = !aid || qstrcmp(aid.get(), "no") == 0;
    return !noVideo || !noAudio;
}

bool MpvPlayer::knownDuration(qint64 *micros) const
{
    double duration = 0;
    const bool known = mpv_get_property(m_mpv.get(), "duration", MPV_FORMAT_DOUBLE, &duration) >= 0;
    if (!known || !std::isfinite(duration) || duration < 0)
        duration = 0;
    *micros = qint64(std::llround(duration * 1e6));
    return known;
}

void MpvPlayer::setSeekOffsetForFormat()
{
    const MpvString format = propertyString(m_mpv.get(), "file-format");
    const bool unindexed = format && HasNoSeekIndex(QString::fromUtf8(format.get()));
    mpv_set_property_string(m_mpv.get(), "hr-seek-demuxer-offset", unindexed ? "5" : "0");
}

QString MpvPlayer::lastErrorText() const
{
    return m_error;
}

void MpvPlayer::resetSteps()
{
    dropQueuedSteps();
    m_stepping = m_seeking = false;
    m_steppingDirection = 0;
    m_stepGuard.stop();
}

void MpvPlayer::close()
{
    if (isOpening()) {
        ++m_openSerial;
        endOpenStage();
    }
    resetSteps();
    m_positionTimer.stop();
    if (auto *video = qobject_cast<MpvVideoWidget *>(m_videoWidget.data()))
        video->deactivate(); // the black pane: nothing is open
    if (!m_mpv)
        return;
    stopPlayback();
    m_durationMicros = 0;
    setState(StateNoMedia);
}

void MpvPlayer::pause()
{
    if (!m_mpv)
        return;
    setFlag("pause", true);
    const bool wasPlaying = m_positionTimer.isActive();
    m_positionTimer.stop();
    // The frame the picture stops on: the slider and the marks must not keep the time of the
    // last tick, up to a frame or two earlier.
    if (wasPlaying && !m_seeking)
        emitPosition();
    if (m_state == StatePlaying)
        setState(StatePaused);
}

void MpvPlayer::play()
{
    if (!m_mpv || m_state == StateNoMedia)
        return;
    dropQueuedSteps();
    // Asked of mpv itself: it does not report every change of this flag (a paused seek to the
    // end), and while paused the core answers at once.
    int eof = 0;
    mpv_get_property(m_mpv.get(), "eof-reached", MPV_FORMAT_FLAG, &eof);
    if (eof) {
        // Parked on the last frame: playing starts again from the beginning.
        const char *command[] = { "seek", "0", "absolute+exact", nullptr };
        mpv_command_async(m_mpv.get(), 0, command);
    }
    setFlag("pause", false);
    setState(StatePlaying);
    m_positionTimer.start();
}

void MpvPlayer::togglePause()
{
    if (isPaused())
        play();
    else
        pause();
}

bool MpvPlayer::isPaused() const
{
    if (!m_mpv || m_state == StateNoMedia)
        return true;
    return m_pausedFlag;
}

int MpvPlayer::stateCode() const
{
    return m_state;
}

void MpvPlayer::seek(qint64 micros)
{
    seekWith(micros, "absolute+exact");
}

void MpvPlayer::seekFast(qint64 micros)
{
    seekWith(micros, "absolute+keyframes");
}

double MpvPlayer::frameRate() const
{
    double fps = 0;
    if (!m_mpv || mpv_get_property(m_mpv.get(), "container-fps", MPV_FORMAT_DOUBLE, &fps) < 0
        || !(fps > 0))
        return 0;
    return fps;
}

void MpvPlayer::seekWith(qint64 micros, const char *flags)
{
    if (!m_mpv || m_state == StateNoMedia)
        return;
    dropQueuedSteps(); // the picture goes elsewhere: steps still waiting would move it on
    m_seeking = true;
    m_lastSeekTaken = false;
    ++m_seekSerial;
    if (!m_stepping)
        m_stepGuard.start();
    const qint64 clamped = std::clamp<qint64>(micros, 0, std::max<qint64>(0, m_durationMicros));
    const QByteArray seconds = QByteArray::number(double(clamped) / 1e6, 'f', 6);
    const char *command[] = { "seek", seconds.constData(), flags, nullptr };
    mpv_command_async(m_mpv.get(), m_seekSerial, command);
    if (m_state == StateEnded)
        setState(m_pausedFlag ? StatePaused : StatePlaying);
}

bool MpvPlayer::isMuted() const
{
    return m_mutedFlag;
}

void MpvPlayer::setMuted(bool muted)
{
    setFlag("mute", muted);
}

void MpvPlayer::setVolume(int volume)
{
    if (!m_mpv)
        return;
    double v = std::clamp(volume, 0, 128) * 100.0 / 128.0;
    mpv_set_property(m_mpv.get(), "volume", MPV_FORMAT_DOUBLE, &v);
}

int MpvPlayer::volume() const
{
    double v = 0;
    if (!m_mpv || mpv_get_property(m_mpv.get(), "volume", MPV_FORMAT_DOUBLE, &v) < 0)
        return 0;
    return int(std::lround(v * 128.0 / 100.0));
}

void MpvPlayer::applySize()
{
    if (auto *video = qobject_cast<MpvVideoWidget *>(m_videoWidget.data()))
        video->refresh();
    else if (m_videoWidget)
        m_videoWidget->update();
}

void MpvPlayer::stepFrame(int direction)
{
    if (!m_mpv || m_state == StateNoMedia || direction == 0)
        return;
    // A step asked for while a seek or another step is on its way waits its turn; a step the
    // other way takes one of the waiting ones back.
    m_queuedSteps += direction > 0 ? 1 : -1;
    startQueuedStep();
}

void MpvPlayer::startQueuedStep()
{
    if (m_stepping || m_seeking || m_queuedSteps == 0)
        return;
    if (!m_mpv || m_state == StateNoMedia || m_state == StatePlaying) {
        m_queuedSteps = 0;
        return;
    }
    const int direction = m_queuedSteps > 0 ? 1 : -1;
    m_queuedSteps -= direction;
    const char *command[] = { direction > 0 ? "frame-step" : "frame-back-step", nullptr };
    mpv_command_async(m_mpv.get(), 0, command);
    m_stepping = true;
    m_steppingDirection = direction;
    m_stepGuard.start();
    if (m_state == StateStopped || m_state == StateEnded)
        setState(StatePaused);
}

void MpvPlayer::stepLanded()
{
    m_stepping = false;
    m_steppingDirection = 0;
    m_stepGuard.stop();
    startQueuedStep();
    if (pendingSteps() == 0)
        Q_EMIT stepsLanded();
}

void MpvPlayer::onStepGuard()
{
    // Nothing came of the seek or the step (the first or the last frame): go on all the same.
    m_seeking = false;
    stepLanded();
}

qint64 MpvPlayer::currentPosition() const
{
    if (!m_mpv || !std::isfinite(m_timePos))
        return -1;
    return qint64(std::llround(std::max(0.0, m_timePos) * 1e6));
}

void MpvPlayer::readTimePos()
{
    double pos = 0;
    m_timePos = mpv_get_property(m_mpv.get(), "time-pos", MPV_FORMAT_DOUBLE, &pos) >= 0
        ? pos
        : std::numeric_limits<double>::quiet_NaN();
}

void MpvPlayer::stopPlayback()
{
    // Waited for: a load asked for after it must not be overtaken by it.
    const char *stop[] = { "stop", nullptr };
    mpv_command(m_mpv.get(), stop);
    m_timePos = std::numeric_limits<double>::quiet_NaN();
}

void MpvPlayer::drainEvents()
{
    if (!m_mpv)
        return;
    for (;;) {
        mpv_event *event = mpv_wait_event(m_mpv.get(), 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(event);
    }
}

void MpvPlayer::handleEvent(const void *raw)
{
    const auto *event = static_cast<const mpv_event *>(raw);
    switch (event->event_id) {
    case MPV_EVENT_START_FILE:
        onOpenStart(static_cast<const mpv_event_start_file *>(event->data)->playlist_entry_id);
        break;
    case MPV_EVENT_FILE_LOADED:
        onFileLoaded();
        break;
    case MPV_EVENT_END_FILE:
        onEndFile(*static_cast<const mpv_event_end_file *>(event->data));
        break;
    case MPV_EVENT_VIDEO_RECONFIG:
        Q_EMIT stateChanged(StateVideoReady);
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        onPlaybackRestart();
        break;
    case MPV_EVENT_SET_PROPERTY_REPLY:
        if (event->reply_userdata == kPauseSet && m_pauseSets > 0)
            --m_pauseSets;
        else if (event->reply_userdata == kMuteSet && m_muteSets > 0)
            --m_muteSets;
        break;
    case MPV_EVENT_COMMAND_REPLY:
        if (m_seekSerial != 0 && event->reply_userdata == m_seekSerial)
            m_lastSeekTaken = true;
        break;
    case MPV_EVENT_PROPERTY_CHANGE:
        onPropertyChange(*static_cast<const mpv_event_property *>(event->data));
        break;
    default:
        break;
    }
}

void MpvPlayer::onEndFile(const mpv_event_end_file &end)
{
    if (end.reason != MPV_END_FILE_REASON_ERROR)
        return;
    if (isOpening()) {
        // Only the load's own end says it failed; an earlier file's end is no answer.
        const bool ours = m_openStage != OpenStage::Loading
            || (m_openEntryStarted && end.playlist_entry_id == m_openEntry);
        if (ours)
            failOpen(openErrorText(end.error, m_openPath));
    } else if (m_state != StateNoMedia) {
        m_positionTimer.stop();
        setState(StateEnded);
    }
}

void MpvPlayer::onPlaybackRestart()
{
    // A seek has landed: the frame on screen changed, also while paused, and the window must
    // show its time rather than the time asked for. A step back is such a seek. The core has
    // just finished the seek: asking it for the time does not wait for a decode.
    if (!isOpening() && m_state != StateNoMedia) {
        readTimePos();
        emitPosition();
    }
    // Seeks asked for in a row land once: only the landing after mpv took the last of them
    // ends the wait of the steps.
    if (m_lastSeekTaken)
        m_seeking = false;
    if (m_steppingDirection < 0)
        stepLanded();
    else if (!m_stepping)
        startQueuedStep();
}

void MpvPlayer::onPropertyChange(const mpv_event_property &property)
{
    // The values asked for most are kept as mpv reports them, so that asking never waits for
    // the core (busy decoding while a seek runs); a flag being set by us keeps the value set.
    const bool isFlag = property.format == MPV_FORMAT_FLAG;
    const bool flagValue = isFlag && *static_cast<int *>(property.data) != 0;
    if (qstrcmp(property.name, "time-pos") == 0)
        m_timePos = property.format == MPV_FORMAT_DOUBLE ? *static_cast<double *>(property.data)
                                                         : std::numeric_limits<double>::quiet_NaN();
    else if (qstrcmp(property.name, "pause") == 0 && isFlag && m_pauseSets == 0)
        m_pausedFlag = flagValue;
    else if (qstrcmp(property.name, "mute") == 0 && isFlag && m_muteSets == 0)
        m_mutedFlag = flagValue;
    // While paused the picture moves only by seeks and frame steps: report each frame it
    // lands on (while playing, the position timer reports).
    // A seek on its way reports where it lands (onPlaybackRestart): a time from before it is
    // no frame the window may take.
    if (qstrcmp(property.name, "time-pos") == 0 && property.format == MPV_FORMAT_DOUBLE
        && !isOpening() && m_state != StateNoMedia && m_state != StatePlaying && !m_seeking) {
        emitPosition();
        if (m_steppingDirection > 0)
            stepLanded(); // a step forward shows the next frame
        return;
    }
    // The end of the media is an event of playback only: a paused seek to the very end
    // (go to end) shows the last frame and stays there.
    if (qstrcmp(property.name, "eof-reached") == 0 && property.format == MPV_FORMAT_FLAG
        && *static_cast<int *>(property.data) && !isOpening() && m_state == StatePlaying) {
        m_positionTimer.stop();
        emitPosition();
        setState(StateEnded);
    }
}

void MpvPlayer::setState(int state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void MpvPlayer::emitPosition()
{
    const qint64 position = currentPosition();
    if (position >= 0)
        Q_EMIT positionChanged(position);
}

void MpvPlayer::setFlag(const char *name, bool on)
{
    if (!m_mpv)
        return;
    int value = on ? 1 : 0;
    quint64 tag = 0;
    if (qstrcmp(name, "pause") == 0) {
        m_pausedFlag = on;
        ++m_pauseSets;
        tag = kPauseSet;
    } else if (qstrcmp(name, "mute") == 0) {
        m_mutedFlag = on;
        ++m_muteSets;
        tag = kMuteSet;
    }
    mpv_set_property_async(m_mpv.get(), tag, name, MPV_FORMAT_FLAG, &value);
}
