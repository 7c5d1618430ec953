// The segment panel as a user drives it: marks added with the button, a row selected moves
// the marks, Delete removes it, undo and redo walk back and forth, the choices read back, and
// the list goes out to CSV and comes back.

#include "segmentpanel.h"

#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

class TestSegmentPanel : public QObject
{
    Q_OBJECT

private slots:
    void editing()
    {
        SegmentPanel panel;
        panel.show();
        auto *add = panel.findChild<QPushButton *>(QStringLiteral("btnAddSegment"));
        auto *table = panel.findChild<QTableWidget *>(QStringLiteral("SegmentTable"));
        QVERIFY(add && table);
        QSignalSpy bands(&panel, &SegmentPanel::segmentsChanged);
        QSignalSpy marks(&panel, &SegmentPanel::marksChanged);
        for (const auto &[from, to] : { std::pair { 1.0, 2.0 }, { 4.0, 6.5 }, { 8.0, 9.0 } }) {
            panel.setMarks(from, to);
            QTest::mouseClick(add, Qt::LeftButton);
        }
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->item(1, 2)->text(), QStringLiteral("00:00:02.5"));
        QCOMPARE(bands.size(), 3);

        // Selecting the first row puts its range on the marks; Delete removes it.
        table->selectRow(0);
        QCOMPARE(marks.last(), (QList<QVariant> { 1.0, 2.0 }));
        QTest::keyClick(&panel, Qt::Key_Delete);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(panel.list().segments().first().start, 4.0);

        panel.undo();
        QCOMPARE(table->rowCount(), 3);
        panel.redo();
        QCOMPARE(table->rowCount(), 2);

        panel.findChild<QRadioButton *>(QStringLiteral("optRemoveSegments"))->click();
        panel.findChild<QRadioButton *>(QStringLiteral("optOneFileEach"))->click();
        QCOMPARE(panel.choice().use, SegmentUse::Remove);
        QVERIFY(panel.choice().oneFileEach);

        // The list goes out to CSV and comes back, labels included.
        table->item(0, 3)->setText(QStringLiteral("scene, one"));
        QCOMPARE(panel.list().segments().first().label, QStringLiteral("scene, one"));
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("list.csv"));
        QString error;
        QVERIFY(panel.exportCsv(csv, &error));
        const QList<Segment> saved = panel.list().segments();
        panel.reset(100);
        QCOMPARE(table->rowCount(), 0);
        QVERIFY(panel.importCsv(csv, &error));
        QCOMPARE(panel.list().segments(), saved);
    }

    void importRefusals_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("not a list") << QByteArray("hello\n1;2\n") << "Line 2 is not a segment";
        QTest::newRow("empty") << QByteArray() << "holds no segment";
        QTest::newRow("missing file") << QByteArray("-") << "Cannot read";
    }

    void importRefusals()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, sentence);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.csv"));
        if (content != "-") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        SegmentPanel panel;
        panel.setMarks(1, 2);
        panel.addSegment();
        QString error;
        QVERIFY(!panel.importCsv(path, &error));
        QVERIFY2(error.contains(sentence), qPrintable(error));
        QCOMPARE(panel.list().segments().size(), 1); // the list is left as it was
    }
};

QTEST_MAIN(TestSegmentPanel)
#include "tst_segmentpanel.moc"
