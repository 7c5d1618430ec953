#include "playback.h"

#include "mainview.h"
#include "openfilters.h"
#include "player.h"
#include "probe.h"
#include "sharedvalues.h"
#include "timecode.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

const QString kProgramTitle = QStringLiteral("Snipora");

// How long the frame on screen is waited for: frame steps still on their way (a decode back
// from a distant key frame takes its time), then a seek, and a RealMedia frame lookup.
constexpr int kStepsWaitMs = 10000;
constexpr int kSeekWaitMs = 200;
constexpr int kLookupWaitMs = 2000;
constexpr int kSettleCheckMs = 25;

std::optional<int> toInt(double value)
{
    const qint64 r = RoundHalfEven(value);
    if (!std::isfinite(value) || r < std::numeric_limits<int>::min()
        || r > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(r);
}

} // namespace

Playback::Playback(Player &player, Probe &probe, SharedValues &shared, MainView &view)
    : m_player(player)
    , m_probe(probe)
    , m_shared(shared)
    , m_view(view)
{
    m_openConnection = QObject::connect(&m_player, &Player::openFinished, &m_player,
                                        [this](bool opened) { onOpenFinished(opened); });
    m_stepsConnection = QObject::connect(&m_player, &Player::stepsLanded, &m_player,
                                         [this] { answerFrameQueries(); });
    m_settleTimer.setInterval(kSettleCheckMs);
    QObject::connect(&m_settleTimer, &QTimer::timeout, &m_settleTimer,
                     [this] { answerFrameQueries(); });
}

Playback::~Playback()
{
    QObject::disconnect(m_openConnection);
    QObject::disconnect(m_stepsConnection);
}

void Playback::openCommand()
{
    m_player.pause();
    m_view.setOffersPlay(true);

    const QString path = m_view.chooseMediaFile(m_lastOpenFolder, MediaOpenFilters());
    if (path.isEmpty())
        return; // cancelled: nothing else changes
    openChosenFile(path);
}

void Playback::openFile(const QString &path)
{
    m_player.pause();
    m_view.setOffersPlay(true);
    if (!path.isEmpty())
        openChosenFile(path);
}

void Playback::openChosenFile(QString path)
{
    if (m_opening) {
        // A new choice replaces the open on its way; the window before that one is kept.
        m_player.cancelOpen();
        m_view.hideOpening();
        if (!m_restoring)
            m_view.setBusy(false);
    } else {
        m_folderBeforeOpen = m_lastOpenFolder;
        m_secondsBeforeOpen = m_positionSeconds;
    }
    answerFrameQueries(true);
    m_view.setGuideVisible(false);
    m_view.setBusy(true);

    const qsizetype nul = path.indexOf(QChar(0));
    if (nul >= 0)
        path.truncate(nul);
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (IsPathSeparator(path.at(i))) {
            m_lastOpenFolder = path.left(i + 1);
            break;
        }
    }
    m_view.showOpening(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    startOpen(path, false);
}

void Playback::startOpen(const QString &path, bool restoring)
{
    // The player and the probe read the file at the same time; the open goes on once both
    // have answered (at once when the player fails).
    m_opening = true;
    m_restoring = restoring;
    m_openingPath = path;
    m_playerAnswer = m_probeAnswer = Answer::Waiting;
    const quint64 attempt = ++m_openAttempt;
    m_player.open(path);
    m_probe.openInBackground(path, [this, attempt](bool probed) {
        if (attempt != m_openAttempt || !m_opening)
            return;
        m_probeAnswer = probed ? Answer::Yes : Answer::No;
        openAnswered();
    });
}

void Playback::onOpenFinished(bool opened)
{
    if (!m_opening)
        return; // an open already given up
    m_playerAnswer = opened ? Answer::Yes : Answer::No;
    openAnswered();
}

