// A modem's health as the link reads it: the answers to AT+CSQ, AT+CREG?, AT+COPS?, AT+CIMI and AT+CCID as real
// modems give them, the unsolicited +CREG line, the health poll as a request of the link (replayed from
// transcripts), AT+CMMS=2 before submissions, and the modem's own announcements (+CMTI, RING, +CLIP, +CREG)
// reaching the link's users while no request runs.
#include "SimulatorLine.h"
#include "TestRig.h"
#include "Transcript.h"
#include "modem/HealthParse.h"
#include "modem/ModemLink.h"
#include "tools/ModemSimulator.h"

#include <optional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(ModemHealth::Registration)
Q_DECLARE_METATYPE(Unsolicited::Kind)

namespace {

using Reg = ModemHealth::Registration;

// A modem link on the in-memory line, to a replayed transcript or to the simulator as COM3, with what it says
// kept: unsolicited lines, failures, log lines.
struct LinkRig : TestRig {
    std::unique_ptr<Replay> replay;
    std::unique_ptr<ModemSimulator> sim;
    std::unique_ptr<SimulatorLine> simLine;
    ModemLink link;
    QList<Unsolicited> heard;
    QList<LinkError> failures;
    QStringList logged;

    explicit LinkRig(const QString& transcript)
        : TestRig(false), replay(std::make_unique<Replay>(transcript)), link(state, nullptr, replay->plumbing())
    {
        listen();
    }
    LinkRig()
        : TestRig(false), sim(std::make_unique<ModemSimulator>()), simLine(std::make_unique<SimulatorLine>(*sim, 3)),
          link(state, nullptr, simLine->plumbing())
    {
        listen();
    }
    void listen()
    {
        QObject::connect(&link, &ModemLink::unsolicited, [this](const Unsolicited& u) { heard << u; });
        link.failed = [this](const LinkError& e) { failures << e; };
        link.writeLog = [this](const QString& line) { logged << line; };
    }
    // The transcript was followed to its end.
    QString replayed() const
    {
        if (!replay->player.failure().isEmpty())
            return replay->player.failure();
        return replay->player.atEnd() ? QString() : QStringLiteral("still expected: ") + replay->player.nextCommand();
    }

    // Runs work as a request of the link and waits for its result.
    template <class R> std::optional<R> run(ModemLink::Work kind, std::function<R(ModemRoutines&)> work)
    {
        std::optional<R> result;
        link.request<R>(kind, std::move(work), nullptr, [&](const R& r) { result = r; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
            return std::nullopt;
        return result;
    }

    bool connectModem(bool callerId = false)
    {
        ConnectRequest request;
        request.port = 3;
        request.settings = QStringLiteral("115200,N,8,1");
        request.flowControl = QStringLiteral("0");
        request.characterSet = QStringLiteral("GSM");
        request.callerId = callerId;
        const auto r =
            run<ConnectResult>(ModemLink::Work::Connect, [request](ModemRoutines& m) { return m.Connect(request); });
        return r && r->ready;
    }

    bool closePort()
    {
        return run<CommandResult>(ModemLink::Work::Query,
                                  [](ModemRoutines& m) {
                                      m.CloseComPort();
                                      return CommandResult{};
                                  })
            .has_value();
    }

    // Asks for a submission; its result arrives in *into.
    void submit(const QString& number, const QString& text, std::optional<SubmitResult>* into)
    {
        link.request<SubmitResult>(
            ModemLink::Work::Submission, [number, text](ModemRoutines& m) { return m.SendSMSDirect(number, text); },
            nullptr, [into](const SubmitResult& r) { *into = r; });
    }
};

} // namespace

class ModemHealthTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void signalQuality_data();
    void signalQuality();
    void registration_data();
    void registration();
    void operatorName_data();
    void operatorName();
    void simIdentity_data();
    void simIdentity();
    void healthPollOfTheLink();
    void relayLinkBeforeSubmissions_data();
    void relayLinkBeforeSubmissions();
    void announcementsBetweenRequests_data();
    void announcementsBetweenRequests();
};

void ModemHealthTest::signalQuality_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("rssi");
    QTest::addColumn<int>("ber");
    QTest::addColumn<int>("dbm");
    QTest::newRow("SIM800, echo on") << u"AT+CSQ\r\r\n+CSQ: 18,0\r\n\r\nOK\r\n"_s << true << 18 << 0 << -77;
    QTest::newRow("Huawei E173, ber not known") << u"\r\n+CSQ: 31,99\r\n\r\nOK\r\n"_s << true << 31 << 99 << -51;
    QTest::newRow("no signal") << u"\r\n+CSQ: 99,99\r\n\r\nOK\r\n"_s << true << 99 << 99 << 0;
    QTest::newRow("weakest") << u"\r\n+CSQ: 0,7\r\n\r\nOK\r\n"_s << true << 0 << 7 << -113;
    QTest::newRow("no blank after the colon") << u"\r\n+CSQ:12,3\r\n\r\nOK\r\n"_s << true << 12 << 3 << -89;
    QTest::newRow("out of 27.007's range (a TD-SCDMA value)")
        << u"\r\n+CSQ: 115,99\r\n\r\nOK\r\n"_s << true << 99 << 99 << 0;
    QTest::newRow("the supported values (AT+CSQ=?)")
        << u"\r\n+CSQ: (0-31,99),(0-7,99)\r\n\r\nOK\r\n"_s << false << 99 << 99 << 0;
    QTest::newRow("refused") << u"\r\nERROR\r\n"_s << false << 99 << 99 << 0;
}

