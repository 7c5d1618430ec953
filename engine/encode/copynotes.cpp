#include "copynotes.h"

#include "streamcopy.h"

QList<CopyNote> ClassifyCopyNotes(const QStringList &notes)
{
    // The copy's own openings of its notes (engine/cut), one per kind.
    static const std::pair<const char *, CopyNote::Kind> kOpenings[] = {
        { "Not cut to the frame", CopyNote::Kind::NotExact },
        { "Re-encoded ", CopyNote::Kind::StartReencoded },
        { "The copy starts on the key frame", CopyNote::Kind::KeyFrameStart },
        { "Left out", CopyNote::Kind::StreamLeftOut },
        { "The re-encoded frames", CopyNote::Kind::LevelHeld },
    };
    QList<CopyNote> sorted;
    for (const QString &note : notes) {
        CopyNote n { CopyNote::Kind::Other, note };
        for (const auto &[opening, kind] : kOpenings) {
            if (note.startsWith(QLatin1String(opening))) {
                n.kind = kind;
                break;
            }
        }
        sorted << n;
    }
    return sorted;
}

QString CopyStartNote(const QString &path, double startSeconds, bool exactWanted, double endSeconds)
{
    return DescribeCopyStart(PredictCopyStart(path, startSeconds, exactWanted, endSeconds));
}