void Playback::openAnswered()
{
    if (m_playerAnswer == Answer::Waiting
        || (m_playerAnswer == Answer::Yes && m_probeAnswer == Answer::Waiting))
        return;
    const bool opened = m_playerAnswer == Answer::Yes;
    const bool probed = m_probeAnswer == Answer::Yes;
    ++m_openAttempt; // a probe answer still to come is no longer wanted
    if (m_restoring) {
        finishRestore(opened);
        return;
    }
    m_opening = false;
    m_view.hideOpening();
    if (!opened) {
        m_view.showPlainMessage(m_player.lastErrorText());
        // Whatever was open before is gone too: the pane, the controls and the values a
        // conversion reads all say "no file", so nothing of the old file can be cut by mistake.
        closeMedia();
        m_view.setBusy(false);
        return;
    }
    continueOpen(m_openingPath, probed);
}

void Playback::continueOpen(const QString &path, bool probed)
{
    probeOpenedFile(path, probed);

    m_view.setWindowCaption(path + QStringLiteral(" - ") + kProgramTitle);
    m_shared.InputFilePath = path;
    m_fileOpen = true;
    m_view.setFileControlsEnabled(true);
    m_view.setPositionValue(0);
    // The whole file is selected; Cut is usable exactly while the range is longer than zero
    // (a file of no length has none).
    showRange();
    m_view.setBusy(false);
}

void Playback::cancelOpen()
{
    if (!m_opening || m_restoring)
        return;
    m_player.cancelOpen();
    ++m_openAttempt;
    m_opening = false;
    m_view.hideOpening();
    m_lastOpenFolder = m_folderBeforeOpen;
    m_view.setBusy(false);
    if (!m_fileOpen) {
        m_view.setGuideVisible(true);
        return;
    }
    // The player let go of the file that was open, and the probe may have read the other:
    // both take it again, and it comes back where it was, its marks and the window's values
    // untouched.
    startOpen(m_shared.InputFilePath, true);
}

void Playback::finishRestore(bool opened)
{
    m_opening = m_restoring = false;
    if (!opened) {
        m_view.showPlainMessage(m_player.lastErrorText());
        closeMedia();
        return;
    }
    const qint64 target = targetForSeconds(m_secondsBeforeOpen);
    if (target > 0) {
        seekTo(target);
        refreshStillFrame(target);
    }
}

void Playback::closeMedia()
{
    m_player.close();
    m_fileOpen = false;
    m_seekPending = false;
    m_view.setWindowCaption(QString());
    m_shared.InputFilePath.clear();
    m_shared.SourceWidth = m_shared.SourceHeight = 0;
    m_shared.SourceHasVideo = m_shared.SourceIsRmvb = false;
    m_shared.SourceBitrateKbps = 0;
    m_view.setFileControlsEnabled(false);
    m_view.clearVideo();
    m_view.setGuideVisible(true); // nothing is open: the hint tells how to begin
    m_durationMicros = 0;
    m_durationTenths = 0;
    m_durationText.clear();
    m_positionSeconds = 0;
    m_view.setPositionValue(0);
    m_view.setPositionLabel(QStringLiteral("00:00:00.0/00:00:00.0"));
    m_range.clear();
    showRange();
}

void Playback::showRange()
{
    const auto tenths = [](double seconds) { return toInt(seconds * 10.0).value_or(0); };
    m_view.setStartText(FormatTimeCode(m_range.start()));
    m_view.setEndText(FormatTimeCode(m_range.end()));
    m_view.setPositionSelStart(tenths(m_range.start()));
    const bool empty = m_range.isEmpty();
    m_view.setPositionSelLength(empty ? 0 : tenths(m_range.length()));
    m_view.setCutEnabled(m_fileOpen && !empty);
    m_view.setDurationLabel(QStringLiteral("Duration:") + FormatTimeCode(m_range.length()));
    m_shared.CutStartSeconds = m_range.start();
    m_shared.CutLengthSeconds = empty ? 0.0 : m_range.length();
}

void Playback::withFrameOnScreen(std::function<void(double)> use)
{
    m_frameQueries.push_back({ std::move(use), true });
    answerFrameQueries();
}

