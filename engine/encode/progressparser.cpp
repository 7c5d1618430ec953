#include "progressparser.h"

namespace {

qint64 numberOrUnknown(const QByteArray &value)
{
    bool ok = false;
    const qint64 v = value.trimmed().toLongLong(&ok);
    return ok ? v : -1;
}

} // namespace

QList<ProgressParser::Block> ProgressParser::feed(const QByteArray &data)
{
    QList<Block> blocks;
    m_pending += data;
    // A line longer than this is not progress output; dropping it keeps memory bounded.
    constexpr qsizetype kMaxLine = 4096;
    qsizetype start = 0;
    for (;;) {
        const qsizetype nl = m_pending.indexOf('\n', start);
        if (nl < 0)
            break;
        const QByteArray line = m_pending.mid(start, nl - start).trimmed();
        start = nl + 1;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        if (key == "total_size") {
            m_current.totalSize = numberOrUnknown(value);
        } else if (key == "out_time_us") {
            m_current.outTimeUs = numberOrUnknown(value);
        } else if (key == "progress") {
            m_current.end = value == "end";
            blocks << m_current;
            m_current = Block();
        }
    }
    m_pending.remove(0, start);
    if (m_pending.size() > kMaxLine)
        m_pending.clear();
    return blocks;
}
