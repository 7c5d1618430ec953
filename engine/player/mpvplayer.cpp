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

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <thread>

namespace {

constexpr int kOpenTimeoutMs = 20000;
// After the file is loaded, the time its length may take to become known.
constexpr int kDurationGraceMs = 2000;
constexpr int kPositionIntervalMs = 40;
// A frame step that shows no new frame (the first or the last one) lands after this. A step
// back decodes from the key frame before it, which on a busy machine can take seconds; a guard
// that fires before it lands lets the next step start while mpv is still on this one, and mpv
// then takes the two as one.
constexpr int kStepGuardMs = 5000;
// The reply tags of our own flag changes.
constexpr quint64 kPauseSet = 1;
constexpr quint64 kMuteSet = 2;
constexpr quint64 kVolumeSet = 3;
// The reply tags of the questions asked without waiting after a seek lands (the time of the
// frame it landed on) and before playing starts (whether the picture is parked at the end):
// their own bits above those of an open's facts.
constexpr quint64 kLandingAsk = quint64(1) << 62;
constexpr quint64 kPlayAsk = quint64(1) << 61;
// The reply tags of the load and stop commands: the chain's serial with this bit.
constexpr quint64 kChainCommand = quint64(1) << 60;
// The facts of a loaded file, asked for without waiting; each reply's tag is the open's
// number shifted left by kFactShift plus the fact's index, so that late replies of an open
// given up are known.
constexpr int kFactShift = 4;
constexpr const char *kFactNames[] = { "vid", "aid", "duration", "file-format", "container-fps" };
enum Fact { FactVideo, FactAudio, FactDuration, FactFormat, FactFps, FactCount };
static_assert(FactCount == std::size(kFactNames) && FactCount < (1 << kFactShift));

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

// A track property's answer names a track: anything but "no" or no value at all.
bool namesTrack(const mpv_event_property &property)
{
    if (property.format == MPV_FORMAT_NONE || !property.data)
        return false;
    if (property.format == MPV_FORMAT_STRING)
        return qstrcmp(*static_cast<char **>(property.data), "no") != 0;
    return true;
}

double finiteOr(const mpv_event_property &property, double fallback)
{
    if (property.format != MPV_FORMAT_DOUBLE || !property.data)
        return fallback;
    const double value = *static_cast<double *>(property.data);
    return std::isfinite(value) ? value : fallback;
}

// mpv's core, demuxer and decoder threads take a lower priority than the user interface:
// decoding for a seek or a drag of the slider takes both cores, and the window must still
// be drawn and answer at once. On Linux each thread has its own nice value, and a thread
// starts with that of the thread that creates it: the core is created on a thread of a lower
// priority, and everything mpv starts from it inherits that.
constexpr int kPlayerNiceness = 4;

template<typename Work> void runAtLowerPriority(Work work)
{
    std::thread([&work] {
#ifdef __linux__
        const id_t thread = static_cast<id_t>(gettid());
        const int now = getpriority(PRIO_PROCESS, thread);
        setpriority(PRIO_PROCESS, thread, std::min(19, std::max(now, 0) + kPlayerNiceness));
#endif
        work();
    }).join();
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
    , m_commands([this](const CommandChain::Command &command) { return sendCommand(command); },
                 [this](const CommandChain::Command &command) { onCommandRefused(command); })
{
    m_positionTimer.setInterval(kPositionIntervalMs);
    connect(&m_positionTimer, &QTimer::timeout, this, &MpvPlayer::emitPosition);
    m_stepGuard.setSingleShot(true);
    m_stepGuard.setInterval(kStepGuardMs);
    connect(&m_stepGuard, &QTimer::timeout, this, &MpvPlayer::onStepGuard);
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &MpvPlayer::onOpenTimeout);
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
    MpvHandle mpv;
    runAtLowerPriority([&mpv] { mpv.reset(mpv_create()); });
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
        // The software renderer's faster scaling: a 1080p frame is drawn in time for playback
        // on one core.
        { "sw-fast", "yes" },
        { "ao", m_options.headless ? "null" : "" },
    };
    for (const auto &[name, value] : options) {
        if (*value)
            mpv_set_option_string(mpv.get(), name, value);
    }
    int initialized = -1;
    runAtLowerPriority([&] { initialized = mpv_initialize(mpv.get()); });
    if (initialized < 0) {
        m_error = QStringLiteral("The mpv library could not be initialised.");
        return false;
    }
    m_mpv = std::move(mpv);
    mpv_observe_property(m_mpv.get(), 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv.get(), 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv.get(), 0, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv.get(), 0, "mute", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv.get(), 0, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv.get(), 0, "volume", MPV_FORMAT_DOUBLE);
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
    cancelPendingPlay();
    setFlag("pause", true);
    showVideo();
    m_openTimer.start(kOpenTimeoutMs);
    startLoad();
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

void MpvPlayer::showVideo()
{
    // mpv's video output needs its render context before a file is loaded; the pane makes it
    // only now (at once, and without OpenGL), so that start-up never waits for it.
    auto *video = qobject_cast<MpvVideoWidget *>(m_videoWidget.data());
    if (video && video->isVisible())
        video->activate();
}

void MpvPlayer::startLoad()
{
    // Events still waiting belong to what was open before: they go before the load's own.
    m_openStage = OpenStage::None;
    drainEvents();
    m_openStage = OpenStage::Loading;
    m_openEntry = -1;
    m_openEntryStarted = false;
    m_openReplied = false;
    // The load is not waited for: its reply names the playlist entry it made.
    m_openWish = m_commands.want(CommandChain::Kind::Load, QFile::encodeName(m_openFile));
}

bool MpvPlayer::sendCommand(const CommandChain::Command &command)
{
    if (!m_mpv)
        return false;
    const quint64 tag = kChainCommand | command.serial;
    if (command.kind == CommandChain::Kind::Stop) {
        const char *stop[] = { "stop", nullptr };
        return mpv_command_async(m_mpv.get(), tag, stop) >= 0;
    }
    const char *load[] = { "loadfile", command.file.constData(), "replace", nullptr };
    return mpv_command_async(m_mpv.get(), tag, load) >= 0;
}

void MpvPlayer::onCommandRefused(const CommandChain::Command &command)
{
    // Reported from the event loop: the refusal may come from within open(), before the load's
    // serial is known there; a load refused is the open's only when it is the last wish.
    if (command.kind == CommandChain::Kind::Load && command.serial == m_commands.lastWish()) {
        QTimer::singleShot(0, this, [this, serial = command.serial] {
            if (serial == m_openWish && m_openStage == OpenStage::Loading)
                failOpen(QStringLiteral("Cannot open %1").arg(m_openPath));
        });
    }
}

void MpvPlayer::onChainReply(quint64 serial, int error, const void *result)
{
    m_commands.replied(serial);
    if (serial != m_openWish || m_openStage != OpenStage::Loading)
        return; // a stop, or a load given up
    if (error < 0) {
        failOpen(QStringLiteral("Cannot open %1").arg(m_openPath));
        return;
    }
    m_openReplied = true;
    const auto *node = static_cast<const mpv_node *>(result);
    if (node && node->format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < node->u.list->num; ++i) {
            if (qstrcmp(node->u.list->keys[i], "playlist_entry_id") == 0
                && node->u.list->values[i].format == MPV_FORMAT_INT64)
                m_openEntry = node->u.list->values[i].u.int64;
        }
    }
    // The file may have started, loaded or failed before the reply came.
    if (m_openEntry < 0)
        return;
    if (m_lastFailedEntry == m_openEntry) {
        failOpen(openErrorText(m_lastFailedError, m_openPath));
        return;
    }
    m_openEntryStarted = m_lastStartedEntry == m_openEntry;
    if (m_openEntryStarted && m_lastStartedLoaded)
        onFileLoaded();
}

