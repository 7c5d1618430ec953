#include "copysource.h"

#include "nalunits.h"

#include <algorithm>
#include <cmath>

namespace {

// How far behind the latest video packet read a packet may be and still be a reordering.
constexpr double kBackwardsSeconds = 2.0;

} // namespace

QByteArray ExtradataOf(const AVCodecParameters *par)
{
    return QByteArray(reinterpret_cast<const char *>(par->extradata), par->extradata_size);
}

Outcome NotStopped(const std::atomic<bool> &cancel)
{
    if (!cancel.load())
        return {};
    return Error { ErrorCode::Stopped, QStringLiteral("The copy was stopped.") };
}

QList<QByteArray> CopySource::parameterSets() const
{
    const QByteArray extra = ExtradataOf(reader.videoStream()->codecpar);
    if (codec == AV_CODEC_ID_H264 && NalUnits::isConfigRecord(extra)) {
        const NalUnits::AvcConfig c = NalUnits::parseAvcConfig(extra);
        return c.sps + c.pps;
    }
    if (codec == AV_CODEC_ID_HEVC && NalUnits::isConfigRecord(extra))
        return NalUnits::parseHevcConfig(extra).units;
    QList<QByteArray> units;
    for (const QByteArray &u : NalUnits::split(extra, 0)) {
        const int type = codec == AV_CODEC_ID_H264 ? NalUnits::h264Type(u) : NalUnits::hevcType(u);
        if ((codec == AV_CODEC_ID_H264 && (type == NalUnits::H264Sps || type == NalUnits::H264Pps))
            || (codec == AV_CODEC_ID_HEVC && type >= NalUnits::HevcVps
                && type <= NalUnits::HevcPps))
            units << u;
    }
    return units;
}

bool CopySource::inOrder(qint64 t, qint64 *latest) const
{
    if (t == AV_NOPTS_VALUE)
        return true;
    const qint64 slack = av_rescale_q(qint64(kBackwardsSeconds * AV_TIME_BASE), AV_TIME_BASE_Q,
                                      reader.videoStream()->time_base);
    if (*latest != std::numeric_limits<qint64>::min() && t < *latest - slack)
        return false;
    *latest = std::max(*latest, t);
    return true;
}

void CopyProgress::report(double fraction, bool force)
{
    if (!m_progress)
        return;
    if (!force && m_clock.isValid() && m_clock.elapsed() < 100)
        return;
    m_clock.start();
    m_progress(m_writer.bytesWritten(),
               std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0);
}