void Playback::afterFrameQueries(std::function<void()> action)
{
    m_frameQueries.push_back({ [action = std::move(action)](double) { action(); }, false });
    answerFrameQueries();
}

bool Playback::frameSettled()
{
    if (!m_stepsWait.isValid())
        m_stepsWait.start();
    if (m_shared.SourceHasVideo && m_shared.SourceIsRmvb)
        return !m_lookupPending || m_stepsWait.elapsed() >= kLookupWaitMs;
    if (m_player.pendingSteps() > 0 && m_stepsWait.elapsed() < kStepsWaitMs)
        return false;
    if (!m_seekPending)
        return true;
    if (!m_seekWait.isValid())
        m_seekWait.start();
    return m_seekWait.elapsed() >= kSeekWaitMs;
}

double Playback::knownFrameSeconds() const
{
    if (m_shared.SourceHasVideo && m_shared.SourceIsRmvb)
        return m_positionSeconds; // the frame found by the probe
    if (m_seekPending && m_targetKnown)
        return m_positionSeconds; // the seek's target: the frame the player is about to show
    const qint64 micros = m_player.currentPosition();
    return micros >= 0 ? Int64ToSeconds(micros) : m_positionSeconds;
}

void Playback::answerFrameQueries(bool force)
{
    // One at a time: a use may move the picture (a jump), and the next one then waits for that.
    if (m_answering)
        return;
    m_answering = true;
    while (!m_frameQueries.empty()) {
        const bool needsFrame = m_frameQueries.front().needsFrame;
        if (needsFrame && !force && !frameSettled())
            break;
        FrameQuery query = std::move(m_frameQueries.front());
        m_frameQueries.pop_front();
        m_stepsWait.invalidate();
        m_seekWait.invalidate();
        query.use(needsFrame ? knownFrameSeconds() : m_positionSeconds);
    }
    m_answering = false;
    if (m_frameQueries.empty())
        m_settleTimer.stop();
    else if (!m_settleTimer.isActive())
        m_settleTimer.start();
}

void Playback::seekTo(qint64 micros)
{
    // Uses asked for before this seek get the frame they were asked about, not its target.
    answerFrameQueries(true);
    m_player.seek(micros);
    m_positionSeconds = Int64ToSeconds(micros);
    m_seekPending = true;
    m_targetKnown = true;
}

void Playback::stepFrame(int direction)
{
    if (!fileOpen() || !m_view.offersPlay() || direction == 0)
        return;
    m_freezePositionUpdates = false;
    m_player.stepFrame(direction);
    m_seekPending = true;
    m_targetKnown = false; // the player tells where the frame is
}

void Playback::jump(double seconds)
{
    if (!fileOpen())
        return;
    m_freezePositionUpdates = false;
    withFrameOnScreen([this, seconds](double from) {
        if (!fileOpen())
            return;
        const double to = std::clamp(from + seconds, 0.0, Int64ToSeconds(m_durationMicros));
        const qint64 target = targetForSeconds(to);
        seekTo(target);
        showPositionSeconds(Int64ToSeconds(target));
        refreshStillFrame(target);
    });
}

void Playback::showPositionSeconds(double seconds)
{
    const double tenths = std::trunc(seconds * 10.0 + 1e-9);
    if (tenths < 0 || tenths > std::numeric_limits<int>::max())
        return;
    showPosition(int(tenths));
}

void Playback::probeOpenedFile(const QString &path, bool probed)
{
    // A probe that cannot answer leaves no picture size: never the previous file's.
    m_shared.SourceWidth = m_shared.SourceHeight = 0;
    if (probed) {
        const int video = m_probe.videoStreamIndex();
        m_shared.SourceWidth = std::max(0, m_probe.pictureWidth(video));
        m_shared.SourceHeight = std::max(0, m_probe.pictureHeight(video));
    }
    m_shared.SourceIsRmvb = path.right(5).toLower() == QLatin1String(".rmvb");
    // A probe that cannot answer counts as "has video": the picture options stay available.
    m_shared.SourceHasVideo = probed ? m_probe.videoStreamCount() > 0 : true;

    // Without a length or a size there is no estimate (0), never the previous file's.
    m_shared.SourceBitrateKbps = probed
        ? EstimateSourceBitrateKbps(m_probe.fileSize(), m_durationTenths,
                                    m_probe.audioStreamCount())
        : 0;
}