void MpvPlayer::onOpenStart(qint64 entry)
{
    m_lastStartedEntry = entry;
    m_lastStartedLoaded = false;
    if (m_openStage != OpenStage::Loading)
        return;
    // A file started before the load's reply names its entry may be an earlier load's; when
    // mpv names none, the first file started after the reply is the load's.
    if (m_openEntry < 0 && m_openReplied)
        m_openEntry = entry;
    m_openEntryStarted = m_openEntry >= 0 && entry == m_openEntry;
}

void MpvPlayer::onFileLoaded()
{
    m_lastStartedLoaded = true;
    if (m_openStage != OpenStage::Loading || !m_openEntryStarted)
        return;
    // The core may already be decoding the first frame: what the open needs to know of the
    // file is asked for without waiting, and the answers come as events.
    m_openStage = OpenStage::Facts;
    m_factsPending = FactCount;
    m_factVideo = m_factAudio = m_factDurationKnown = m_factUnindexed = false;
    m_factDuration = m_factFps = 0;
    for (int fact = 0; fact < FactCount; ++fact) {
        const mpv_format format
            = fact == FactDuration || fact == FactFps ? MPV_FORMAT_DOUBLE : MPV_FORMAT_STRING;
        const quint64 tag = (m_openSerial << kFactShift) | quint64(fact);
        if (mpv_get_property_async(m_mpv.get(), tag, kFactNames[fact], format) < 0)
            --m_factsPending;
    }
    if (m_factsPending == 0)
        factsKnown();
}

