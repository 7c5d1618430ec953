#include "nasliders.h"
#include "propertybag.h"
#include "slidermath.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The sliders' model, persistence, painting and input. A position slider 600 px wide has a
// 16 px thumb: ThumbHalfWidth 120 twips, TrackLength 9000 - 240 = 8760 twips.
class TestSlider : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void valueClamping_data();
    void valueClamping();
    void maxBelowValueDoesNotReclamp();
    void setterReportsAndRepaints();
    void geometryOnResize();
    void persistenceRoundTrip();
    void persistenceDefaultsAndOrder();
    void persistenceNoClampOnLoad();
    void settingsBag();
    void paintThumbPosition();
    void paintBandBetweenMarkers();
    void paintSelectionPastMax();
    void paintEmptySelection();
    void paintDisabledThumb();
    void paintZeroMaxAndTicks();
    void paintVolumeFill();
    void mapping_data();
    void mapping();
    void clickMovesValue_data();
    void clickMovesValue();
    void eventOrder();
    void rightButtonDragIgnored();
    void dragRepaintsTwicePerMove();
    void doubleClickRaisesNoClick();
    void keys_data();
    void keys();

private:
    std::unique_ptr<NaSlider> positionSlider(int widthPx = 600)
    {
        auto s = std::make_unique<NaSlider>();
        s->resize(widthPx, 20);
        s->setShowTicks(false);
        s->setBackColor(0xF0F0F0);
        s->show();
        if (!QTest::qWaitForWindowExposed(s.get()))
            qWarning("slider window not exposed");
        return s;
    }
    static QColor at(const QImage &image, int x, int y) { return image.pixelColor(x, y); }
    static bool isBackground(const QColor &c) { return c == QColor(240, 240, 240); }
};

void TestSlider::valueClamping_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("stored");
    QTest::newRow("above max") << 0 << 1000 << 5000 << 1000;
    QTest::newRow("below min") << 0 << 1000 << -3 << 0;
    QTest::newRow("inside") << 0 << 1000 << 500 << 500;
    QTest::newRow("min above max gives min") << 50 << 10 << 30 << 50;
    QTest::newRow("min above max, high value") << 50 << 10 << 100 << 50;
}

void TestSlider::valueClamping()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, set);
    QFETCH(int, stored);
    NaSlider s;
    s.setMax(max);
    s.setMin(min);
    s.setValue(set);
    QCOMPARE(s.value(), stored);
}

void TestSlider::maxBelowValueDoesNotReclamp()
{
    auto s = positionSlider();
    s->setValue(800);
    QSignalSpy painted(s.get(), &SliderBase::painted);
    s->setMax(500);
    QCOMPARE(s->value(), 800);
    QCOMPARE(painted.count(), 0);
    s->setValue(s->value());
    QCOMPARE(s->value(), 500);
    QCOMPARE(painted.count(), 1);
}

void TestSlider::setterReportsAndRepaints()
{
    auto s = positionSlider();
    QSignalSpy changed(s.get(), &SliderBase::propertyChanged);
    QSignalSpy painted(s.get(), &SliderBase::painted);
    s->setSelStart(0); // unchanged value: still repaints
    s->setSelLength(0);
    QCOMPARE(painted.count(), 2);
    s->setMin(0);
    s->setTickNumber(5);
    s->setShowTicks(false);
    s->setSmallChange(0);
    s->setLargeChange(0);
    QCOMPARE(painted.count(), 2); // these never repaint
    s->setEnabled(false);
    s->setBackColor(0xFF);
    QStringList names;
    for (const auto &args : changed)
        names << args.first().toString();
    QCOMPARE(names,
             (QStringList { "SelStart", "SelLength", "Min", "TickNumber", "ShowTicks",
                            "SmallChange", "LargeChange", "Enabled", "BackColor" }));
}

