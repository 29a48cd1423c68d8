// A GSM modem in text mode on a pseudo-terminal, for tests and for trying Broadtext without a modem.
//
// It runs on a thread of its own and answers like a real modem (echo until ATE0, V.250 framing, the "> "
// prompt, +CMGS/+CMGW/+CMSS, text-mode listings with or without the text-mode parameters, +CLCC), keeps a
// SIM store, and makes on demand what real modems and lines do to a program: incoming SMS, ringing calls,
// send failures, a slow network, silence, hang-up, a slow serial line, answers in pieces, unsolicited lines
// inside or right after an answer, the header variants of different makers, the packet-data "call" of LTE
// modules, text entry still pending from an earlier session, and ERROR to everything. It answers the health
// questions of 27.007 (signal, registration, operator, SIM identity), keeps the relay link open under
// AT+CMMS (27.005), and can lose the network altogether. It records every command and every raw byte
// received and every message "sent to the network", with its time. Several of them make a pool of modems,
// each a device of its own.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

class ModemSimulator {
public:
    enum class SendFailure { None, CmsError, BareOk, Silence };
    // How listing headers are written: as the standard shows them, or as some makers do.
    enum class HeaderStyle { Standard, NoBlankAfterColon, BlanksAfterCommas, NoAlphaField, NumericStatus };
    // What the length in a listing header counts of a hex (UCS2) text: UCS2 characters (an emoji outside the
    // basic plane counts two), octets, or hex digits. Modems differ.
    enum class LengthUnit { Characters, Octets, HexDigits };

    struct SimEntry {
        int index = 0;
        QString status; // "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"
        QString number;
        QString text;
        QDateTime received;
        bool unicode = false; // the sender wrote it in UCS2 (data coding 8)
        QString pdu;          // as stored in PDU mode (a part of a long message, a delivery report)
    };
    struct SentMessage {
        QString number;
        QString text;
        int reference = 0;
        bool unicode = false; // it went to the network as UCS2
        // Sent as a PDU: its place in a long message (count 0: it stands alone), and whether it asked for
        // a delivery report.
        int partReference = 0, partNumber = 0, partCount = 0;
        bool reportRequested = false;
        bool linkKept = false; // it went on the relay link AT+CMMS kept open from the message before
        QDateTime at;          // when the network took it, on the date clock
    };
    // 27.007 registration states, as +CREG gives them.
    enum class Registration { NotRegistered = 0, Home = 1, Searching = 2, Denied = 3, Unknown = 4, Roaming = 5 };
    // What the network saves on each part sent on a relay link kept open (AT+CMMS), and how long after a
    // confirmation the network keeps the link waiting for the next submission (27.005 says 1 to 5 s).
    static constexpr int LinkKeptGainMs = 300;
    static constexpr int LinkHoldMs = 5000;

    ModemSimulator();
    ~ModemSimulator();
    ModemSimulator(const ModemSimulator&) = delete;
    ModemSimulator& operator=(const ModemSimulator&) = delete;

    // Creates the pseudo-terminal and starts answering. False with a reason on failure.
    bool start(QString* error = nullptr);

    // The clock its own timing runs on (network delay, late and chunked answers, lines after an answer,
    // rings), in milliseconds: the machine's steady clock unless another is given before it is used.
    void setClock(std::function<qint64()> nowMs);
    // The date and time the network stamps each message it takes with (sent()): the machine's clock unless
    // another is given, such as the program's own when a test moves it.
    void setDateClock(std::function<QDateTime()> now);

    // On a line other than the pseudo-terminal (not started): the owner hands over what the program wrote
    // and carries to the program what the modem has written, each piece at the time it is due.
    struct Output {
        qint64 atMs;
        QByteArray bytes;
    };
    void feed(const QByteArray& bytes);
    QList<Output> takeOutput(); // everything written since the last call (rings due by now included)
    bool outputDue() const;     // takeOutput() has something now
    bool hangUpAsked() const;   // hangUp() was called
    int baudRate() const;       // the slow line's speed (0: none)
    void stop();
    // The device a serial program opens (/dev/pts/N).
    QString devicePath() const;
    // Makes dataDir/ports/COMn a link to the device (replacing an older link).
    bool linkAs(const QString& dataDir, int comNumber, QString* error = nullptr);
    // Closes the terminal as an unplugged modem would: the program sees a hang-up.
    void hangUp();
    // Plugged in again after hangUp(): a new terminal (linked again under the same COM number) or, on a line
    // other than the pseudo-terminal, answering again. The SIM store stays.
    bool replug(QString* error = nullptr);

