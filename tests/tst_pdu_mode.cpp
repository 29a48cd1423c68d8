// The PDU message format end to end, through the serial code and the simulated modem: long messages go as
// joined parts and a retry sends only the parts not confirmed; parts received in any order, across
// listings, become one Inbox message, and a part that never comes leaves a marked message after a day; a part
// the database cannot take stays on the SIM, and a joined part whose SIM copy stayed is not stored again;
// delivery reports, as +CDS lines or kept on the SIM, mark the Sent Items row; a window kept busy does not
// hold up a long message between its parts.
#include "EngineRig.h"
#include "modem/Pdu.h"

#include <QThread>
#include <QTimer>

namespace {

struct PduRig : EngineRig {
    bool connectPdu(bool reports = false)
    {
        saveModemSetting();
        WriteMessageFormat(db, QStringLiteral("PDU"));
        WriteDeliveryReports(db, reports);
        return connectAndWait() && sim.pduMode();
    }
    QString inbox() const
    {
        return const_cast<Database&>(db)
            .scalar(QStringLiteral("SELECT group_concat(Message, '|') FROM Message_InBox"))
            .toString();
    }
    QVariant outbox(const char* column)
    {
        return db.scalar(
            QStringLiteral("SELECT %1 FROM Message_OutBox ORDER BY Outbox_Id DESC LIMIT 1").arg(QLatin1String(column)));
    }
};

// A text of n characters with words, as people write long messages.
QString longText(int n)
{
    QString s;
    while (s.size() < n)
        s += QStringLiteral("Meeting moved to Friday at 10, bring the signed forms {and} the receipts. ");
    return s.left(n);
}

} // namespace

class PduModeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aLongMessageGoesJoinedAndARetrySendsOnlyWhatWasNotConfirmed();
    void partsComeTogetherInAnyOrderAndAMissingPartIsMarked();
    void deliveryReportsMarkTheSentRow();
    void aPartThatCannotBeStoredStaysOnTheSim();
    void aJoinedPartLeftOnTheSimIsNotStoredAgain();
    void aDeliveryReportMarksOnlyItsOwnRow_data();
    void aDeliveryReportMarksOnlyItsOwnRow();
    void aBusyWindowDoesNotHoldUpTheNextPart_data();
    void aBusyWindowDoesNotHoldUpTheNextPart();
};

void PduModeTest::aLongMessageGoesJoinedAndARetrySendsOnlyWhatWasNotConfirmed()
{
    PduRig rig;
    QVERIFY(rig.connectPdu());
    QVERIFY(rig.sim.commands().contains(QStringLiteral("AT+CMGF=0")));
    const QString text = longText(400) + QStringLiteral(" €");
    rig.queue(QStringLiteral("+919888812121"), text);
    rig.sim.failSends(ModemSimulator::SendFailure::None, 1);
    rig.sim.failSends(ModemSimulator::SendFailure::CmsError, 1, 38);
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(rig.outbox("PartsSent").toInt(), 1);
    QVERIFY(rig.outbox("DeliveryDatetime").isNull());

    rig.clock.advance(61 * 1000);
    rig.deliver();
    const auto sent = rig.sim.sent();
    QCOMPARE(sent.size(), 3);
    QString joined;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(sent[i].partNumber, i + 1);
        QCOMPARE(sent[i].partCount, 3);
        QCOMPARE(sent[i].partReference, sent[0].partReference);
        QCOMPARE(sent[i].number, QStringLiteral("+919888812121"));
        joined += sent[i].text;
    }
    QCOMPARE(joined, text);
    QCOMPARE(rig.outbox("DeliveryStatus").toString(), QStringLiteral("SENT"));
    QCOMPARE(rig.outbox("PartReferences").toString().split(',').size(), 3);

    // Store and deliver: each part written as a PDU, sent from the SIM, and removed.
    rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = 'STORE AND DELIVER'"));
    rig.sim.clearRecords();
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("Grüße ✓ 😀"));
    rig.deliver();
    QCOMPARE(rig.sim.sent().size(), 1);
    QCOMPARE(rig.sim.sent()[0].text, QStringLiteral("Grüße ✓ 😀"));
    QVERIFY(rig.sim.sent()[0].unicode);
    QTRY_VERIFY(rig.sim.simMessages().isEmpty());
}

