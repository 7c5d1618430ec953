// Peak memory of the program with a 1080p file open and playing for five seconds in its real
// window (run under Xvfb), the way a user would have it: the main window with the libmpv player,
// probe and encoder. Prints the peak resident set size in MiB.
//
// Usage: bench_memory FILE

#include "appfolder.h"
#include "avlogging.h"
#include "avprobe.h"
#include "ffmpegencoder.h"
#include "formmain.h"
#include "messagesink.h"
#include "mpvplayer.h"
#include "player.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <clocale>
#include <cstdio>

namespace {

class QuietMessages final : public MessageSink
{
public:
    void showMessage(QWidget *, Icon, const QString &, const QString &text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    Answer askYesNo(QWidget *, const QString &, const QString &) override { return Answer::No; }
};

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (argc < 2)
        return 2;
    const QString file = QString::fromLocal8Bit(argv[1]);
    QuietMessages messages;
    FormMainParts parts;
    parts.player = new MpvPlayer(MpvPlayer::Options { false });
    parts.encoder = new FfmpegEncoder;
    parts.probe = std::make_unique<AvProbe>();
    parts.messages = &messages;
    parts.programFolder = ResolveProgramFolder(QCoreApplication::applicationDirPath());
    parts.chooseFile = [&](QWidget *, const QString &, const QStringList &) { return file; };
    FormMain window(std::move(parts));
    if (!window.load())
        return 1;
    window.resize(1280, 800);
    window.show();
    QTimer::singleShot(500, [&] {
        // Play once the file is open: the open goes on from the event loop.
        QObject::connect(
            window.player(), &Player::openFinished, &window,
            [&] { window.findChild<QPushButton *>(QStringLiteral("btnPause"))->click(); },
            Qt::SingleShotConnection);
        window.findChild<QPushButton *>(QStringLiteral("btbOpen"))->click();
        QTimer::singleShot(5000, [&] {
            std::printf("%.1f\n", peakKiB() / 1024.0);
            app.quit();
        });
    });
    return app.exec();
}