    // Behaviour (may be changed at any time).
    void setEcho(bool on);
    void setSilent(bool on);        // answers nothing at all
    void setFloSupported(bool on);  // AT+FLO answered with ERROR unless set
    void setClipSupported(bool on); // AT+CLIP=1 answered with ERROR unless set
    void setIdentity(const QString& manufacturer, const QString& model);
    // The serial numbers AT+CGSN (IMEI), AT+CCID (the SIM's ICCID) and AT+CIMI (its IMSI) give: different for
    // every simulator made in a process; an empty one is answered with ERROR. The SIM's home network comes
    // with it: the operator's long and short names and numeric code (the first five digits of the IMSI) that
    // AT+COPS? gives.
    struct Serials {
        QString imei, iccid, imsi;
        QString operatorLong, operatorShort, operatorCode;
    };
    // The IMEI, ICCID, IMSI and operator of the n-th device (each simulator made in a process is the next
    // unit); the operators are made up, on the test network code 001.
    static Serials serialsOfUnit(int unit);
    void setSerials(const Serials& serials);
    Serials serials() const;
    void setSimCapacity(int messages);
    // The next count submissions (AT+CMGS body, AT+CMSS) fail; a CMS error with the given number.
    void failSends(SendFailure how, int count = 1, int cmsError = 500);
    void withholdPrompts(int count, bool answerOk); // the next AT+CMGS / AT+CMGW get no "> " (or OK)
    void setNetworkDelayMs(int ms);                 // time before +CMGS / +CMSS, per part
    // Every submission is refused with +CMS ERROR: cause, as when the network is out of service (0: off).
    void failNetworkWide(int cause);
    void clearFailures(); // what failSends() and failNetworkWide() set
    // 0 off; else answers come in pieces with this pause between them: two halves, or pieces of chunkBytes.
    void setChunkedAnswers(int pauseMs, int chunkBytes = 0);
    void setAnswerDelayMs(int ms);                            // every answer comes this late (a slow modem)
    void setBaudRate(int baud);                               // 0: no limit; else 10 bits per byte sent
    void injectIntoNextAnswer(const QByteArray& unsolicited); // an unsolicited line in the middle of an answer
    void injectAfterNextAnswer(const QByteArray& unsolicited, int delayMs); // ... or just after it
    void sendUnsolicited(const QByteArray& bytes);                          // written now, between answers
    void setHeaderStyle(HeaderStyle style);
    void setCsdhSupported(bool on);                 // AT+CSDH=1 answered with ERROR unless set
    void setLengthUnit(LengthUnit unit);            // how listing headers count a hex text (octets unless set)
    void setDataCallListed(bool on);                // AT+CLCC always lists an LTE data connection
    void setErrorToEverything(bool on);             // every command is answered ERROR
    void setCharacterSets(const QStringList& sets); // what AT+CSCS accepts (GSM, IRA, 8859-1, UCS2)
    QString characterSet() const;                   // the one the program selected
    // Health. AT+CSQ gives rssi,ber. A change of registration is announced by +CREG when the program asked
    // for it (AT+CREG=1 or 2); while not registered, submissions are refused with +CMS ERROR: 331.
    void setSignal(int rssi, int ber = 99);
    void setRegistration(Registration stat);
    void setBareCcid(bool on);      // AT+CCID answered with the number alone, as some modems do
    void setCmmsSupported(bool on); // off: AT+CMMS answered ERROR, as by modems without it (on at first)
    int cmmsMode() const;           // what AT+CMMS last set
    int signalQuality() const;      // the rssi AT+CSQ gives
    Registration registrationState() const;
    // Text entry left pending, as after "AT+CMGS=..." and "> " when the program then went away.
    void enterTextEntry(const QString& number);

    // SIM store.
    // sentOn: the service centre's time stamp the listing shows (now when not given).
    int storeMessage(const QString& status, const QString& number, const QString& text, bool unicode = false,
                     const QDateTime& sentOn = {});
    // The SMS-DELIVER PDUs a message from number comes in (parts of a long one joined by reference), to
    // be stored in any order with storePdu.
    static QStringList deliverPdus(const QString& number, const QString& text, int reference,
                                   const QDateTime& sentOn = {});
    int storePdu(const QString& status, const QString& hex);
    // In PDU mode, with reports asked for: the status each report gives (TP-ST, 0 = delivered), and how
    // the modem passes reports on, as the 4th value of AT+CNMI says (1: +CDS lines, else stored on the SIM,
    // announced by +CDSI when 2).
    void setReportStatus(int status);
    bool pduMode() const;
    // Stores REC UNREAD and announces +CMTI (unless AT+CNMI set <mt> to 0). A text the GSM alphabet cannot
    // carry comes UCS2-coded, as phones send it.
    void receiveSms(const QString& number, const QString& text, bool unicode = false);
    QList<SimEntry> simMessages() const;

    // Calls: RING (and +CLIP when the program asked for caller id and a number is given) every interval
    // while AT+CLCC lists the call as incoming; after `rings` rings the caller gives up, with or without
    // NO CARRIER.
    void incomingCall(const QString& number, int rings, int ringIntervalMs, bool noCarrierAtEnd);
    bool callRinging() const;

