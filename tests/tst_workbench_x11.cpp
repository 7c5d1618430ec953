#include "avlogging.h"
#include "avprobe.h"
#include "ffmpegencoder.h"
#include "formconverting.h"
#include "formmain.h"
#include "formvideoformat.h"
#include "indexedmedia.h"
#include "mpvplayer.h"
#include "nasliders.h"
#include "playback.h"
#include "recordingmessagesink.h"
#include "segmentpanel.h"
#include "timelineview.h"
#include "workbench.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace MediaFixtures;

// The timeline and the segment list in the real window under Xvfb, with the real player and
// encoder: segments added with the keys, edited, cut joined or one file each, the saved frames
// (whose pictures carry their index) checked; the timeline's key frames against ffprobe's, the
// key-frame step and live scrubbing.
class TestWorkbenchX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void segmentsCutFromTheKeys_data();
    void segmentsCutFromTheKeys();
    void timelineFollowsTheFile();

private:
    struct Window;
    std::unique_ptr<Window> openWindow(const QString &input);

    QTemporaryDir m_dir;
    QMap<QString, QString> m_sources;
};

struct TestWorkbenchX11::Window
{
    RecordingMessageSink messages;
    std::unique_ptr<FormMain> form;
};

void TestWorkbenchX11::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    qputenv("XDG_CACHE_HOME", m_dir.filePath(QStringLiteral("cache")).toLocal8Bit());
    for (const char *name : { "clip.mp4", "clip.mkv" }) {
        m_sources[QLatin1String(name)]
            = IndexedMedia::make(QDir(m_dir.path()), QLatin1String(name));
        QVERIFY(!m_sources[QLatin1String(name)].isEmpty());
    }
}

std::unique_ptr<TestWorkbenchX11::Window> TestWorkbenchX11::openWindow(const QString &input)
{
    auto w = std::make_unique<Window>();
    FormMainParts parts;
    parts.player = new MpvPlayer(MpvPlayer::Options { false });
    parts.encoder = new FfmpegEncoder;
    parts.probe = std::make_unique<AvProbe>();
    parts.messages = &w->messages;
    parts.programFolder = m_dir.path();
    parts.chooseFile = [input](QWidget *, const QString &, const QStringList &) { return input; };
    parts.openUrl = [](const QUrl &) { return true; };
    w->form = std::make_unique<FormMain>(std::move(parts));
    if (!w->form->load())
        return nullptr;
    w->form->resize(800, 600);
    w->form->show();
    w->form->activateWindow(); // no window manager under Xvfb gives it the keyboard
    if (!QTest::qWaitForWindowActive(w->form.get()))
        return nullptr;
    QTest::mouseClick(w->form->findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    // The file opens in the background.
    auto *box = w->form->findChild<QLineEdit *>(QStringLiteral("EditStart"));
    if (!QTest::qWaitFor([&] { return box->isEnabled() && !w->form->playback().opening(); }, 20000))
        return nullptr;
    return w;
}

namespace {

// A key pressed and released on whatever has the focus, as the keyboard sends it.
void press(QWidget *window, const QString &spec)
{
    const QKeyCombination key = QKeySequence(spec)[0];
    for (QEvent::Type type : { QEvent::KeyPress, QEvent::KeyRelease }) {
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QKeyEvent event(type, key.key(), key.keyboardModifiers(), QString());
        QCoreApplication::sendEvent(target, &event);
    }
    QTest::qWait(200);
}

void type(QLineEdit *box, const QString &digits)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, digits);
}

// Every frame index of the ranges, in order: the first frame at or after each start to the last
// before each end.
QList<int> framesOf(const QList<std::pair<double, double>> &ranges, double offset)
{
    QList<int> frames;
    const int last = 10 * IndexedMedia::kRate - 1;
    for (const auto &[start, end] : ranges) {
        for (int f = IndexedMedia::firstFrameAt(start, offset);
             f <= std::min(IndexedMedia::lastFrameBefore(end, offset), last); ++f)
            frames << f;
    }
    return frames;
}

QString frameList(const QList<int> &frames)
{
    QStringList s;
    for (int f : frames)
        s << QString::number(f);
    return s.join(QLatin1Char(','));
}

} // namespace