void TestSlider::geometryOnResize()
{
    NaSlider position;
    position.show(); // a hidden widget hears of its size only when shown
    QVERIFY(QTest::qWaitForWindowExposed(&position));
    QSignalSpy resized(&position, &SliderBase::resized);
    position.resize(600, 20);
    QCOMPARE(position.thumbHalfWidth(), 120);
    QCOMPARE(position.trackLength(), 8760);
    QCOMPARE(resized.count(), 1);
    position.resize(600, 20); // no change of size: no resize
    QCOMPARE(resized.count(), 1);
    position.resize(10, 20); // narrower than its thumb
    QCOMPARE(position.trackLength(), 150 - 240);

    NaSlider1 volume;
    volume.resize(72, 13);
    volume.show();
    QVERIFY(QTest::qWaitForWindowExposed(&volume));
    QCOMPARE(volume.thumbHalfWidth(), 90);
    QCOMPARE(volume.trackLength(), 72 * 15 - 180);
}

void TestSlider::persistenceRoundTrip()
{
    NaSlider a;
    a.setMax(128);
    a.setValue(64);
    a.setSmallChange(0);
    a.setLargeChange(0);
    a.setShowTicks(false);
    a.setSelStart(10);
    a.setSelLength(100);
    a.setBackColor(0xF0F0F0);
    a.setEnabled(false);
    MemoryPropertyBag bag;
    a.saveProperties(bag);
    NaSlider b;
    b.loadProperties(bag);
    QCOMPARE(b.max(), 128);
    QCOMPARE(b.value(), 64);
    QCOMPARE(b.smallChange(), 0);
    QCOMPARE(b.largeChange(), 0);
    QVERIFY(!b.showTicks());
    QCOMPARE(b.selStart(), 10);
    QCOMPARE(b.selLength(), 100);
    QCOMPARE(b.backColor(), 0xF0F0F0u);
    QVERIFY(!b.isEnabled());
}

void TestSlider::persistenceDefaultsAndOrder()
{
    NaSlider fresh;
    fresh.initNewControl();
    MemoryPropertyBag saved;
    fresh.saveProperties(saved);
    // Defaults are not stored, except the button-face colour against the second default.
    QCOMPARE(saved.entries.size(), 1);
    QCOMPARE(saved.entries.first().first, QStringLiteral("BackColor"));
    QCOMPARE(saved.entries.first().second.toUInt(), SliderBase::SystemButtonFace);

    MemoryPropertyBag empty;
    NaSlider loaded;
    QSignalSpy changed(&loaded, &SliderBase::propertyChanged);
    loaded.loadProperties(empty);
    QCOMPARE(loaded.backColor(), 15916757u); // the second read's default, &HF2DED5
    const QStringList appearance { "BackColor", "ForeColor", "Enabled",
                                   "Font",      "BackStyle", "BorderStyle" };
    const QStringList scale { "Value", "Min",        "SmallChange", "LargeChange", "ShowTicks",
                              "Max",   "TickNumber", "SelStart",    "SelLength" };
    QCOMPARE(empty.readOrder, appearance + appearance + scale);
    // Keys compare without regard to case.
    MemoryPropertyBag mixed;
    mixed.entries = { { QStringLiteral("backcolor"), 255u }, { QStringLiteral("MAX"), 77 } };
    loaded.loadProperties(mixed);
    QCOMPARE(loaded.backColor(), 255u);
    QCOMPARE(loaded.max(), 77);
}

void TestSlider::persistenceNoClampOnLoad()
{
    MemoryPropertyBag bag;
    bag.entries = { { QStringLiteral("Value"), 5000 }, { QStringLiteral("Max"), 1000 } };
    NaSlider s;
    QSignalSpy painted(&s, &SliderBase::painted);
    s.loadProperties(bag);
    QCOMPARE(s.value(), 5000);
    QCOMPARE(s.max(), 1000);
}