void Playback::onMediaOpened(qint64 durationMicros)
{
    if (m_restoring)
        return; // the same file again: its marks and values stay
    m_durationMicros = durationMicros;
    const double seconds = Int64ToSeconds(durationMicros);
    m_durationText = FormatTimeCode(seconds);
    if (const auto max = toInt(seconds * 10.0))
        m_view.setPositionMax(*max);
    m_view.setPositionLabel(QStringLiteral("00:00:00.0/") + m_durationText);
    m_durationTenths = seconds * 10.0;
    m_range.reset(seconds);
    m_positionSeconds = 0;
    m_seekPending = false;
    showRange();
}

void Playback::onPosition(qint64 micros)
{
    if (m_shared.SourceHasVideo && m_shared.SourceIsRmvb) {
        // RealMedia timestamps: show the start of the frame before the reported time. The
        // probe decodes from a key frame to find it, away from the UI thread; a newer position
        // replaces one still waiting for its turn.
        const quint64 lookup = ++m_frameLookup;
        m_lookupPending = true;
        m_probe.findFrameBefore(micros, [this, lookup, micros](qint64 frame, bool found) {
            onFrameFound(lookup, micros, frame, found);
        });
        return;
    }
    m_positionSeconds = Int64ToSeconds(micros);
    showReportedPosition(micros);
}

void Playback::onFrameFound(quint64 lookup, qint64 reportedMicros, qint64 frameMicros, bool found)
{
    if (lookup == m_frameLookup)
        m_lookupPending = false;
    if (!m_fileOpen || !m_shared.SourceIsRmvb)
        return; // the file has changed meanwhile
    // A frame the probe cannot find is shown at the player's time, never at zero.
    m_positionSeconds = Int64ToSeconds(found ? frameMicros : reportedMicros);
    showReportedPosition(reportedMicros);
}

void Playback::showReportedPosition(qint64 micros)
{
    m_seekPending = false;
    answerFrameQueries();
    if (m_freezePositionUpdates || micros <= 0 || m_durationMicros <= 0)
        return;
    const double tenths = std::trunc(m_positionSeconds * 10.0);
    if (tenths < std::numeric_limits<int>::min() || tenths > std::numeric_limits<int>::max())
        return;
    showPosition(int(tenths));
}

void Playback::showPosition(int tenths)
{
    m_view.setPositionValue(tenths);
    m_view.setPositionLabel(FormatTimeCode(tenths / 10.0) + QLatin1Char('/') + m_durationText);
}

void Playback::onStateChanged(int code)
{
    if (code == Player::StateVideoReady) {
        m_view.leaveTopmost();
        if (m_player.videoWindow())
            m_view.repaintVideo();
    } else if (code == Player::StateEnded) {
        m_player.seek(0);
        m_player.pause();
        m_view.setPositionValue(0);
        m_view.setOffersPlay(true);
    }
}

void Playback::playPause()
{
    if (m_opening)
        return;
    m_freezePositionUpdates = false;
    m_player.togglePause();
    m_view.setOffersPlay(m_player.isPaused());
}

void Playback::goToStart()
{
    if (m_opening)
        return;
    m_player.pause();
    m_freezePositionUpdates = true;
    seekTo(0);
    refreshStillFrame(0);
    m_player.pause();
    m_view.setOffersPlay(true);
    m_view.setPositionValue(m_view.positionMin());
    m_view.setPositionLabel(QStringLiteral("00:00:00.0/") + m_durationText);
}