void MpvPlayer::onFactReply(quint64 tag, const mpv_event_property &property)
{
    if (m_openStage != OpenStage::Facts || (tag >> kFactShift) != m_openSerial)
        return; // an answer for an open given up
    switch (int(tag & ((1u << kFactShift) - 1))) {
    case FactVideo:
        m_factVideo = namesTrack(property);
        break;
    case FactAudio:
        m_factAudio = namesTrack(property);
        break;
    case FactDuration:
        // A length reported meanwhile (observed) is not undone by an answer without one.
        if (property.format == MPV_FORMAT_DOUBLE) {
            m_factDurationKnown = true;
            m_factDuration = std::max(0.0, finiteOr(property, 0));
        }
        break;
    case FactFormat:
        m_factUnindexed = property.format == MPV_FORMAT_STRING
            && HasNoSeekIndex(QString::fromUtf8(*static_cast<char **>(property.data)));
        break;
    case FactFps:
        m_factFps = std::max(0.0, finiteOr(property, 0));
        break;
    default:
        return;
    }
    if (--m_factsPending == 0)
        factsKnown();
}

void MpvPlayer::factsKnown()
{
    if (!m_factVideo && !m_factAudio) {
        failOpen(openErrorText(MPV_ERROR_NOTHING_TO_PLAY, m_openPath));
        return;
    }
    // Containers without an index of their key frames are entered somewhat after the time
    // asked for, and an exact seek would then show a later frame: those are entered earlier
    // and the decoder runs up to the time.
    const char *offset = m_factUnindexed ? "5" : "0";
    mpv_set_property_async(m_mpv.get(), 0, "hr-seek-demuxer-offset", MPV_FORMAT_STRING, &offset);
    m_frameRate = m_factFps;
    // The length may come a moment later (a stream that starts late): it is watched for a
    // while, and a file whose length never comes opens with none.
    m_openStage = OpenStage::Duration;
    if (m_factDurationKnown)
        completeOpen();
    else
        m_openTimer.start(kDurationGraceMs);
}

void MpvPlayer::completeOpen()
{
    endOpenStage();
    m_durationMicros = qint64(std::llround(m_factDuration * 1e6));
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
}

void MpvPlayer::abandonOpen()
{
    cancelPendingPlay();
    stopPlayback();
    if (auto *video = qobject_cast<MpvVideoWidget *>(m_videoWidget.data()))
        video->deactivate();
    m_durationMicros = 0;
    setState(StateNoMedia);
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
    cancelPendingPlay();
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
    cancelPendingPlay();
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
    if (!m_playPending) {
        // Whether the picture is parked on the last frame is asked of mpv itself: it does not
        // report every change of that flag (a paused seek to the end). The answer is not waited
        // for (the core answers once it is done with the frame it is decoding, tens of
        // milliseconds on a busy machine): mpv is told to play when it comes. A seek or a step
        // on its way decides where the picture is, and the picture is not parked then.
        if (!m_seeking && !m_stepping
            && mpv_get_property_async(m_mpv.get(), kPlayAsk | ++m_playSerial, "eof-reached",
                                      MPV_FORMAT_FLAG)
                >= 0) {
            m_playPending = true;
            m_playSeekSerial = m_seekSerial;
            m_pausedFlag = false;
            ++m_pauseSets; // the change sent with the answer is ours
        } else {
            setFlag("pause", false);
        }
    }
    setState(StatePlaying);
    m_positionTimer.start();
}

void MpvPlayer::onPlayReply(quint64 serial, const mpv_event_property &property)
{
    if (!m_playPending || serial != m_playSerial)
        return; // paused, closed or opened again before the answer came
    m_playPending = false;
    const bool parked = property.format == MPV_FORMAT_FLAG && property.data
        && *static_cast<int *>(property.data) != 0;
    // Parked on the last frame: playing starts again from the beginning, unless a seek has
    // been asked for meanwhile.
    if (parked && m_seekSerial == m_playSeekSerial) {
        const char *command[] = { "seek", "0", "absolute+exact", nullptr };
        mpv_command_async(m_mpv.get(), 0, command);
    }
    int value = 0;
    mpv_set_property_async(m_mpv.get(), kPauseSet, "pause", MPV_FORMAT_FLAG, &value);
}

void MpvPlayer::cancelPendingPlay()
{
    if (!m_playPending)
        return;
    m_playPending = false;
    if (m_pauseSets > 0)
        --m_pauseSets; // the change that was to go with the answer is never sent
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
    // Known once the open has asked: asking mpv now would wait for a core that is decoding.
    return m_mpv && m_state != StateNoMedia ? m_frameRate : 0;
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
    m_volume = v;
    ++m_volumeSets;
    mpv_set_property_async(m_mpv.get(), kVolumeSet, "volume", MPV_FORMAT_DOUBLE, &v);
}

