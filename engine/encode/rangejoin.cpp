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

} // namespace

RangeJoin JoinRanges(const QString &inputUrl, const QList<TranslatedOptions> &ranges, bool audio)
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
    const bool video = !output.contains(QLatin1String("-vn"));
    audio = audio && !output.contains(QLatin1String("-an"));
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
            graph << QStringLiteral("[%1:v:0]%2[v%1]").arg(n, chain);
            pieces += QStringLiteral("[v%1]").arg(n);
        }
        if (audio) {
            graph << QStringLiteral("[%1:a:0]%2[a%1]").arg(n, audioTrim(r));
            pieces += QStringLiteral("[a%1]").arg(n);
        }
    }
    const QString joined = QStringLiteral("%1concat=n=%2:v=%3:a=%4")
                               .arg(pieces)
                               .arg(ranges.size())
                               .arg(video ? 1 : 0)
                               .arg(audio ? 1 : 0);
    QString outputs = (video ? QStringLiteral("[v]") : QString())
        + (audio ? QStringLiteral("[ajoined]") : QString());
    graph << joined + outputs;
    if (audio)
        graph << QStringLiteral("[ajoined]%1[a]")
                     .arg(audioFilters.isEmpty() ? QStringLiteral("anull")
                                                 : audioFilters.join(QLatin1Char(',')));
    join.args << QStringLiteral("-filter_complex") << graph.join(QLatin1Char(';'));
    // The concat filter starts each piece where the longest stream of the one before ends: the
    // sound, by up to a frame. Frames keep those times instead of being repeated into the gap.
    if (video)
        join.args << QStringLiteral("-map") << QStringLiteral("[v]") << QStringLiteral("-fps_mode")
                  << QStringLiteral("vfr");
    if (audio)
        join.args << QStringLiteral("-map") << QStringLiteral("[a]");
    join.args << output;
    join.ok = true;
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
    if (!join->ok || chapters.isEmpty())
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