// Steps: "seg S E" (type the marks S and E, digits as the boxes take them, then the S key),
// "delete N" (select the N-th segment, counting from 1, and press Delete), "key K", "remove"
// and "each" (the panel's choices). Then Ctrl+E and OK (direct exact copy when `copy`). The
// saved files are the expected ranges, one file or one each.
void TestWorkbenchX11::segmentsCutFromTheKeys_data()
{
    using Ranges = QList<std::pair<double, double>>;
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QList<Ranges>>("files");

    QTest::newRow("three added, one deleted, joined, exact copy")
        << "clip.mp4"
        << "seg 0000010 0000020; seg 0000032 0000044; seg 0000061 0000075; delete 2" << true
        << QList<Ranges> { { { 1.0, 2.0 }, { 6.1, 7.5 } } };
    QTest::newRow("two removed, joined, exact copy, Matroska")
        << "clip.mkv"
        << "seg 0000020 0000030; seg 0000055 0000060; remove" << true
        << QList<Ranges> { { { 0.0, 2.0 }, { 3.0, 5.5 }, { 6.0, 10.0 } } };
    QTest::newRow("deleted, then undone, one file each, converted")
        << "clip.mp4"
        << "seg 0000005 0000015; seg 0000042 0000050; seg 0000081 0000090; delete 1; "
           "key Ctrl+Z; each"
        << false << QList<Ranges> { { { 0.5, 1.5 } }, { { 4.2, 5.0 } }, { { 8.1, 9.0 } } };
}

void TestWorkbenchX11::segmentsCutFromTheKeys()
{
    using Ranges = QList<std::pair<double, double>>;
    QFETCH(QString, source);
    QFETCH(QString, steps);
    QFETCH(bool, copy);
    QFETCH(QList<Ranges>, files);
    const QString input = m_sources.value(source);
    const QString outDir = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(outDir));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       outDir + QStringLiteral("-store"));
    const auto w = openWindow(input);
    QVERIFY(w);
    FormMain &form = *w->form;
    QVERIFY(w->messages.messages.isEmpty());
    auto *editStart = form.findChild<QLineEdit *>(QStringLiteral("EditStart"));
    auto *editEnd = form.findChild<QLineEdit *>(QStringLiteral("EditEnd"));
    auto *table = form.findChild<QTableWidget *>(QStringLiteral("SegmentTable"));
    QVERIFY(table);
    auto *picture = form.findChild<QWidget *>(QStringLiteral("PicPlayer"));

    for (const QString &raw : steps.split(QLatin1Char(';'))) {
        const QStringList words = raw.trimmed().split(QLatin1Char(' '));
        const QString &verb = words.first();
        if (verb == QLatin1String("seg")) {
            type(editStart, words.at(1));
            type(editEnd, words.at(2));
            // A click on the picture leaves the box (applying it) and gives the keys back.
            QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(20, 20));
            const int before = table->rowCount();
            press(&form, QStringLiteral("S"));
            QCOMPARE(table->rowCount(), before + 1);
        } else if (verb == QLatin1String("delete")) {
            const int row = words.at(1).toInt() - 1;
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                              table->visualItemRect(table->item(row, 0)).center());
            QCOMPARE(table->currentRow(), row);
            const int before = table->rowCount();
            press(&form, QStringLiteral("Delete"));
            QCOMPARE(table->rowCount(), before - 1);
        } else if (verb == QLatin1String("key")) {
            press(&form, words.at(1));
        } else if (verb == QLatin1String("remove") || verb == QLatin1String("each")) {
            const char *name
                = verb == QLatin1String("remove") ? "optRemoveSegments" : "optOneFileEach";
            QTest::mouseClick(form.findChild<QRadioButton *>(QLatin1String(name)), Qt::LeftButton);
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + raw));
        }
    }
    if (!qEnvironmentVariable("SNIPORA_SCREENSHOTS").isEmpty())
        form.grab().save(qEnvironmentVariable("SNIPORA_SCREENSHOTS") + QLatin1Char('/')
                         + QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".png"));

    int saved = 0;
    bool okClicked = false;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (clock.elapsed() > 90000) {
            if (modal)
                modal->close();
            return;
        }
        if (auto *dialog = qobject_cast<FormVideoFormat *>(modal); dialog && !okClicked) {
            okClicked = true;
            dialog->model().setFolder(outDir);
            if (copy)
                dialog->model().option1Click();
            QTimer::singleShot(0, dialog, [dialog] {
                QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("BtnOK")),
                                  Qt::LeftButton);
            });
        } else if (auto *progress = qobject_cast<FormConverting *>(modal); progress
                   && progress->windowTitle() == QLatin1String("File Saved!")
                   && progress->property("counted").isNull()) {
            // One dialog covers every file, and finishes once, after the last.
            progress->setProperty("counted", true);
            ++saved;
            QTest::mouseClick(progress->findChild<QPushButton *>(QStringLiteral("BtnStop")),
                              Qt::LeftButton);
        }
    });
    watch.start(10);
    press(&form, QStringLiteral("Ctrl+E"));
    QTRY_VERIFY_WITH_TIMEOUT(okClicked && !QApplication::activeModalWidget(), 90000);
    watch.stop();
    QVERIFY2(w->messages.messages.isEmpty(), qPrintable(w->messages.messages.value(0).text));
    QCOMPARE(saved, 1); // one progress dialog for the whole run

    const QString base = QFileInfo(input).completeBaseName() + QStringLiteral("-cut");
    const QString extension = copy ? QFileInfo(input).suffix() : QStringLiteral("mp4");
    QStringList names;
    for (qsizetype k = 0; k < files.size(); ++k)
        names << (files.size() == 1 ? base : QStringLiteral("%1-%2").arg(base).arg(k + 1))
                + QLatin1Char('.') + extension;
    QStringList left = QDir(outDir).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    QCOMPARE(left, names);
    const double offset = IndexedMedia::videoOffset(input);
    for (qsizetype k = 0; k < files.size(); ++k) {
        const QString output = QDir(outDir).filePath(names.at(k));
        QCOMPARE(frameList(IndexedMedia::frameIndexes(output)),
                 frameList(framesOf(files.at(k), offset)));
        QString errors;
        QVERIFY2(decodesCleanly(output, &errors), qPrintable(errors));
    }
}