void TestSlider::settingsBag()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    NaSlider1 a;
    a.setMax(128);
    a.setValue(128);
    a.setSelLength(128);
    a.setBackColor(0xF0F0F0);
    SettingsPropertyBag bag(settings, QStringLiteral("NaSliderVol"));
    a.saveProperties(bag);
    NaSlider1 b;
    b.loadProperties(bag);
    QCOMPARE(b.max(), 128);
    QCOMPARE(b.value(), 128);
    QCOMPARE(b.selLength(), 128);
    QCOMPARE(b.backColor(), 0xF0F0F0u);
    QVERIFY(!settings.contains(QStringLiteral("NaSliderVol/min"))); // a default is not stored
}

void TestSlider::paintThumbPosition()
{
    auto s = positionSlider();
    s->setValue(500);
    QCOMPARE(s->thumbLeft(), 4380);
    const QImage image = s->grab().toImage();
    // The thumb's 16 columns start at 4380 / 15 = 292 px; its top row is its widest.
    QVERIFY(!isBackground(at(image, 292 + 8, 1)));
    QVERIFY(at(image, 292 + 8, 1).blue() > 150);
    QVERIFY(at(image, 292 + 8, 1).red() < 150);
    QVERIFY(isBackground(at(image, 290, 1)));
    QVERIFY(isBackground(at(image, 309, 1)));
    s->setValue(1000);
    QCOMPARE(s->thumbLeft(), 8760); // its right edge at the control's right edge
    s->setValue(-10);
    QCOMPARE(s->thumbLeft(), 0);
}

void TestSlider::paintBandBetweenMarkers()
{
    auto s = positionSlider();
    s->setSelStart(200);
    s->setSelLength(400);
    const QImage image = s->grab().toImage();
    // xs = 200/1000*8760 + 120 = 1872 twips (124.8 px); xe = 5376 twips (358.4 px).
    const QColor band(1, 76, 182);
    QCOMPARE(at(image, 130, 12), band);
    QCOMPARE(at(image, 355, 12), band);
    QVERIFY(at(image, 120, 12) != band);
    QVERIFY(at(image, 362, 12) != band);
    // Markers at the bottom edge: the start marker ends at xs, the end marker begins at xe.
    QVERIFY(!isBackground(at(image, 123, 19)));
    QVERIFY(!isBackground(at(image, 359, 19)));
    QVERIFY(isBackground(at(image, 200, 19)));
}

void TestSlider::paintSelectionPastMax()
{
    auto s = positionSlider();
    s->setSelStart(900);
    s->setSelLength(200);
    const QImage image = s->grab().toImage();
    const QColor band(1, 76, 182);
    for (int x = 0; x < image.width(); ++x)
        QVERIFY(at(image, x, 12) != band);
    // xs = 900/1000*8760 + 120 = 8004 twips (533.6 px): the start marker is there.
    QVERIFY(!isBackground(at(image, 532, 19)));
    QVERIFY(isBackground(at(image, 560, 19)));
}

void TestSlider::paintEmptySelection()
{
    auto s = positionSlider();
    s->setSelStart(200);
    s->setSelLength(0);
    const QImage image = s->grab().toImage();
    const QColor band(1, 76, 182);
    for (int x = 0; x < image.width(); ++x)
        QVERIFY(at(image, x, 12) != band);
    QVERIFY(!isBackground(at(image, 123, 19))); // start marker left of xs = 124.8
    QVERIFY(!isBackground(at(image, 126, 19))); // end marker right of it
}

void TestSlider::paintDisabledThumb()
{
    auto s = positionSlider();
    s->setValue(500);
    s->setEnabled(false);
    const QImage image = s->grab().toImage();
    const QColor c = at(image, 300, 1);
    QVERIFY(!isBackground(c));
    QVERIFY(c.saturation() < 80); // greyed
}

