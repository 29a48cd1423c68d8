// What the user typed is what the recipient reads: texts go to the modem in the character set in use, or as
// UCS2 when they hold anything else; received texts are read back exactly; the settings' character set
// items name sets modems know. End to end through the real serial code; the simulator reads and writes
// bytes in the set the program selected, as a modem does.
#include "EngineRig.h"

namespace {

QStringList inboxTexts(Database& db)
{
    return queryTexts(db, QStringLiteral("SELECT Message FROM Message_InBox ORDER BY InBox_Id"));
}

QString longText()
{
    QString s;
    while (s.size() < 350)
        s += QStringLiteral("Meeting moved to Friday at 10, bring the signed forms and the receipts. ");
    return s.left(350);
}

} // namespace

Q_DECLARE_METATYPE(ModemSimulator::LengthUnit)

class CharsetsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textsReachTheNetworkAsTyped();
    void receivedTextsAreStoredExactly();
    void unicodeMessageListedInTextModeIsReadWhole_data();
    void unicodeMessageListedInTextModeIsReadWhole();
    void settingsItemsNameSetsTheModemHas_data();
    void settingsItemsNameSetsTheModemHas();
};

void CharsetsTest::textsReachTheNetworkAsTyped()
{
    EngineRig rig;
    QVERIFY(rig.connectModem());
    const QString plain = QStringLiteral("Price $5 @ café_1 ok");
    const QString unicode = QStringLiteral("Grüße ✓ 😀 €");
    const QString longUnicode = QString(140, QLatin1Char('x')) + QStringLiteral("✓");
    rig.queue(QStringLiteral("+919812345678"), plain);
    rig.queue(QStringLiteral("+919812345678"), unicode);
    rig.queue(QStringLiteral("+919812345678"), QStringLiteral("plain again"));
    rig.queue(QStringLiteral("+919812345678"), longUnicode);
    rig.deliver();

    const auto sent = rig.sim.sent();
    QCOMPARE(sent.size(), 6);
    QCOMPARE(sent[0].text, plain);
    QVERIFY(!sent[0].unicode);
    QVERIFY(rig.sim.rawInput().contains(Charset::encode(plain, Charset::Set::Gsm, false).bytes + '\x1a'));
    QCOMPARE(sent[1].text, unicode);
    QVERIFY(sent[1].unicode);
    QCOMPARE(sent[1].number, QStringLiteral("+919812345678"));
    QCOMPARE(sent[2].text, QStringLiteral("plain again"));
    QVERIFY(!sent[2].unicode);
    QCOMPARE(QStringList({sent[3].text, sent[4].text, sent[5].text}).join(QString()), longUnicode);
    QCOMPARE(sent[3].text.size(), 70);
    QCOMPARE(rig.sim.characterSet(), QStringLiteral("GSM"));
    QStringList settings;
    for (const QString& c : rig.sim.commands())
        if (c.startsWith(QLatin1String("AT+CSCS=\"")) || c.startsWith(QLatin1String("AT+CSMP=")))
            settings << c;
    QCOMPARE(settings.mid(0, 5), (QStringList{"AT+CSCS=\"GSM\"", "AT+CSCS=\"UCS2\"", "AT+CSMP=17,167,0,8",
                                              "AT+CSCS=\"GSM\"", "AT+CSMP=17,167,0,0"}));
}

void CharsetsTest::receivedTextsAreStoredExactly()
{
    EngineRig rig;
    const QString unicode = QStringLiteral("Grüße ✓ 😀");
    const QString gsm = QStringLiteral("Price $5 @ _ € [ok] {é}");
    // Sent from UTC-5: the listing's time stamp ends in "-20" (quarter hours).
    const QDateTime sentOn(QDate(2026, 12, 6), QTime(8, 0, 1), Qt::OffsetFromUTC, -5 * 3600);
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), unicode, true);
    rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919812345678"), gsm, false, sentOn);
    QVERIFY(rig.connectModem());
    rig.receive();
    QCOMPARE(inboxTexts(rig.db), (QStringList{unicode, gsm}));
    QCOMPARE(
        rig.db.scalar(QStringLiteral("SELECT InboxDateTime FROM Message_InBox WHERE Message = ?"), {gsm}).toString(),
        QStringLiteral("2026-12-06T13:00:01.000Z"));
}

void CharsetsTest::unicodeMessageListedInTextModeIsReadWhole_data()
{
    QTest::addColumn<ModemSimulator::LengthUnit>("unit");
    QTest::addColumn<bool>("writtenWithQuestionMarks");
    QTest::newRow("hex, length in UCS2 characters") << ModemSimulator::LengthUnit::Characters << false;
    QTest::newRow("hex, length in octets") << ModemSimulator::LengthUnit::Octets << false;
    QTest::newRow("hex, length in hex digits") << ModemSimulator::LengthUnit::HexDigits << false;
    // A modem that writes "?" for what its set lacks, and counts the text in UCS2 characters.
    QTest::newRow("? for each character, length in UCS2 characters") << ModemSimulator::LengthUnit::Characters << true;
}

void CharsetsTest::unicodeMessageListedInTextModeIsReadWhole()
{
    QFETCH(ModemSimulator::LengthUnit, unit);
    QFETCH(bool, writtenWithQuestionMarks);
    EngineRig rig;
    rig.sim.setLengthUnit(unit);
    QVERIFY(rig.connectModem());
    const QString hindi = QStringLiteral("नमस्ते, कैसे हो? 👍");
    const QString other = longText();
    if (writtenWithQuestionMarks)
        rig.sim.storeMessage(QStringLiteral("REC UNREAD"), QStringLiteral("+919000000001"), hindi);
    else
        rig.sim.receiveSms(QStringLiteral("+919000000001"), hindi);
    rig.sim.receiveSms(QStringLiteral("+919000000002"), other);
    rig.receive();
    QCOMPARE(inboxTexts(rig.db),
             (QStringList{writtenWithQuestionMarks ? QStringLiteral("??????, ???? ??? ?") : hindi, other}));
    QVERIFY(rig.log.text().contains(QStringLiteral("Received total 2 new SMS.")));
}

void CharsetsTest::settingsItemsNameSetsTheModemHas_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("used");
    const auto row = [](const char* name, const char* item, const char* used) {
        QTest::newRow(name) << QString(item) << QString(used);
    };
    row("GSM", "GSM", "GSM");
    row("ASCII is IRA", "ASCII", "IRA");
    row("CDMA is IRA", "CDMA", "IRA");
    row("ANSI (8859-1), which this modem lacks: GSM", "ANSI", "GSM");
}

void CharsetsTest::settingsItemsNameSetsTheModemHas()
{
    QFETCH(QString, item);
    QFETCH(QString, used);
    EngineRig rig;
    rig.sim.setCharacterSets({QStringLiteral("GSM"), QStringLiteral("IRA"), QStringLiteral("UCS2")});
    rig.saveModemSetting();
    rig.db.execute(QStringLiteral("UPDATE ModemSetting SET CharacterSet = ?"), {item});
    QVERIFY(rig.connectAndWait());
    QCOMPARE(rig.sim.characterSet(), used);
    QVERIFY(rig.log.text().contains(QStringLiteral("] : Character set in use: ") + used));
    QCOMPARE(ReadModemSetting(rig.db)->CharacterSet.toString(), item); // the stored choice stays
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("Price $5 @ ok"));
    rig.deliver();
    QCOMPARE(rig.sim.sent().first().text, QStringLiteral("Price $5 @ ok"));
}

QTEST_GUILESS_MAIN(CharsetsTest)
#include "tst_charsets.moc"