void TestWorkbenchX11::timelineFollowsTheFile()
{
    const QString input = m_sources.value(QStringLiteral("clip.mkv"));
    const auto w = openWindow(input);
    QVERIFY(w);
    FormMain &form = *w->form;
    auto *timeline = form.findChild<TimelineView *>(QStringLiteral("Timeline"));
    QVERIFY(timeline);
    QVERIFY(timeline->isVisible());

    // The ticks are the key-frame packets ffprobe lists, on the player's time axis.
    QByteArray out;
    QCOMPARE(run(QStringLiteral("ffprobe"),
                 { "-v", "error", "-select_streams", "v:0", "-show_entries",
                   "packet=pts_time,flags", "-of", "csv=p=0", input },
                 &out),
             0);
    QByteArray startOut;
    QCOMPARE(run(QStringLiteral("ffprobe"),
                 { "-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", input },
                 &startOut),
             0);
    const double fileStart = startOut.trimmed().toDouble();
    QList<qint64> expected;
    for (const QByteArray &line : out.trimmed().split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.value(1).startsWith('K'))
            expected << qint64(std::llround((fields.at(0).toDouble() - fileStart) * 1e6));
    }
    std::sort(expected.begin(), expected.end());
    auto text = [](const QList<qint64> &list) {
        QStringList s;
        for (qint64 t : list)
            s << QString::number(double(t) / 1e6, 'f', 3);
        return s.join(QLatin1Char(' '));
    };
    QTRY_COMPARE_WITH_TIMEOUT(text(timeline->keyFrames()), text(expected), 20000);
    QVERIFY(expected.size() >= 3);

    // Ctrl+Right from the start lands on the second key frame, Ctrl+Left goes back.
    press(&form, QStringLiteral("Ctrl+Right"));
    const qint64 second = timeline->keyFrames().at(1);
    QTRY_VERIFY(std::abs(form.player()->currentPosition() - second) < 2000);
    press(&form, QStringLiteral("Ctrl+Right"));
    QTRY_VERIFY(std::abs(form.player()->currentPosition() - timeline->keyFrames().at(2)) < 2000);
    press(&form, QStringLiteral("Ctrl+Left"));
    QTRY_VERIFY(std::abs(form.player()->currentPosition() - second) < 2000);
    auto *status = form.findChild<QLabel *>(QStringLiteral("StepStatus"));
    QVERIFY2(status->text().contains(QLatin1String("0.040 s"))
                 && status->text().contains(QLatin1String("1.28 s")),
             qPrintable(status->text()));

    // Dragging the slider's thumb moves the picture before the button is released.
    auto *slider = form.findChild<NaSlider *>(QStringLiteral("NaSlider1"));
    auto xOf = [&](int tenths) {
        for (int p = 0; p < slider->width(); ++p) {
            if (form.positionValueAt(p * 15.0) >= tenths)
                return p;
        }
        return -1;
    };
    const QPoint from(xOf(form.positionValue()), slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, from);
    for (int tenths : { 30, 50, 70, 80 }) {
        QMouseEvent move(QEvent::MouseMove, QPointF(xOf(tenths), from.y()),
                         slider->mapToGlobal(QPointF(xOf(tenths), from.y())), Qt::NoButton,
                         Qt::LeftButton, {});
        QCoreApplication::sendEvent(slider, &move);
        QTest::qWait(60);
    }
    // A fast seek lands on a key frame at or before the point: 6 s of the key frames at 0, 3, 6, 9.
    QTRY_VERIFY_WITH_TIMEOUT(form.player()->currentPosition() >= timeline->keyFrames().at(2) - 2000,
                             5000);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(xOf(80), from.y()));
    QTRY_VERIFY(std::abs(form.player()->currentPosition() - 8000000) < 41000);

    if (!qEnvironmentVariable("SNIPORA_SCREENSHOTS").isEmpty())
        form.grab().save(qEnvironmentVariable("SNIPORA_SCREENSHOTS")
                         + QStringLiteral("/timeline.png"));
}

QTEST_MAIN(TestWorkbenchX11)
#include "tst_workbench_x11.moc"