int MpvPlayer::volume() const
{
    if (!m_mpv)
        return 0;
    return int(std::lround(m_volume * 128.0 / 100.0));
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
    ++m_stepSerial;
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

void MpvPlayer::stopPlayback()
{
    // Not waited for; the chain sends it after what is on its way, and a load asked for after
    // it supersedes it.
    if (m_mpv)
        m_commands.want(CommandChain::Kind::Stop);
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
        else if (event->reply_userdata == kVolumeSet && m_volumeSets > 0)
            --m_volumeSets;
        break;
    case MPV_EVENT_GET_PROPERTY_REPLY: {
        const auto &property = *static_cast<const mpv_event_property *>(event->data);
        const quint64 tag = event->reply_userdata;
        if (tag & kLandingAsk)
            onLandingReply(property);
        else if (tag & kPlayAsk)
            onPlayReply(tag & ~kPlayAsk, property);
        else
            onFactReply(tag, property);
        break;
    }
    case MPV_EVENT_COMMAND_REPLY:
        if (event->reply_userdata & kChainCommand)
            onChainReply(event->reply_userdata & ~kChainCommand, event->error,
                         &static_cast<const mpv_event_command *>(event->data)->result);
        else if (m_seekSerial != 0 && event->reply_userdata == m_seekSerial)
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
    m_lastFailedEntry = end.playlist_entry_id;
    m_lastFailedError = end.error;
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
    // show its time rather than the time asked for. A step back is such a seek. The time is
    // asked for without waiting (mpv reports it as a change only when it differs from the
    // seek's target); the landing counts once the answer is here, so that the position is
    // known by whoever waits for the seek or the step. What the landing ends is decided now:
    // seeks asked for in a row land once, and only the landing after mpv took the last of
    // them ends the wait of the steps.
    Landing landing;
    landing.openSerial = m_openSerial;
    landing.seekSerial = m_lastSeekTaken ? m_seekSerial : 0;
    landing.stepSerial = m_steppingDirection < 0 ? m_stepSerial : 0;
    if (mpv_get_property_async(m_mpv.get(), kLandingAsk, "time-pos", MPV_FORMAT_DOUBLE) >= 0) {
        m_landings.push_back(landing);
        return;
    }
    mpv_event_property none {};
    none.format = MPV_FORMAT_NONE;
    land(landing, none);
}

void MpvPlayer::onLandingReply(const mpv_event_property &property)
{
    // mpv answers in the order it was asked.
    if (m_landings.empty())
        return;
    const Landing landing = m_landings.front();
    m_landings.pop_front();
    land(landing, property);
}

void MpvPlayer::land(const Landing &landing, const mpv_event_property &timePos)
{
    if (landing.openSerial != m_openSerial)
        return; // a landing of what was open before
    if (timePos.format == MPV_FORMAT_DOUBLE && timePos.data)
        m_timePos = *static_cast<double *>(timePos.data);
    if (!isOpening() && m_state != StateNoMedia)
        emitPosition();
    if (landing.seekSerial != 0 && landing.seekSerial == m_seekSerial)
        m_seeking = false;
    if (landing.stepSerial != 0 && landing.stepSerial == m_stepSerial && m_steppingDirection < 0)
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
    if (qstrcmp(property.name, "duration") == 0 && property.format == MPV_FORMAT_DOUBLE
        && (m_openStage == OpenStage::Facts || m_openStage == OpenStage::Duration)) {
        m_factDurationKnown = true;
        m_factDuration = std::max(0.0, finiteOr(property, 0));
        if (m_openStage == OpenStage::Duration)
            completeOpen();
        return;
    }
    if (qstrcmp(property.name, "time-pos") == 0)
        m_timePos = property.format == MPV_FORMAT_DOUBLE ? *static_cast<double *>(property.data)
                                                         : std::numeric_limits<double>::quiet_NaN();
    else if (qstrcmp(property.name, "pause") == 0 && isFlag && m_pauseSets == 0)
        m_pausedFlag = flagValue;
    else if (qstrcmp(property.name, "mute") == 0 && isFlag && m_muteSets == 0)
        m_mutedFlag = flagValue;
    else if (qstrcmp(property.name, "volume") == 0 && property.format == MPV_FORMAT_DOUBLE
             && m_volumeSets == 0)
        m_volume = *static_cast<double *>(property.data);
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
        && *static_cast<int *>(property.data) && !isOpening() && m_state == StatePlaying
        && !m_playPending) { // the answer to the play decides then
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
