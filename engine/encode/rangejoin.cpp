#include "rangejoin.h"

#include "timecode.h"

#include <cmath>

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

// Why these translations cannot be joined by a conversion.
Outcome joinRefusal(const QList<TranslatedOptions> &ranges)
{
    if (ranges.size() < 2)
        return Error { ErrorCode::BadRequest, QStringLiteral("Joining needs two ranges or more.") };
    for (const TranslatedOptions &r : ranges) {
        if (r.copiesVideo)
            return Error { ErrorCode::NotPossible,
                           QStringLiteral(
                               "Ranges joined by a conversion need the video encoded.") };
    }
    return {};
}

// The filter graph being built: each range's trimmed pieces, then their join.
struct JoinGraph
{
    bool video = false;
    qsizetype audioCount = 0; // the sound tracks joined, each on its own
    JoinStreams streams;
    QStringList audioFilters; // the job's own, applied after the join
    QStringList graph;
    QString pieces; // the labels the concat filter takes, in order
};

// The name of the j-th joined sound track's labels: none for the first.
QString audioSuffix(qsizetype j)
{
    return j == 0 ? QString() : QString::number(j);
}

// Adds each range as an input of its own, entered as its job would enter it, and its trimmed
// pieces to the graph. An error when a range's video is not trimmed.
Outcome addRangeInputs(const QString &inputUrl, const QList<TranslatedOptions> &ranges,
                       JoinGraph &g, QStringList &args)
{
    for (qsizetype k = 0; k < ranges.size(); ++k) {
        const TranslatedOptions &r = ranges.at(k);
        args << r.inputArgs << QStringLiteral("-i") << inputUrl;
        QStringList range = r.outputArgs;
        const QString chain = takeOption(&range, QStringLiteral("-vf"));
        const QString n = QString::number(k);
        if (g.video) {
            if (!chain.contains(QLatin1String("trim=")))
                return Error { ErrorCode::NotPossible,
                               QStringLiteral("The video of a range is not cut to its frames.") };
            g.graph << QStringLiteral("[%1:%3]%2[v%1]").arg(n, chain, g.streams.video);
            g.pieces += QStringLiteral("[v%1]").arg(n);
        }
        for (qsizetype j = 0; j < g.audioCount; ++j) {
            const QString piece
                = QStringLiteral("a%1%2").arg(n, j == 0 ? QString() : QStringLiteral("_%1").arg(j));
            g.graph << QStringLiteral("[%1:%2]%3[%4]")
                           .arg(n, g.streams.audio.at(j), audioTrim(r), piece);
            g.pieces += QStringLiteral("[%1]").arg(piece);
        }
    }
    return {};
}

// The concat filter over the pieces, the job's audio filters after it, and the maps.
void addJoin(const JoinGraph &g, qsizetype count, QStringList &args)
{
    QStringList graph = g.graph;
    const QString joined = QStringLiteral("%1concat=n=%2:v=%3:a=%4")
                               .arg(g.pieces)
                               .arg(count)
                               .arg(g.video ? 1 : 0)
                               .arg(g.audioCount);
    QString outputs = g.video ? QStringLiteral("[v]") : QString();
    for (qsizetype j = 0; j < g.audioCount; ++j)
        outputs += QStringLiteral("[ajoined%1]").arg(audioSuffix(j));
    graph << joined + outputs;
    for (qsizetype j = 0; j < g.audioCount; ++j)
        graph << QStringLiteral("[ajoined%2]%1[a%2]")
                     .arg(g.audioFilters.isEmpty() ? QStringLiteral("anull")
                                                   : g.audioFilters.join(QLatin1Char(',')),
                          audioSuffix(j));
    args << QStringLiteral("-filter_complex") << graph.join(QLatin1Char(';'));
    // The concat filter starts each piece where the longest stream of the one before ends: the
    // sound, by up to a frame. Frames keep those times instead of being repeated into the gap.
    if (g.video)
        args << QStringLiteral("-map") << QStringLiteral("[v]") << QStringLiteral("-fps_mode")
             << QStringLiteral("vfr");
    for (qsizetype j = 0; j < g.audioCount; ++j)
        args << QStringLiteral("-map") << QStringLiteral("[a%1]").arg(audioSuffix(j));
}

} // namespace

Result<RangeJoin> JoinRanges(const QString &inputUrl, const QList<TranslatedOptions> &ranges,
                             bool audio, const JoinStreams &streams)
{
    if (const Outcome refused = joinRefusal(ranges); !refused)
        return refused.error();
    RangeJoin join;
    // The output options of the first range without what each range sets for itself; the join
    // maps its own outputs.
    QStringList output = ranges.first().outputArgs;
    JoinGraph g;
    g.streams = streams;
    g.video = !output.contains(QLatin1String("-vn")) && !streams.video.isEmpty();
    const bool joinAudio
        = audio && !output.contains(QLatin1String("-an")) && !streams.audio.isEmpty();
    g.audioCount = joinAudio ? streams.audio.size() : 0;
    takeOption(&output, QStringLiteral("-map"));
    takeOption(&output, QStringLiteral("-vf"));
    g.audioFilters = userAudioFilters(takeOption(&output, QStringLiteral("-af")));
    takeOption(&output, QStringLiteral("-t"));
    takeOption(&output, QStringLiteral("-ss"));

    if (const Outcome added = addRangeInputs(inputUrl, ranges, g, join.args); !added)
        return added.error();
    addJoin(g, ranges.size(), join.args);
    join.args << output;
    return join;
}

QString ChapterMetadata(const QList<JoinChapter> &chapters)
{
    const auto escaped = [](const QString &text) {
        QString out;
        for (const QChar c : text) {
            if (c == QLatin1Char('=') || c == QLatin1Char(';') || c == QLatin1Char('#')
                || c == QLatin1Char('\\') || c == QLatin1Char('\n'))
                out += QLatin1Char('\\');
            out += c;
        }
        return out;
    };
    QString text = QStringLiteral(";FFMETADATA1\n");
    for (const JoinChapter &c : chapters) {
        const qint64 start = std::max<qint64>(0, qint64(std::llround(c.startSeconds * 1e6)));
        const qint64 end = std::max(start, qint64(std::llround(c.endSeconds * 1e6)));
        text += QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000000\nSTART=%1\nEND=%2\n")
                    .arg(start)
                    .arg(end);
        if (!c.title.isEmpty())
            text += QStringLiteral("title=") + escaped(c.title) + QLatin1Char('\n');
    }
    return text;
}

void AddJoinChapters(RangeJoin *join, qsizetype rangeCount, const QList<JoinChapter> &chapters)
{
    if (chapters.isEmpty())
        return;
    const QString url = QStringLiteral("data:text/plain;base64,")
        + QString::fromLatin1(ChapterMetadata(chapters).toUtf8().toBase64());
    // An input before the graph, after the ranges' inputs: the options that follow the graph
    // are the output's.
    qsizetype at = join->args.indexOf(QStringLiteral("-filter_complex"));
    if (at < 0)
        at = join->args.size();
    join->args = join->args.mid(0, at)
        + QStringList { QStringLiteral("-f"), QStringLiteral("ffmetadata"), QStringLiteral("-i"),
                        url }
        + join->args.mid(at);
    join->args << QStringLiteral("-map_chapters") << QString::number(rangeCount);
}
