// The opt-out list: which texts are stop words, a STOP holding back everything queued to its sender however
// the number was written, the compose window passing over listed numbers, and an older file getting the list.
#include "EngineRig.h"
#include "TestRig.h"
#include "compose/frm_ComposeSMS.h"
#include "store/OptOutRepository.h"
#include "store/OutboxRepository.h"
#include "views/MessageTextEdit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;

class OptOutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noStopWordsStopsNothing();
    void stopWords_data();
    void stopWords();
    void stopHoldsBackEveryQueuedRow();
    void composeSkipsListedNumbers();
    void olderFileGetsTheList();
};

void OptOutTest::noStopWordsStopsNothing()
{
    TestRig rig;
    OptOutSettings s = ReadOptOutSettings(rig.db);
    s.stopWords.clear();
    WriteOptOutSettings(rig.db, s);
    // Saved without any word, the list stays empty rather than falling back to the default words.
    QCOMPARE(ReadOptOutSettings(rig.db).stopWords, QStringList{});
    QCOMPARE(int(ClassifyOptOutText(u"STOP"_s, ReadOptOutSettings(rig.db).stopWords)), int(OptOutRequest::None));
}

void OptOutTest::stopWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words"); // empty: the defaults
    QTest::addColumn<int>("request");
    const int none = int(OptOutRequest::None), stop = int(OptOutRequest::Stop), start = int(OptOutRequest::Start);
    QTest::newRow("STOP") << u"STOP"_s << QStringList{} << stop;
    QTest::newRow("lower case, blanks") << u"  stop \r\n"_s << QStringList{} << stop;
    QTest::newRow("mixed case unsubscribe") << u"UnSubscribe"_s << QStringList{} << stop;
    QTest::newRow("each default") << u"quit"_s << QStringList{} << stop;
    QTest::newRow("inside a longer text") << u"please stop"_s << QStringList{} << none;
    QTest::newRow("word with a tail") << u"STOP!"_s << QStringList{} << none;
    QTest::newRow("two words") << u"stop all"_s << QStringList{} << none;
    QTest::newRow("empty") << u"   "_s << QStringList{} << none;
    QTest::newRow("START") << u" Start "_s << QStringList{} << start;
    QTest::newRow("edited list: own word") << u"arrêt"_s << QStringList{u"ARRÊT"_s} << stop;
    QTest::newRow("edited list: default dropped") << u"STOP"_s << QStringList{u"ARRÊT"_s} << none;
}

void OptOutTest::stopWords()
{
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    QFETCH(int, request);
    TestRig rig;
    if (!words.isEmpty()) {
        OptOutSettings s = ReadOptOutSettings(rig.db);
        s.stopWords = words;
        WriteOptOutSettings(rig.db, s);
    }
    // As read back from the settings, the way reception reads them.
    QCOMPARE(int(ClassifyOptOutText(text, ReadOptOutSettings(rig.db).stopWords)), request);
}

void OptOutTest::stopHoldsBackEveryQueuedRow()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    rig.engine.Timer1.setEnabled(false);
    rig.engine.Timer2.setEnabled(false);
    OptOutSettings settings = ReadOptOutSettings(rig.db);
    settings.confirm = true;
    settings.confirmText = u"You will receive no more messages."_s;
    WriteOptOutSettings(rig.db, settings);

    // 500 rows to the one person, written four ways, and 20 to others (one shares the last digits but four).
    const QStringList spellings{u"+447700900123"_s, u"00447700900123"_s, u"07700900123"_s, u"+44 7700 900123"_s};
    for (int i = 0; i < 500; ++i)
        rig.queue(spellings[i % spellings.size()], u"offer %1"_s.arg(i));
    for (int i = 0; i < 20; ++i)
        rig.queue(u"+44770090%1"_s.arg(1000 + i), u"other %1"_s.arg(i));

    rig.sim.receiveSms(u"+447700900123"_s, u" Stop "_s);
    QVERIFY(rig.engine.ReceiveNow());
    QTRY_VERIFY(!rig.engine.receiving());
    QTRY_COMPARE(rig.db.count(u"SELECT count(*) FROM Message_InBox"_s), 1);
    QVERIFY(OptOutRepository(rig.db).contains(u"07700 900123"_s));
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'OPTED OUT'"_s), 500);
    QVERIFY(rig.log.text().contains(u"+447700900123 asked not to receive messages (STOP): added to the opt-out "
                                    "list. 500 waiting message(s) to it marked OPTED OUT."_s));
    // A second stop word neither answers again nor adds twice.
    rig.sim.receiveSms(u"+447700900123"_s, u"quit"_s);
    QVERIFY(rig.engine.ReceiveNow());
    QTRY_COMPARE(rig.db.count(u"SELECT count(*) FROM Message_InBox"_s), 2);
    QTRY_VERIFY(!rig.engine.receiving());
    // Queued after the last reception by another program: held back when the run takes it.
    rig.queue(u"0044-7700-900123"_s, u"late"_s);

    rig.deliver();
    QStringList toOthers, toListed;
    for (const ModemSimulator::SentMessage& m : rig.sim.sent())
        (OptOutKey(m.number) == u"700900123"_s ? toListed : toOthers) << m.text;
    QCOMPARE(toListed, QStringList{settings.confirmText});
    QCOMPARE(toOthers.size(), 20);
    QCOMPARE(rig.db.count(u"SELECT count(*) FROM Message_OutBox WHERE DeliveryStatus = 'OPTED OUT'"_s), 501);
    QCOMPARE(OptOutRepository(rig.db).count(), 1);
}