    // Records.
    QStringList commands() const;    // each command line received, without its CR
    QByteArray rawInput() const;     // every byte received, in order
    qint64 bytesSent() const;        // every byte written to the program so far
    QList<SentMessage> sent() const; // messages the network accepted
    void clearRecords();
    // Called on the simulator's thread with each line of its log (for people watching).
    void setLogger(std::function<void(const QString&)> logger);

private:
    void run();
    void handleByte(char c);
    void handleCommand(const QByteArray& line);
    void finishBody();
    struct Submission {
        QString number, text;
        bool unicode = false;
        int partReference = 0, partNumber = 0, partCount = 0;
        bool report = false;
    };
    void submit(bool fromStore, int storeIndex, const Submission& message);
    std::optional<Submission> fromSubmitPdu(const QString& hex, int announcedLength) const;
    void sendReport(const QString& number, int reference);
    QByteArray pduListing(const QString& status);
    QByteArray registrationLine(bool unsolicited) const;
    bool registered() const;
    void answer(const QByteArray& bytes, int delayMs = 0);
    void writeNow(const QByteArray& bytes);
    QByteArray header(int index, const SimEntry& m, const QByteArray& text) const;
    QByteArray listedText(const SimEntry& m) const;               // a text-mode listing's body: hex for a UCS2 text
    QByteArray inCharset(const QString& text) const;              // as the modem writes text to the program
    QString fromCharset(const QByteArray& bytes, bool hex) const; // as it reads what the program wrote
    bool unicodeCoding() const;                                   // the text-mode parameters say UCS2
    qint64 nowUs() const;
    void tickCall(qint64 nowMs);
    QByteArray listing(const QString& status);
    int freeIndex() const;
    void note(const QString& line);
    qint64 nowMs() const;
    void wake();
    void closeTerminal();

    mutable std::mutex mutex;
    std::thread thread;
    std::atomic<bool> running{false};
    int master = -1;
    int slave = -1;
    bool hangupRequested = false;
    QByteArray ready; // answers due now, written by the thread
    int wakePipe[2] = {-1, -1};
    QString slavePath;
    QString linkPath;

    // Protocol state (under mutex).
    QByteArray line;
    bool echo = true;
    bool silent = false;
    bool floSupported = false;
    bool clipSupported = true;
    bool clipEnabled = false;
    QString manufacturer = QStringLiteral("Broadtext Simulated Modems");
    QString model = QStringLiteral("SIM-GSM 900");
    Serials serialNumbers;
    int capacity = 30;
    std::deque<std::pair<SendFailure, int>> failures;
    int promptsWithheld = 0;
    bool withheldPromptOk = false;
    int networkDelayMs = 0;
    int networkFailure = 0; // a CMS cause for every submission
    int rssi = 21, ber = 0;
    Registration registration = Registration::Home;
    int cregMode = 0;   // AT+CREG=<n>
    int copsFormat = 0; // AT+COPS=3,<format>: 0 long, 1 short, 2 numeric
    bool bareCcid = false;
    bool cmmsSupported = true;
    int cmms = 0;
    qint64 lastConfirmAt = -1; // when the network last answered a submission
    bool announceNew = true;   // AT+CNMI's <mt> is not 0 (modems announce by default)
    QString cnmi = QStringLiteral("2,1,0,0,0");
    int chunkPauseMs = 0;
    int chunkBytes = 0;
    int answerDelayMs = 0;
    int baud = 0;
    qint64 lineFreeAtUs = 0; // when the slow line has sent everything written so far
    QByteArray pendingInjection;
    QByteArray pendingAfter;
    int pendingAfterDelayMs = 0;
    HeaderStyle headerStyle = HeaderStyle::Standard;
    bool csdhSupported = true;
    bool csdh = false;
    LengthUnit lengthUnit = LengthUnit::Octets;
    bool dataCall = false;
    bool errorToEverything = false;
    QStringList sets = {QStringLiteral("GSM"), QStringLiteral("IRA"), QStringLiteral("8859-1"), QStringLiteral("UCS2")};
    QString charset = QStringLiteral("IRA");
    QString csmp = QStringLiteral("17,167,0,0");
    bool pdu = false;
    int reportRouting = 0; // AT+CNMI's <ds>
    int reportStatus = 0;
    int bodyLength = 0; // PDU mode: the TPDU length AT+CMGS / AT+CMGW announced
    QByteArray raw;
    std::atomic<qint64> written{0};
    enum class BodyFor { None, Cmgs, Cmgw } bodyFor = BodyFor::None;
    QString bodyNumber;
    QByteArray body;
    std::map<int, SimEntry> sim;
    int nextReference = 1;

    struct Call {
        bool active = false;
        QString number;
        int ringsLeft = 0;
        int intervalMs = 0;
        bool noCarrier = false;
        qint64 nextRingAt = 0;
    } call;

    struct Delayed {
        qint64 at;
        QByteArray bytes;
    };
    std::deque<Delayed> delayed;

    QStringList received;
    QList<SentMessage> network;
    std::function<void(const QString&)> logger;
    std::function<qint64()> clock;
    std::function<QDateTime()> dateClock;
    QDateTime started;
};