void ModemHealthTest::signalQuality()
{
    QFETCH(QString, answer);
    QFETCH(bool, read);
    QFETCH(int, rssi);
    QFETCH(int, ber);
    QFETCH(int, dbm);
    const auto q = ParseSignalQuality(answer);
    QCOMPARE(q.has_value(), read);
    ModemHealth h;
    if (q) {
        h.rssi = q->rssi;
        h.ber = q->ber;
    }
    QCOMPARE(h.rssi, rssi);
    QCOMPARE(h.ber, ber);
    QCOMPARE(h.dbm(), dbm);
}

void ModemHealthTest::registration_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("read");
    QTest::addColumn<bool>("unsolicited");
    QTest::addColumn<int>("presentation");
    QTest::addColumn<Reg>("registration");
    QTest::addColumn<QString>("lac");
    QTest::addColumn<int>("act");
    QTest::addColumn<bool>("registered");
    const auto row = [](const char* name, const char* line, bool read, bool unsolicited, int presentation, Reg reg,
                        const char* lac, int act, bool registered) {
        QTest::newRow(name) << QByteArray(line) << read << unsolicited << presentation << reg
                            << QString::fromLatin1(lac) << act << registered;
    };
    row("answer, home", "+CREG: 0,1", true, false, 0, Reg::Home, "", -1, true);
    row("answer, searching", "+CREG: 0,2", true, false, 0, Reg::Searching, "", -1, false);
    row("answer with location (n=2)", "+CREG: 2,5,\"00C3\",\"0010AB2C\"", true, false, 2, Reg::Roaming, "00C3", -1,
        true);
    row("answer with location and AcT", "+CREG: 2,1,\"1F00\",\"79D903\",7", true, false, 2, Reg::Home, "1F00", 7, true);
    row("answer with reject cause (n=3)", "+CREG: 3,3,\"\",\"\",0,0,15", true, false, 3, Reg::Denied, "", 0, false);
    row("answer, LTE module, SMS only", "+CREG: 0,6", true, false, 0, Reg::HomeSmsOnly, "", -1, true);
    row("answer, blanks after the commas", "+CREG: 1, 5", true, false, 1, Reg::Roaming, "", -1, true);
    row("unsolicited (n=1)", "+CREG: 1", true, true, -1, Reg::Home, "", -1, true);
    row("unsolicited, lost", "+CREG: 0", true, true, -1, Reg::NotRegistered, "", -1, false);
    row("unsolicited with location (n=2)", "+CREG: 5,\"00C3\",\"0010AB2C\"", true, true, -1, Reg::Roaming, "00C3", -1,
        true);
    row("unsolicited with location and AcT", "+CREG: 1,\"1F00\",\"79D903\",7", true, true, -1, Reg::Home, "1F00", 7,
        true);
    row("unsolicited with AcT, location left out", "+CREG: 2,,,7", true, true, -1, Reg::Searching, "", 7, false);
    row("state 27.007 does not define", "+CREG: 0,90", true, false, 0, Reg::Unknown, "", -1, false);
    row("the supported values (AT+CREG=?)", "+CREG: (0-2)", false, false, -1, Reg::Unknown, "", -1, false);
    row("packet domain", "+CGREG: 0,1", false, false, -1, Reg::Unknown, "", -1, false);
}