void Playback::goToEnd()
{
    if (m_opening)
        return;
    m_player.pause();
    m_freezePositionUpdates = true;
    seekTo(m_durationMicros);
    m_player.pause();
    m_view.setOffersPlay(true);
    m_view.setPositionValue(m_view.positionMax());
    // The position is now the end: a mark set here must not take an older position.
    seekTo(m_durationMicros);
    m_view.setPositionLabel(m_durationText + QLatin1Char('/') + m_durationText);
}

void Playback::positionMouseDown(int button)
{
    Q_UNUSED(button);
    m_freezePositionUpdates = false;
}

qint64 Playback::targetForTenths(double tenths) const
{
    return targetForSeconds(tenths / 10.0);
}

qint64 Playback::targetForSeconds(double seconds) const
{
    if (!(seconds > 0))
        return 0;
    const double micros = seconds * 1e6;
    if (micros >= double(m_durationMicros))
        return m_durationMicros;
    return RoundHalfEven(micros);
}

void Playback::positionMouseUp(int button, double xTwips)
{
    if (button != 1 || m_opening)
        return;
    m_view.setBusy(true);
    // The slider's own mapping, so that the thumb and the picture agree.
    const int v = m_view.positionValueAt(xTwips);
    if (v >= 0 && v <= m_view.positionMax())
        m_view.setPositionValue(v);
    const int value = m_view.positionValue();
    if (m_view.positionMax() != 0) {
        const qint64 target = targetForTenths(value);
        seekTo(target);
        refreshStillFrame(target);
    }
    m_view.setBusy(false);
}

void Playback::refreshStillFrame(qint64 targetMicros)
{
    if (!m_shared.SourceHasVideo)
        return;
    const int state = m_player.stateCode();
    if (state != Player::StatePaused && state != Player::StateStopped)
        return;
    const bool wasMuted = m_player.isMuted();
    if (!wasMuted)
        m_player.setMuted(true);
    m_player.play();
    m_player.pause();
    // The player draws the frame a paused seek lands on: nothing has to be waited for here.
    seekTo(targetMicros);
    if (!wasMuted)
        m_player.setMuted(false);
}

void Playback::volumeClick()
{
    m_view.setVolumeSelLength(m_view.volumeValue());
}

void Playback::volumeMouseUp(int button, double xTwips)
{
    if (button != 1)
        return;
    m_view.setBusy(true);
    const int v = m_view.volumeValueAt(xTwips);
    if (v >= 0 && v <= 128)
        m_view.setVolumeValue(v);
    m_player.setVolume(m_view.volumeValue() & 0xff);
    m_view.setBusy(false);
    m_view.setVolumeSelLength(m_view.volumeValue());
}

void Playback::muteClick()
{
    if (m_player.isMuted()) {
        m_player.setMuted(false);
        m_view.setMutedPicture(false);
    } else {
        m_player.setMuted(true);
        m_view.setMutedPicture(true);
    }
}

void Playback::timerTick()
{
    const int paneWidth = m_view.videoPaneWidth();
    const int paneHeight = m_view.videoPaneHeight();
    if (paneWidth != m_player.displayWidth()) {
        m_player.setDisplayWidth(paneWidth);
    } else if (paneHeight != m_player.displayHeight()) {
        m_player.setDisplayHeight(paneHeight);
    } else if (m_player.pictureWidth() != m_player.displayWidth()) {
        m_player.setPictureWidth(m_player.displayWidth());
    } else if (m_player.pictureHeight() != m_player.displayHeight()) {
        m_player.setPictureHeight(m_player.displayHeight());
    } else {
        if (m_durationText.isEmpty())
            return;
        m_view.setPositionLabel(FormatTimeCode(m_view.positionValue() / 10.0) + QLatin1Char('/')
                                + m_durationText);
        m_view.setDurationLabel(QStringLiteral("Duration:") + FormatTimeCode(m_range.length()));
        return;
    }
    m_player.applySize();
}
