// The longest stall of the user interface thread while a user works with a file in the real
// window (run under Xvfb): a timer on the UI thread ticks every 2 ms, and a stall is the time
// between two ticks less the interval. Each phase runs its actions from the event loop, as
// clicks and keys would, then waits for the window to settle; the table gives the longest stall
// of each phase in milliseconds.
//
// Usage: bench_stall FILE [RUNS]     prints "phase<TAB>median<TAB>max" lines

#include "appfolder.h"
#include "avprobe.h"
#include "ffmpegencoder.h"
#include "formmain.h"
#include "messagesink.h"
#include "mpvplayer.h"
#include "playback.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kTickMs = 2;

class QuietMessages final : public MessageSink
{
public:
    void showMessage(QWidget *, Icon, const QString &, const QString &text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    Answer askYesNo(QWidget *, const QString &, const QString &) override { return Answer::No; }
};

// The longest gap between ticks since the last reset, less the tick interval.
class StallProbe
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start(kTickMs);
        m_clock.start();
    }
    void reset()
    {
        m_last = m_clock.nsecsElapsed();
        m_longest = 0;
    }
    double longestMs() const { return std::max(0.0, m_longest / 1e6 - kTickMs); }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

struct Phase
{
    const char *name;
    std::function<void(FormMain &)> act;
    int settleMs;
};

void key(QWidget *target, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, code, modifiers);
    QKeyEvent release(QEvent::KeyRelease, code, modifiers);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

// The phases of one run, in order: each is scheduled from the event loop.
std::vector<Phase> phases(const QString &file)
{
    return {
        { "open", [file](FormMain &w) { w.openFile(file); }, 3000 },
        { "seek", [](FormMain &w) { w.playback().jump(30); }, 800 },
        { "scrub",
          [](FormMain &w) {
              // A drag over the slider: mouse down, twenty moves 40 ms apart, release.
              w.playback().positionMouseDown(1);
              for (int i = 1; i <= 20; ++i)
                  QTimer::singleShot(40 * i, &w,
                                     [&w, i] { w.setPositionValue(w.positionMax() * i / 40); });
              QTimer::singleShot(40 * 21, &w, [&w] {
                  w.playback().positionMouseUp(1, w.videoPaneWidth() * 15.0 * 0.6);
              });
          },
          2000 },
        { "step frames",
          [](FormMain &w) {
              for (int i = 0; i < 10; ++i)
                  QTimer::singleShot(60 * i, &w, [&w] { key(&w, Qt::Key_Right); });
          },
          1500 },
        { "step back", [](FormMain &w) { key(&w, Qt::Key_Left); }, 800 },
        { "play and pause",
          [](FormMain &w) {
              key(&w, Qt::Key_Space);
              QTimer::singleShot(1000, &w, [&w] { key(&w, Qt::Key_Space); });
          },
          2000 },
    };
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (argc < 2)
        return 2;
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QuietMessages messages;
    FormMainParts parts;
    parts.player = new MpvPlayer(MpvPlayer::Options { false });
    parts.encoder = new FfmpegEncoder;
    parts.probe = std::make_unique<AvProbe>();
    parts.messages = &messages;
    parts.programFolder = ResolveProgramFolder(QCoreApplication::applicationDirPath());
    FormMain window(std::move(parts));
    if (!window.load())
        return 1;
    window.resize(1280, 800);
    window.show();

    StallProbe probe;
    const std::vector<Phase> list = phases(file);
    std::vector<std::vector<double>> stalls(list.size());
    int run = 0;
    size_t at = 0;
    std::function<void()> next = [&] {
        if (at == list.size()) {
            at = 0;
            if (++run == runs) {
                app.quit();
                return;
            }
        }
        probe.reset();
        list[at].act(window);
        QTimer::singleShot(list[at].settleMs, &window, [&] {
            stalls[at].push_back(probe.longestMs());
            if (qEnvironmentVariableIsSet("STALL_EACH"))
                std::fprintf(stderr, "run %d\t%s\t%.1f\n", run + 1, list[at].name,
                             stalls[at].back());
            ++at;
            next();
        });
    };
    QTimer::singleShot(800, &window, next);
    app.exec();
    for (size_t i = 0; i < list.size(); ++i) {
        std::vector<double> s = stalls[i];
        std::sort(s.begin(), s.end());
        if (s.empty())
            continue;
        std::printf("%s\t%.1f\t%.1f\n", list[i].name, s[s.size() / 2], s.back());
    }
    return 0;
}