void ModemHealthTest::registration()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, read);
    QFETCH(bool, unsolicited);
    QFETCH(int, presentation);
    QFETCH(Reg, registration);
    QFETCH(QString, lac);
    QFETCH(int, act);
    QFETCH(bool, registered);
    const auto r = ParseRegistrationLine(line);
    QCOMPARE(r.has_value(), read);
    if (r) {
        QCOMPARE(r->unsolicited, unsolicited);
        QCOMPARE(r->presentation, presentation);
        QCOMPARE(r->registration, registration);
        QCOMPARE(r->lac, lac);
        QCOMPARE(r->accessTechnology, act);
        ModemHealth h;
        h.registration = r->registration;
        QCOMPARE(h.registered(), registered);
        // The whole answer as the exchange returns it reads the same.
        if (!unsolicited)
            QCOMPARE(ParseRegistration(QString::fromLatin1("AT+CREG?\r\r\n" + line + "\r\n\r\nOK\r\n"))->registration,
                     registration);
    }
    // The unsolicited line as the table reads it: a +CREG line that is not one says nothing of the registration.
    const Unsolicited u = ParseUnsolicited(line);
    if (line.startsWith("+CREG:")) {
        QCOMPARE(u.kind, read ? Unsolicited::Registration : Unsolicited::Other);
        QCOMPARE(u.registration, read ? registration : Reg::Unknown);
    }
}

void ModemHealthTest::operatorName_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("act");
    QTest::newRow("long name") << u"\r\n+COPS: 0,0,\"Vodafone IN\"\r\n\r\nOK\r\n"_s << true << u"Vodafone IN"_s << 0
                               << -1;
    QTest::newRow("short name with AcT") << u"\r\n+COPS: 0,1,\"T-Mobile\",7\r\n\r\nOK\r\n"_s << true << u"T-Mobile"_s
                                         << 1 << 7;
    QTest::newRow("numeric") << u"\r\n+COPS: 0,2,\"40420\",2\r\n\r\nOK\r\n"_s << true << u"40420"_s << 2 << 2;
    QTest::newRow("numeric, unquoted (Wavecom)")
        << u"\r\n+COPS: 0,2,20801\r\n\r\nOK\r\n"_s << true << u"20801"_s << 2 << -1;
    QTest::newRow("name with a comma") << u"\r\n+COPS: 1,0,\"AT&T, Inc.\",0\r\n\r\nOK\r\n"_s << true << u"AT&T, Inc."_s
                                       << 0 << 0;
    QTest::newRow("no operator (mode only)") << u"\r\n+COPS: 0\r\n\r\nOK\r\n"_s << true << u""_s << -1 << -1;
    QTest::newRow("deregistered") << u"\r\n+COPS: 2\r\n\r\nOK\r\n"_s << true << u""_s << -1 << -1;
    QTest::newRow("the operator list (AT+COPS=?)")
        << u"\r\n+COPS: (2,\"Vodafone IN\",\"Vodafone\",\"40420\"),,(0-4),(0-2)\r\n\r\nOK\r\n"_s << false << u""_s << -1
        << -1;
    QTest::newRow("refused") << u"\r\n+CME ERROR: 30\r\n"_s << false << u""_s << -1 << -1;
}

void ModemHealthTest::operatorName()
{
    QFETCH(QString, answer);
    QFETCH(bool, read);
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, act);
    const auto o = ParseOperator(answer);
    QCOMPARE(o.has_value(), read);
    QCOMPARE(o ? o->name : QString(), name);
    QCOMPARE(o ? o->format : -1, format);
    QCOMPARE(o ? o->accessTechnology : -1, act);
}