void OptOutTest::composeSkipsListedNumbers()
{
    TestRig rig;
    Engine engine{rig.state, rig.db, rig.log};
    OptOutRepository list(rig.db);
    QVERIFY(list.add(u"+447700900123"_s, rig.clock.now(), 1, u"STOP"_s));
    QVERIFY(list.add(u"07700900999"_s, rig.clock.now()));
    QVERIFY(!list.add(u"0044 7700 900999"_s, rig.clock.now())); // the same person
    QPointer<frm_ComposeSMS> window = new frm_ComposeSMS(engine);
    window->show();
    window->findChild<QLineEdit*>(u"MobileNumbers"_s)->setText(u"00447700900123,9888812121,+447700900999"_s);
    window->findChild<MessageTextEdit*>(u"Message"_s)->setText(u"hello"_s);
    QTest::mouseClick(window->findChild<QPushButton*>(u"Command1"_s), Qt::LeftButton);
    QCOMPARE(queryTexts(rig.db, u"SELECT RecipientMobileNo FROM Message_OutBox"_s), QStringList{u"9888812121"_s});
    QCOMPARE(rig.dialogs.messages(), QStringList{u"2 of the numbers are on the opt-out list and were not queued."_s});
    delete window.data();
}

void OptOutTest::olderFileGetsTheList()
{
    SKIP_ON_SERVER("upgrading a file of an older version");
    TestRig rig;
    const QString file = rig.db.filePath();
    OutboxRepository(rig.db).queueMessage(u"+447700900123"_s, u"queued before"_s, rig.clock.now());
    // The file as the previous version left it: no list, no settings for it, the Outbox without the mark.
    for (const QString& sql : {u"DROP TABLE OptOut"_s, u"ALTER TABLE Timer_setting DROP COLUMN OptOutWords"_s,
                               u"ALTER TABLE Timer_setting DROP COLUMN OptOutConfirm"_s,
                               u"ALTER TABLE Timer_setting DROP COLUMN OptOutConfirmText"_s,
                               u"ALTER TABLE Timer_setting DROP COLUMN OptOutStartRemoves"_s,
                               u"ALTER TABLE Message_OutBox DROP COLUMN OptOutReply"_s, u"PRAGMA user_version = 3"_s})
        rig.db.execute(sql);
    rig.db.close();
    rig.db.open(file);

    const OptOutSettings settings = ReadOptOutSettings(rig.db);
    QCOMPARE(settings.stopWords, OptOutSettings::DefaultStopWords());
    QVERIFY(!settings.confirm);
    QVERIFY(!settings.startRemoves);
    OptOutRepository list(rig.db);
    QCOMPARE(list.count(), 0);
    QVERIFY(list.add(u"+447700900123"_s, rig.clock.now(), 1, u"STOP"_s));
    QCOMPARE(list.optOutQueuedRows(u"07700900123"_s), 1);
    QCOMPARE(list.list().size(), 1);
    QCOMPARE(list.list().first().number, u"+447700900123"_s);
}

QTEST_MAIN(OptOutTest)
#include "tst_optout.moc"
