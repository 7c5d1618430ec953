#pragma once

#include <QByteArray>
#include <QList>

// Reads the key=value blocks that "ffmpeg -progress pipe:1" writes. Each block ends with a
// "progress=continue" or "progress=end" line. Data may arrive in arbitrary pieces.
class ProgressParser
{
public:
    struct Block
    {
        qint64 totalSize = -1; // bytes written so far, -1 when N/A
        qint64 outTimeUs = -1; // output position in microseconds, -1 when N/A
        bool end = false; // the last block of the run
    };

    // Feeds more output; returns the blocks completed by it.
    QList<Block> feed(const QByteArray &data);

private:
    QByteArray m_pending;
    Block m_current;
};