void ModemHealthTest::simIdentity_data()
{
    QTest::addColumn<bool>("iccid"); // the answer to AT+CCID, else to AT+CIMI
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("value");
    const auto row = [](const char* name, bool iccid, const char* answer, const char* value) {
        QTest::newRow(name) << iccid << QString::fromLatin1(answer) << QString::fromLatin1(value);
    };
    row("IMSI, bare digits", false, "\r\n404201234567890\r\n\r\nOK\r\n", "404201234567890");
    row("IMSI, echo on", false, "AT+CIMI\r\r\n310260000000000\r\n\r\nOK\r\n", "310260000000000");
    row("IMSI with a prefix", false, "\r\n+CIMI: 234150999999999\r\n\r\nOK\r\n", "234150999999999");
    row("IMSI refused (no SIM)", false, "\r\n+CME ERROR: 10\r\n", "");
    row("IMSI, not a number", false, "\r\nSIM not inserted\r\n\r\nOK\r\n", "");
    row("ICCID, +CCID (SIMCom)", true, "\r\n+CCID: 8991101200003204510\r\n\r\nOK\r\n", "8991101200003204510");
    row("ICCID, ^SCID (Cinterion)", true, "\r\n^SCID: 89914509001234567895\r\n\r\nOK\r\n", "89914509001234567895");
    row("ICCID, +ICCID (u-blox)", true, "\r\n+ICCID: 8944500601200000000\r\n\r\nOK\r\n", "8944500601200000000");
    row("ICCID, bare digits ending in F", true, "\r\n8991101200003204510F\r\n\r\nOK\r\n", "8991101200003204510F");
    row("ICCID, quoted, lower-case f", true, "\r\n+CCID: \"894920000000123456f\"\r\n\r\nOK\r\n", "894920000000123456F");
    row("ICCID refused", true, "\r\nERROR\r\n", "");
}

void ModemHealthTest::simIdentity()
{
    QFETCH(bool, iccid);
    QFETCH(QString, answer);
    QFETCH(QString, value);
    QCOMPARE(iccid ? ParseIccid(answer) : ParseImsi(answer), value);
}

void ModemHealthTest::healthPollOfTheLink()
{
    auto rig = std::make_unique<LinkRig>(QStringLiteral("health-poll"));
    QVERIFY(rig->connectModem());
    const int logLines = int(rig->logged.size());

    std::optional<HealthResult> first, second;
    rig->link.requestHealth(nullptr, [&](const HealthResult& r) { first = r; });
    QVERIFY(rig->link.waiting(ModemLink::Work::Health));
    rig->link.requestHealth(nullptr, [&](const HealthResult& r) { second = r; });
    QTRY_VERIFY(second.has_value());
    QVERIFY2(rig->replayed().isEmpty(), qPrintable(rig->replayed())); // the SIM's identity was asked once only

    ModemHealth expected;
    expected.rssi = 21;
    expected.ber = 0;
    expected.registration = Reg::Home;
    expected.accessTechnology = 2; // as the operator's answer gives it
    expected.operatorName = QStringLiteral("Vodafone IN");
    expected.iccid = QStringLiteral("89914509001234567895"); // ^SCID stayed in the answer
    expected.checked = rig->clock.now();
    QVERIFY(!first->aborted);
    QCOMPARE(first->health, expected);

    // Refused, then given no operator: unknown again; the SIM's identity is kept for the connection.
    expected.rssi = 99;
    expected.ber = 99;
    expected.registration = Reg::Roaming;
    expected.accessTechnology = -1;
    expected.operatorName.clear();
    QCOMPARE(second->health, expected);

    // A poll at a low rate stays out of the activity log, and its refusals are no failures for the user.
    QCOMPARE(rig->logged.size(), logLines);
    QVERIFY(rig->failures.isEmpty());
}