void PduModeTest::partsComeTogetherInAnyOrderAndAMissingPartIsMarked()
{
    PduRig rig;
    QVERIFY(rig.connectPdu());
    const QString text = longText(420);
    const QDateTime sentOn(QDate(2026, 12, 5), QTime(18, 30), Qt::OffsetFromUTC, 3600);
    const QStringList parts = ModemSimulator::deliverPdus(QStringLiteral("+447700900123"), text, 77, sentOn);
    QCOMPARE(parts.size(), 3);

    rig.sim.storePdu(QStringLiteral("REC UNREAD"), parts[2]);
    rig.receive();
    QCOMPARE(rig.inbox(), QString());
    QTRY_VERIFY(rig.sim.simMessages().isEmpty()); // kept in the database, so deleted from the SIM
    rig.sim.storePdu(QStringLiteral("REC UNREAD"), parts[0]);
    rig.sim.storePdu(QStringLiteral("REC UNREAD"), parts[1]);
    rig.sim.storePdu(QStringLiteral("REC UNREAD"), parts[1]); // the network repeated a part
    rig.receive();
    QCOMPARE(rig.inbox(), text);
    QCOMPARE(Database::FromDbTime(rig.db.scalar(QStringLiteral("SELECT InboxDateTime FROM Message_InBox"))), sentOn);
    QTRY_VERIFY(rig.sim.simMessages().isEmpty());

    // Two parts of another message; the first never comes. After a day the second is stored, marked.
    const QStringList other = ModemSimulator::deliverPdus(QStringLiteral("+447700900123"), longText(200), 78);
    rig.sim.storePdu(QStringLiteral("REC UNREAD"), other[1]);
    rig.receive();
    rig.clock.advance(23 * 3600 * 1000);
    rig.receive();
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox")), 1);
    rig.clock.advance(2 * 3600 * 1000);
    rig.receive();
    QCOMPARE(rig.db.count(QStringLiteral("SELECT count(*) FROM Message_InBox")), 2);
    QVERIFY(rig.inbox().endsWith(QStringLiteral("[part 1 of 2 did not arrive]") + Pdu::decodeDeliver(other[1]).text));
    QVERIFY(rig.log.text().contains(QStringLiteral("is stored with 1 of them")));
}

void PduModeTest::deliveryReportsMarkTheSentRow()
{
    PduRig rig;
    QVERIFY(rig.connectPdu(true));
    rig.queue(QStringLiteral("9888812121"), QStringLiteral("Your parcel is ready"));
    rig.deliver();
    QVERIFY(rig.sim.sent()[0].reportRequested);
    rig.engine.timerRefreshHomePage.setEnabled(true); // its call watch reads what the modem says unasked
    QTRY_COMPARE(rig.outbox("ReportStatus").toString(), QStringLiteral("Delivered"));
    QVERIFY(!rig.outbox("ReportedAt").isNull());

    // Reports for the two parts of a long message: the service centre gave up; then one kept on the SIM
    // says the number is not in service.
    rig.queue(QStringLiteral("+919888812121"), longText(200));
    rig.sim.setReportStatus(0x62); // temporary error, the service centre has given up
    rig.deliver();
    QTRY_COMPARE(rig.outbox("ReportStatus").toString(), Pdu::statusText(0x62));
    const QString references = rig.outbox("PartReferences").toString();
    Pdu::StatusReportFields report;
    report.reference = references.section(',', 1, 1).toInt();
    report.recipient = QStringLiteral("+919888812121");
    report.serviceCentreTime = rig.clock.now();
    report.dischargeTime = rig.clock.now();
    report.status = 0x46; // permanent: the number is not in service
    rig.sim.storePdu(QStringLiteral("REC UNREAD"), Pdu::encodeStatusReport(report).pdu.hex);
    rig.receive();
    QCOMPARE(rig.outbox("ReportStatus").toString(), Pdu::statusText(0x46));
    QTRY_VERIFY(rig.sim.simMessages().isEmpty());
}

void PduModeTest::aPartThatCannotBeStoredStaysOnTheSim()
{
    PduRig rig;
    QVERIFY(rig.connectPdu());
    const QString text = longText(300);
    const QStringList parts = ModemSimulator::deliverPdus(QStringLiteral("+447700900123"), text, 90);
    for (const QString& part : parts)
        rig.sim.storePdu(QStringLiteral("REC UNREAD"), part);
    rig.db.execute(QStringLiteral("CREATE TRIGGER full BEFORE INSERT ON Message_Parts BEGIN SELECT RAISE(ABORT, "
                                  "'database or disk is full'); END"));
    rig.receive();
    QCOMPARE(rig.sim.simMessages().size(), parts.size());
    QVERIFY(rig.sim.commands().filter(QStringLiteral("AT+CMGD")).isEmpty());
    QVERIFY(rig.log.text().contains(QStringLiteral("could not be stored (database or disk is full)")));

    rig.db.execute(QStringLiteral("DROP TRIGGER full"));
    rig.receive();
    QCOMPARE(rig.inbox(), text);
    QTRY_VERIFY(rig.sim.simMessages().isEmpty());
}

void PduModeTest::aJoinedPartLeftOnTheSimIsNotStoredAgain()
{
    PduRig rig;
    QVERIFY(rig.connectPdu());
    const QString text = longText(300);
    const QStringList parts = ModemSimulator::deliverPdus(QStringLiteral("+447700900123"), text, 91);
    for (const QString& part : parts)
        rig.sim.storePdu(QStringLiteral("REC UNREAD"), part);
    // Once the listing is in, the modem refuses everything: the parts are joined, their copies stay.
    const auto refusing = QObject::connect(&rig.engine, &Engine::receptionProgress, [&rig](int importing, bool) {
        if (importing > 0)
            rig.sim.setErrorToEverything(true);
    });
    rig.receive();
    QObject::disconnect(refusing);
    rig.sim.setErrorToEverything(false);
    QCOMPARE(rig.inbox(), text);
    QCOMPARE(rig.sim.commands().filter(QStringLiteral("AT+CMGD")).size(), parts.size());
    QCOMPARE(rig.sim.simMessages().size(), parts.size());

    rig.receive();
    QCOMPARE(rig.inbox(), text); // once
    QTRY_VERIFY(rig.sim.simMessages().isEmpty());
}

