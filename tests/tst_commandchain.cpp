#include "commandchain.h"

#include <QTest>

// The player's load and stop commands go to mpv one at a time, and of the wishes made while
// one is on its way only the last one is sent.
class TestCommandChain : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sequences_data();
    void sequences();
};

void TestCommandChain::sequences_data()
{
    // Steps: "load X" and "stop" are wishes, "reply N" is mpv's reply to the wish numbered N,
    // "refuse" makes mpv refuse the next command sent. Sent: what reached mpv, in order, as
    // "load X #N" / "stop #N"; refused: the commands told back as refused.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<bool>("busy");
    QTest::newRow("one load goes at once")
        << QStringList { "load a" } << QStringList { "load a #1" } << QStringList {} << true;
    QTest::newRow("the reply ends the chain's work")
        << QStringList { "load a", "reply 1" } << QStringList { "load a #1" } << QStringList {}
        << false;
    QTest::newRow("a stop waits for the load before it")
        << QStringList { "load a", "stop" } << QStringList { "load a #1" } << QStringList {}
        << true;
    QTest::newRow("and goes with its reply")
        << QStringList { "load a", "stop", "reply 1" } << QStringList { "load a #1", "stop #2" }
        << QStringList {} << true;
    QTest::newRow("a stop then a load while a load is on its way: the load alone")
        << QStringList { "load a", "stop", "load b", "reply 1", "reply 3" }
        << QStringList { "load a #1", "load b #3" } << QStringList {} << false;
    QTest::newRow("a close after an open: the stop alone")
        << QStringList { "stop", "load b", "stop", "reply 1" }
        << QStringList { "stop #1", "stop #3" } << QStringList {} << true;
    QTest::newRow("a reply given twice or to a wish never sent changes nothing")
        << QStringList { "load a", "reply 2", "stop", "reply 1", "reply 1", "load c" }
        << QStringList { "load a #1", "stop #2" } << QStringList {} << true;
    QTest::newRow("a refused command is told back and the chain stays free")
        << QStringList { "refuse", "load a", "load b" } << QStringList { "load b #2" }
        << QStringList { "load a #1" } << true;
    QTest::newRow("a refused waiting command lets none wait")
        << QStringList { "load a", "load b", "refuse", "reply 1", "stop" }
        << QStringList { "load a #1", "stop #3" } << QStringList { "load b #2" } << true;
}

void TestCommandChain::sequences()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, refused);
    QFETCH(bool, busy);
    QStringList sentNow;
    QStringList refusedNow;
    bool refuseNext = false;
    const auto text = [](const CommandChain::Command &c) {
        return (c.kind == CommandChain::Kind::Load ? QStringLiteral("load %1 ").arg(c.file.data())
                                                   : QStringLiteral("stop "))
            + QStringLiteral("#%1").arg(c.serial);
    };
    CommandChain chain(
        [&](const CommandChain::Command &c) {
            if (std::exchange(refuseNext, false))
                return false;
            sentNow << text(c);
            return true;
        },
        [&](const CommandChain::Command &c) { refusedNow << text(c); });
    for (const QString &step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        if (words[0] == QLatin1String("load"))
            chain.want(CommandChain::Kind::Load, words[1].toUtf8());
        else if (words[0] == QLatin1String("stop"))
            chain.want(CommandChain::Kind::Stop);
        else if (words[0] == QLatin1String("reply"))
            chain.replied(words[1].toULongLong());
        else
            refuseNext = true;
    }
    QCOMPARE(sentNow, sent);
    QCOMPARE(refusedNow, refused);
    QCOMPARE(chain.busy(), busy);
}

QTEST_GUILESS_MAIN(TestCommandChain)
#include "tst_commandchain.moc"