void TestSlider::paintZeroMaxAndTicks()
{
    auto s = positionSlider();
    s->setMax(0);
    s->setSelLength(5);
    s->setValue(0);
    QImage image = s->grab().toImage();
    QVERIFY(!isBackground(at(image, 8, 1))); // thumb at 0
    QCOMPARE(at(image, 300, 10), QColor(157, 161, 166)); // the strip's outline row

    auto t = positionSlider();
    t->setShowTicks(true);
    t->setTickNumber(0);
    image = t->grab().toImage();
    int tickColumns = 0;
    for (int x = 0; x < image.width(); ++x)
        tickColumns += at(image, x, 14) == QColor(120, 120, 120) ? 1 : 0; // above the markers
    QCOMPARE(tickColumns, 1); // only the tick at the scale's start
    t->setTickNumber(10);
    image = t->grab().toImage();
    tickColumns = 0;
    for (int x = 0; x < image.width(); ++x)
        tickColumns += at(image, x, 14) == QColor(120, 120, 120) ? 1 : 0; // above the markers
    QCOMPARE(tickColumns, 11);
}

void TestSlider::paintVolumeFill()
{
    NaSlider1 s;
    s.resize(72, 13);
    s.setBackColor(0xF0F0F0);
    s.setShowTicks(false);
    s.setMax(128);
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
    s.setSelStart(50);
    s.setSelLength(64);
    s.setValue(64);
    const QImage image = s.grab().toImage();
    const QColor band(63, 111, 180);
    // Fill from the left edge to 64/128 of the track (900 twips = 60 px wide track).
    QCOMPARE(at(image, 1, 6), band);
    QCOMPARE(at(image, 25, 6), band);
    QVERIFY(at(image, 50, 6) != band);
}

void TestSlider::mapping_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("half");
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("value");
    QTest::newRow("middle") << 4500.0 << 0 << 1000 << 120 << 8760 << 500;
    QTest::newRow("left of the track") << 60.0 << 0 << 1000 << 120 << 8760 << 0;
    QTest::newRow("right end") << 9000.0 << 0 << 1000 << 120 << 8760 << 1000;
    QTest::newRow("half to even down") << 25.0 << 0 << 100 << 0 << 1000 << 2;
    QTest::newRow("half to even up") << 35.0 << 0 << 100 << 0 << 1000 << 4;
    QTest::newRow("zero track") << 500.0 << 0 << 1000 << 120 << 0 << 0;
    QTest::newRow("min pins") << 130.0 << 5 << 1000 << 120 << 8760 << 5;
}

void TestSlider::mapping()
{
    QFETCH(double, x);
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, half);
    QFETCH(int, track);
    QFETCH(int, value);
    QCOMPARE(SliderMath::xToValue(x, min, max, half, track), value);
}

void TestSlider::clickMovesValue_data()
{
    QTest::addColumn<int>("px");
    QTest::addColumn<int>("value");
    QTest::newRow("4500 twips") << 300 << 500;
    QTest::newRow("60 twips") << 4 << 0;
    QTest::newRow("right edge") << 599 << 1000;
}

void TestSlider::clickMovesValue()
{
    QFETCH(int, px);
    QFETCH(int, value);
    auto s = positionSlider();
    QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(px, 10));
    QCOMPARE(s->lastUpX(), px * 15);
    QCOMPARE(s->value(), value);
}

void TestSlider::eventOrder()
{
    auto s = positionSlider();
    QStringList order;
    connect(s.get(), &SliderBase::mouseDown, [&](int b, int, float x, float) {
        order << QStringLiteral("down %1 %2").arg(b).arg(x);
    });
    connect(s.get(), &SliderBase::mouseUp,
            [&](int b, int, float, float) { order << QStringLiteral("up %1").arg(b); });
    connect(s.get(), &SliderBase::clicked,
            [&] { order << QStringLiteral("click %1").arg(s->value()); });
    QTest::mousePress(s.get(), Qt::LeftButton, {}, QPoint(300, 10));
    QVERIFY(s->dragging());
    QCOMPARE(s->value(), 0); // a press does not move the value
    QTest::mouseRelease(s.get(), Qt::LeftButton, {}, QPoint(300, 10));
    QVERIFY(!s->dragging());
    QCOMPARE(order, (QStringList { "down 1 4500", "up 1", "click 500" }));
}