void PduModeTest::aDeliveryReportMarksOnlyItsOwnRow_data()
{
    // Two Sent Items rows, the older first; one report kept on the SIM.
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<QStringList>("references");
    QTest::addColumn<QString>("reportedNumber");
    QTest::addColumn<int>("reportedReference");
    QTest::addColumn<QStringList>("statuses");
    QTest::newRow("references 1 and 12 to one number, a report for 1")
        << QStringList{"+919888812121", "+919888812121"} << QStringList{"1", "12"} << "+919888812121" << 1
        << QStringList{"Delivered", ""};
    QTest::newRow("references 12 and 1 to one number, a report for 1")
        << QStringList{"+919888812121", "+919888812121"} << QStringList{"12", "1"} << "+919888812121" << 1
        << QStringList{"", "Delivered"};
    QTest::newRow("one reference, numbers that differ in the 9th digit from the end")
        << QStringList{"+919888812121", "+919788812121"} << QStringList{"7", "7"} << "+919888812121" << 7
        << QStringList{"Delivered", ""};
    QTest::newRow("one reference, the number written nationally in the report")
        << QStringList{"+919788812121", "+919888812121"} << QStringList{"7", "7"} << "09888812121" << 7
        << QStringList{"", "Delivered"};
}

void PduModeTest::aDeliveryReportMarksOnlyItsOwnRow()
{
    QFETCH(QStringList, numbers);
    QFETCH(QStringList, references);
    QFETCH(QString, reportedNumber);
    QFETCH(int, reportedReference);
    QFETCH(QStringList, statuses);
    PduRig rig;
    QVERIFY(rig.connectPdu(true));
    for (qsizetype i = 0; i < numbers.size(); ++i)
        rig.db.execute(
            QStringLiteral("INSERT INTO Message_OutBox (RecipientMobileNo, Message, OutBoxDateTime, "
                           "DeliveryStatus, DeliveryDatetime, PartsSent, PartReferences) VALUES (?, 'Hi', "
                           "?, 'SENT', ?, 1, ?)"),
            {numbers[i], Database::DbTime(rig.clock.now()), Database::DbTime(rig.clock.now()), references[i]});
    Pdu::StatusReportFields report;
    report.reference = reportedReference;
    report.recipient = reportedNumber;
    report.serviceCentreTime = rig.clock.now();
    report.dischargeTime = rig.clock.now();
    rig.sim.storePdu(QStringLiteral("REC UNREAD"), Pdu::encodeStatusReport(report).pdu.hex);
    rig.receive();
    QCOMPARE(queryTexts(rig.db, QStringLiteral("SELECT coalesce(ReportStatus, '') FROM Message_OutBox ORDER BY "
                                               "Outbox_Id")),
             statuses);
}

void PduModeTest::aBusyWindowDoesNotHoldUpTheNextPart_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("direct delivery") << QStringLiteral("DIRECT DELIVER");
    QTest::newRow("store and deliver") << QStringLiteral("STORE AND DELIVER");
}

void PduModeTest::aBusyWindowDoesNotHoldUpTheNextPart()
{
    QFETCH(QString, mode);
    PduRig rig;
    QVERIFY(rig.connectPdu());
    rig.db.execute(QStringLiteral("UPDATE Timer_setting SET SMSDelevaryMode = ?"), {mode});
    rig.queue(QStringLiteral("+919888812121"), longText(400));
    // The window thread is busy (a long slot) from just after the run starts, for 4 s or until every part is
    // sent and kept: the modem goes on with the parts, each one's confirmation kept on the row before the next
    // is sent.
    qsizetype sentWhileBusy = -1;
    int recordedWhileBusy = -1;
    QTimer::singleShot(0, [&] {
        QElapsedTimer busy;
        busy.start();
        do {
            QThread::msleep(20);
            sentWhileBusy = rig.sim.sent().size();
            recordedWhileBusy = rig.outbox("PartsSent").toInt();
        } while ((sentWhileBusy < 3 || recordedWhileBusy < 3) && busy.elapsed() < 4000);
    });
    rig.deliver();
    QCOMPARE(sentWhileBusy, 3);
    QCOMPARE(recordedWhileBusy, 3);
    QCOMPARE(rig.outbox("DeliveryStatus").toString(), QStringLiteral("SENT"));
    QCOMPARE(rig.outbox("PartReferences").toString().split(',').size(), 3);
}

QTEST_MAIN(PduModeTest)
#include "tst_pdu_mode.moc"
