#include "rangejoin.h"

#include "timecode.h"

namespace {

// The value of an output option and the arguments without it; "" when absent.
QString takeOption(QStringList *args, const QString &name)
{
    QString value;
    for (qsizetype i = 0; i + 1 < args->size();) {
        if (args->at(i) == name) {
            value = args->at(i + 1);
            args->remove(i, 2);
        } else {
            ++i;
        }
    }
    return value;
}

// The audio filters of a job other than its own trimming of the range.
QStringList userAudioFilters(const QString &chain)
{
    QStringList kept;
    for (const QString &f : chain.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!f.startsWith(QLatin1String("atrim=")) && !f.startsWith(QLatin1String("asetpts=")))
            kept << f;
    }
    return kept;
}

// The trim of one range's sound: from where its decoder skip ends, for its length.
QString audioTrim(const TranslatedOptions &range)
{
    QStringList bounds;
    if (range.decoderSkipSeconds > 0)
        bounds << QStringLiteral("start=") + NumberText(range.decoderSkipSeconds);
    if (range.lengthSeconds >= 0)
        bounds << QStringLiteral("end=")
                + NumberText(range.decoderSkipSeconds + range.lengthSeconds);
    if (bounds.isEmpty())
        return QStringLiteral("asetpts=PTS-STARTPTS");
    return QStringLiteral("atrim=") + bounds.join(QLatin1Char(':'))
        + QStringLiteral(",asetpts=PTS-STARTPTS");
}

} // namespace

RangeJoin JoinRanges(const QString &inputUrl, const QList<TranslatedOptions> &ranges, bool audio,
                     const JoinStreams &streams)
{
    RangeJoin join;
    if (ranges.size() < 2) {
        join.error = QStringLiteral("Joining needs two ranges or more.");
        return join;
    }
    for (const TranslatedOptions &r : ranges) {
        if (!r.ok) {
            join.error = r.error;
            return join;
        }
        if (r.copiesVideo) {
            join.error = QStringLiteral("Ranges joined by a conversion need the video encoded.");
            return join;
        }
    }
    QStringList output = ranges.first().outputArgs;
    const bool video = !output.contains(QLatin1String("-vn")) && !streams.video.isEmpty();
    audio = audio && !output.contains(QLatin1String("-an")) && !streams.audio.isEmpty();
    // The join maps its own outputs; the audio streams after the first get names of their own.
    const qsizetype audioCount = audio ? streams.audio.size() : 0;
    const auto suffix = [](qsizetype j) { return j == 0 ? QString() : QString::number(j); };
    takeOption(&output, QStringLiteral("-map"));
    takeOption(&output, QStringLiteral("-vf"));
    const QStringList audioFilters = userAudioFilters(takeOption(&output, QStringLiteral("-af")));
    takeOption(&output, QStringLiteral("-t"));
    takeOption(&output, QStringLiteral("-ss"));

    QStringList graph;
    QString pieces;
    for (qsizetype k = 0; k < ranges.size(); ++k) {
        const TranslatedOptions &r = ranges.at(k);
        join.args << r.inputArgs << QStringLiteral("-i") << inputUrl;
        QStringList range = r.outputArgs;
        const QString chain = takeOption(&range, QStringLiteral("-vf"));
        const QString n = QString::number(k);
        if (video) {
            if (!chain.contains(QLatin1String("trim="))) {
                join.error = QStringLiteral("The video of a range is not cut to its frames.");
                return join;
            }
            graph << QStringLiteral("[%1:%3]%2[v%1]").arg(n, chain, streams.video);
            pieces += QStringLiteral("[v%1]").arg(n);
        }
        for (qsizetype j = 0; j < audioCount; ++j) {
            const QString piece
                = QStringLiteral("a%1%2").arg(n, j == 0 ? QString() : QStringLiteral("_%1").arg(j));
            graph
                << QStringLiteral("[%1:%2]%3[%4]").arg(n, streams.audio.at(j), audioTrim(r), piece);
            pieces += QStringLiteral("[%1]").arg(piece);
        }
    }
    const QString joined = QStringLiteral("%1concat=n=%2:v=%3:a=%4")
                               .arg(pieces)
                               .arg(ranges.size())
                               .arg(video ? 1 : 0)
                               .arg(audioCount);
    QString outputs = video ? QStringLiteral("[v]") : QString();
    for (qsizetype j = 0; j < audioCount; ++j)
        outputs += QStringLiteral("[ajoined%1]").arg(suffix(j));
    graph << joined + outputs;
    for (qsizetype j = 0; j < audioCount; ++j)
        graph << QStringLiteral("[ajoined%2]%1[a%2]")
                     .arg(audioFilters.isEmpty() ? QStringLiteral("anull")
                                                 : audioFilters.join(QLatin1Char(',')),
                          suffix(j));
    join.args << QStringLiteral("-filter_complex") << graph.join(QLatin1Char(';'));
    // The concat filter starts each piece where the longest stream of the one before ends: the
    // sound, by up to a frame. Frames keep those times instead of being repeated into the gap.
    if (video)
        join.args << QStringLiteral("-map") << QStringLiteral("[v]") << QStringLiteral("-fps_mode")
                  << QStringLiteral("vfr");
    for (qsizetype j = 0; j < audioCount; ++j)
        join.args << QStringLiteral("-map") << QStringLiteral("[a%1]").arg(suffix(j));
    join.args << output;
    join.ok = true;
    return join;
}
