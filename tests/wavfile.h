#pragma once

#include <QFile>
#include <QString>
#include <QtEndian>

#include <cmath>

// A mono 16-bit PCM WAV file of a 440 Hz tone: media that libavformat reads without any
// encoder, written by the test itself.
inline bool WriteWav(const QString &path, double seconds, int rate = 8000)
{
    const quint32 samples = quint32(std::lround(seconds * rate));
    QByteArray data;
    for (quint32 i = 0; i < samples; ++i) {
        const qint16 v = qint16(8000 * std::sin(2 * M_PI * 440 * i / rate));
        data.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
    }
    QByteArray head;
    const auto u32 = [&head](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        head.append(b, 4);
    };
    const auto u16 = [&head](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        head.append(b, 2);
    };
    head.append("RIFF");
    u32(36 + quint32(data.size()));
    head.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(quint32(rate));
    u32(quint32(rate) * 2);
    u16(2);
    u16(16);
    head.append("data");
    u32(quint32(data.size()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(head + data) == head.size() + data.size();
}
