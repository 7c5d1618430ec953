#include "appfolder.h"
#include "avlogging.h"
#include "avprobe.h"
#include "boxmessagesink.h"
#include "commandline.h"
#include "ffmpegencoder.h"
#include "formmain.h"
#include "mpvplayer.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QTimer>

#include <clocale>

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Snipora"));
    QApplication::setOrganizationName(QStringLiteral("Ferrolan Software"));
    QApplication::setApplicationVersion(QStringLiteral("8.0"));
    QApplication::setDesktopFileName(QStringLiteral("snipora"));
    // libmpv needs the C numeric locale; Qt sets the user's during QApplication's construction.
    std::setlocale(LC_NUMERIC, "C");

    const QString platform = QGuiApplication::platformName();
    MpvPlayer::Options playerOptions;
    playerOptions.headless
        = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");

    BoxMessageSink messages;
    FormMainParts parts;
    parts.player = new MpvPlayer(playerOptions);
    parts.encoder = new FfmpegEncoder;
    parts.probe = std::make_unique<AvProbe>();
    parts.messages = &messages;
    parts.programFolder = ResolveProgramFolder(QCoreApplication::applicationDirPath());
    parts.confirmLibrariesAfterShow = true;
    FormMain window(std::move(parts));
    if (!window.load())
        return 1; // the media library is missing; nothing is written
    window.show();
    // The encoder's check runs an ffmpeg process: it runs once the window is painted, off the
    // way to the window, and no input is handled before its answer. Without a working encoder
    // the program ends here as before.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!window.confirmLibraries())
        return 1;
    // A file named on the command line ("Open with" in a file manager) is opened once the
    // window is up, exactly as the Open command opens a chosen file.
    // The session ending (SIGTERM, SIGHUP) or Ctrl+C in a terminal ends the program as closing
    // its window does: a cut being saved stops and leaves no temporary file behind.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, [&window](int signal) {
        window.endSession();
        QCoreApplication::exit(128 + signal);
    });
    const QString file = FileToOpen(QCoreApplication::arguments().mid(1));
    if (!file.isEmpty())
        QTimer::singleShot(0, &window, [&window, file] { window.openFile(file); });
    return app.exec();
}