void ModemHealthTest::relayLinkBeforeSubmissions_data()
{
    QTest::addColumn<QString>("transcript");
    QTest::addColumn<QString>("imsi"); // what the health poll between the submissions found
    QTest::addColumn<QString>("iccid");
    QTest::addColumn<Reg>("registration");
    QTest::newRow("accepting modem") << u"relay-link-kept"_s << u"404201234567890"_s << u"8991101200003204510F"_s
                                     << Reg::Home;
    QTest::newRow("refusing modem") << u"relay-link-refused"_s << QString() << QString() << Reg::Unknown;
}

void ModemHealthTest::relayLinkBeforeSubmissions()
{
    QFETCH(QString, transcript);
    QFETCH(QString, imsi);
    QFETCH(QString, iccid);
    QFETCH(Reg, registration);
    auto rig = std::make_unique<LinkRig>(transcript);
    rig->link.moreMessagesToSend = true;
    QVERIFY(rig->connectModem());

    // Asked all at once: the poll waits behind the first submission and runs before the second.
    std::optional<SubmitResult> first, second, third;
    std::optional<HealthResult> health;
    rig->submit(QStringLiteral("9888812121"), QStringLiteral("first"), &first);
    rig->link.requestHealth(nullptr, [&](const HealthResult& r) { health = r; });
    rig->submit(QStringLiteral("9888812122"), QStringLiteral("second"), &second);
    QTRY_VERIFY(second.has_value());
    QVERIFY2(rig->replay->player.failure().isEmpty(), qPrintable(rig->replay->player.failure()));
    QVERIFY(first->sent && second->sent);
    QCOMPARE(health->health.imsi, imsi);
    QCOMPARE(health->health.iccid, iccid);
    QCOMPARE(health->health.registration, registration);

    // A new connection asks again.
    QVERIFY(rig->closePort());
    QVERIFY(rig->connectModem());
    rig->submit(QStringLiteral("9888812123"), QStringLiteral("third"), &third);
    QTRY_VERIFY(third.has_value());
    QVERIFY2(rig->replayed().isEmpty(), qPrintable(rig->replayed()));
    QVERIFY(third->sent);
    QVERIFY(rig->failures.isEmpty()); // a refusal of AT+CMMS=2 is nothing the user has to hear of
}

namespace {
enum class Announcement { NewMessage, Call, Registration };
}
Q_DECLARE_METATYPE(Announcement)

void ModemHealthTest::announcementsBetweenRequests_data()
{
    QTest::addColumn<Announcement>("announcement");
    QTest::addColumn<QList<int>>("kinds");
    QTest::newRow("+CMTI") << Announcement::NewMessage << QList<int>{Unsolicited::NewMessage};
    QTest::newRow("RING, +CLIP") << Announcement::Call << QList<int>{Unsolicited::Ring, Unsolicited::CallerId};
    QTest::newRow("+CREG") << Announcement::Registration << QList<int>{Unsolicited::Registration};
}

void ModemHealthTest::announcementsBetweenRequests()
{
    QFETCH(Announcement, announcement);
    QFETCH(QList<int>, kinds);
    LinkRig rig;
    ModemSimulator& sim = *rig.sim;
    QVERIFY(rig.connectModem(true));
    QTRY_VERIFY(!rig.link.busy());
    rig.heard.clear();

    const QString caller = QStringLiteral("+919812345678");
    if (announcement == Announcement::NewMessage)
        sim.receiveSms(caller, QStringLiteral("hello"));
    else if (announcement == Announcement::Call)
        sim.incomingCall(caller, 1, 100, false);
    else
        sim.sendUnsolicited("\r\n+CREG: 5,\"00C3\",\"0010AB2C\"\r\n");
    QTRY_COMPARE(rig.heard.size(), kinds.size());
    QVERIFY(!rig.link.busy()); // heard with no request running
    for (qsizetype i = 0; i < kinds.size(); ++i)
        QCOMPARE(int(rig.heard[i].kind), kinds[i]);
    const Unsolicited& u = rig.heard.last();
    if (announcement == Announcement::NewMessage)
        QCOMPARE(u.index, sim.simMessages().first().index);
    else if (announcement == Announcement::Call)
        QCOMPARE(u.number, caller);
    else
        QCOMPARE(u.registration, Reg::Roaming);
}

QTEST_GUILESS_MAIN(ModemHealthTest)
#include "tst_modem_health.moc"