void TestSlider::rightButtonDragIgnored()
{
    auto s = positionSlider();
    QSignalSpy moves(s.get(), &SliderBase::mouseMove);
    QTest::mousePress(s.get(), Qt::RightButton, {}, QPoint(100, 10));
    QVERIFY(s->dragging());
    QMouseEvent rightMove(QEvent::MouseMove, QPointF(400, 10), s->mapToGlobal(QPointF(400, 10)),
                          Qt::NoButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(s.get(), &rightMove);
    QCOMPARE(moves.count(), 0);
    QCOMPARE(s->value(), 0);
    // Left and right together do move it.
    QMouseEvent bothMove(QEvent::MouseMove, QPointF(300, 10), s->mapToGlobal(QPointF(300, 10)),
                         Qt::NoButton, Qt::LeftButton | Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(s.get(), &bothMove);
    QCOMPARE(moves.count(), 1);
    QCOMPARE(moves.first().at(0).toInt(), 3);
    QCOMPARE(s->value(), 500);
}

void TestSlider::dragRepaintsTwicePerMove()
{
    auto s = positionSlider();
    QTest::mousePress(s.get(), Qt::LeftButton, {}, QPoint(10, 10));
    QSignalSpy painted(s.get(), &SliderBase::painted);
    QSignalSpy moves(s.get(), &SliderBase::mouseMove);
    QMouseEvent move(QEvent::MouseMove, QPointF(700, 10), s->mapToGlobal(QPointF(700, 10)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.get(), &move);
    QCOMPARE(painted.count(), 2);
    QCOMPARE(moves.count(), 1);
    QCOMPARE(s->value(), 1000); // past the right end: Max
    QMouseEvent back(QEvent::MouseMove, QPointF(-50, 10), s->mapToGlobal(QPointF(-50, 10)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.get(), &back);
    QCOMPARE(s->value(), 0);
}

void TestSlider::doubleClickRaisesNoClick()
{
    auto s = positionSlider();
    QSignalSpy clicks(s.get(), &SliderBase::clicked);
    QSignalSpy doubles(s.get(), &SliderBase::doubleClicked);
    QTest::mouseClick(s.get(), Qt::LeftButton, {}, QPoint(300, 10));
    QTest::mouseDClick(s.get(), Qt::LeftButton, {}, QPoint(300, 10));
    QCOMPARE(doubles.count(), 1);
    QCOMPARE(clicks.count(), 1);
}

void TestSlider::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("code");
    QTest::newRow("page down near max") << int(Qt::Key_PageDown) << 995 << 1000 << 34;
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 500 << 510 << 34;
    QTest::newRow("page up near min") << int(Qt::Key_PageUp) << 5 << 0 << 33;
    QTest::newRow("left at 0") << int(Qt::Key_Left) << 0 << 0 << 37;
    QTest::newRow("right") << int(Qt::Key_Right) << 10 << 11 << 39;
    QTest::newRow("home is not handled") << int(Qt::Key_Home) << 10 << 10 << 36;
    QTest::newRow("up is not handled") << int(Qt::Key_Up) << 10 << 10 << 38;
}

void TestSlider::keys()
{
    QFETCH(int, key);
    QFETCH(int, start);
    QFETCH(int, result);
    QFETCH(int, code);
    auto s = positionSlider();
    s->setValue(start);
    QSignalSpy painted(s.get(), &SliderBase::painted);
    QSignalSpy down(s.get(), &SliderBase::keyDown);
    QTest::keyClick(s.get(), Qt::Key(key));
    QCOMPARE(s->value(), result);
    QCOMPARE(down.count(), 1);
    QCOMPARE(down.first().first().toInt(), code);
    QVERIFY(painted.count() >= 1);
}

QTEST_MAIN(TestSlider)
#include "tst_slider.moc"
