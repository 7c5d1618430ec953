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

    if (!m_player.open(path)) {
        m_view.showPlainMessage(m_player.lastErrorText());
        // Whatever was open before is gone too: the pane, the controls and the values a
        // conversion reads all say "no file", so nothing of the old file can be cut by mistake.
        closeMedia();
        m_view.setBusy(false);
        return;
    }

    probeOpenedFile(path);

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

double Playback::frameOnScreenSeconds()
{
    if (m_shared.SourceHasVideo && m_shared.SourceIsRmvb)
        return m_positionSeconds; // the frame found by the probe
    // Frame steps still on their way (a key held down) land first, each a frame further; a
    // decode back from a distant key frame takes its time, so the wait is generous.
    for (int i = 0; m_player.pendingSteps() > 0 && i < 400; ++i)
        m_view.waitPumping(25);
    for (int i = 0; m_seekPending && i < 8; ++i)
        m_view.waitPumping(25);
    if (m_seekPending && m_targetKnown)
        return m_positionSeconds; // the seek's target: the frame the player is about to show
    const qint64 micros = m_player.currentPosition();
    return micros >= 0 ? Int64ToSeconds(micros) : m_positionSeconds;
}

void Playback::seekTo(qint64 micros)
{
    m_player.seek(micros);
    m_positionSeconds = Int64ToSeconds(micros);
    m_seekPending = true;
    m_targetKnown = true;
}

void Playback::stepFrame(int direction)
{
    if (!m_fileOpen || !m_view.offersPlay() || direction == 0)
        return;
    m_freezePositionUpdates = false;
    m_player.stepFrame(direction);
    m_seekPending = true;
    m_targetKnown = false; // the player tells where the frame is
}

void Playback::jump(double seconds)
{
    if (!m_fileOpen)
        return;
    m_freezePositionUpdates = false;
    const double from = frameOnScreenSeconds();
    const double to = std::clamp(from + seconds, 0.0, Int64ToSeconds(m_durationMicros));
    const qint64 target = targetForSeconds(to);
    seekTo(target);
    showPositionSeconds(Int64ToSeconds(target));
    refreshStillFrame(target);
}

void Playback::showPositionSeconds(double seconds)
{
    const double tenths = std::trunc(seconds * 10.0 + 1e-9);
    if (tenths < 0 || tenths > std::numeric_limits<int>::max())
        return;
    showPosition(int(tenths));
}

void Playback::probeOpenedFile(const QString &path)
{
    const bool probed = m_probe.open(path, QString());
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
        // RealMedia timestamps: show the start of the frame before the reported time.
        m_probe.positionAtTime(micros, 0);
        m_probe.step(-1);
        m_positionSeconds = Int64ToSeconds(m_probe.currentTime());
    } else {
        m_positionSeconds = Int64ToSeconds(micros);
    }
    m_seekPending = false;
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
    m_freezePositionUpdates = false;
    m_player.togglePause();
    m_view.setOffersPlay(m_player.isPaused());
}

void Playback::goToStart()
{
    m_player.pause();
    m_view.waitPumping(50);
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
    m_player.pause();
    m_view.waitPumping(50);
    m_freezePositionUpdates = true;
    seekTo(m_durationMicros);
    m_player.pause();
    m_view.setOffersPlay(true);
    m_view.setPositionValue(m_view.positionMax());
    m_view.waitPumping(50);
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
    if (button != 1)
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
    m_view.waitPumping(50);
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
