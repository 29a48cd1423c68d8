// Exports to CSV: how single fields are written, the Inbox and Sent Items exported through the message box and
// read back with a strict reader of our own, and a large folder written as it is read.
#include "TestRig.h"
#include "common/Csv.h"
#include "delivery/Engine.h"
#include "store/FoldersRepository.h"
#include "views/Frm_MessageBox.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {

const QDateTime Base(QDate(2026, 3, 2), QTime(9, 0));

// RFC 4180 read strictly: every record ends in CRLF, a quote inside a quoted field is doubled, and a bare
// quote, CR or LF anywhere else is an error (then the records read so far and ok false).
QList<QStringList> parseCsv(const QByteArray& bytes, bool* ok)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList record;
    QString field;
    *ok = false;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (text[i] == QLatin1Char('"')) {
            for (++i;; ++i) {
                if (i >= n)
                    return records;
                if (text[i] == QLatin1Char('"')) {
                    if (i + 1 < n && text[i + 1] == QLatin1Char('"'))
                        ++i;
                    else
                        break;
                }
                field += text[i];
            }
            ++i;
        } else {
            while (i < n && text[i] != QLatin1Char(',') && text[i] != QLatin1Char('\r')) {
                if (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\n'))
                    return records;
                field += text[i++];
            }
        }
        if (i >= n)
            return records; // no CRLF after the last record
        if (text[i] == QLatin1Char(',')) {
            record << field;
            field.clear();
            ++i;
            continue;
        }
        if (text[i] != QLatin1Char('\r') || i + 1 >= n || text[i + 1] != QLatin1Char('\n'))
            return records;
        record << field;
        field.clear();
        records << record;
        record.clear();
        i += 2;
    }
    *ok = true;
    return records;
}

QList<QStringList> readCsvFile(const QString& path, bool* ok)
{
    QFile f(path);
    *ok = false;
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {}; // no byte-order mark
    return parseCsv(bytes, ok);
}

// A device that counts the records it has been given (records here hold no line break of their own).
class CountingDevice : public QIODevice {
public:
    qint64 records = 0;
    QByteArray last;
    CountingDevice() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        last = QByteArray(data, size);
        records += last.count("\r\n");
        return size;
    }
};

struct BoxRig : TestRig {
    Engine engine{state, db, log};
    BoxRig() { engine.timerRefreshHomePage.setEnabled(false); }
};

qint64 addInbox(Database& db, const QString& number, const QString& message, const QDateTime& at, bool read,
                const QString& modem)
{
    return db.insert(QStringLiteral("INSERT INTO Message_InBox (SenderMobileNo, SenderId, Message, InboxDateTime, "
                                    "IsRead, ModemName) VALUES (?, 0, ?, ?, ?, ?)"),
                     {number, message, Database::DbTime(at), Database::DbBool(read), modem});
}

struct SentRow {
    QString number, message, report, modem;
    QDateTime queued, sent, reported;
    int attempts;
};

void addSent(Database& db, const SentRow& r)
{
    db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime, "
                             "DeliveryStatus, DeliveryDatetime, ReportStatus, ReportedAt, Attempts, ModemName) "
                             "VALUES (0, ?, ?, ?, 'SENT', ?, ?, ?, ?, ?)"),
              {r.number, r.message, Database::DbTime(r.queued),
               r.sent.isValid() ? Database::DbTime(r.sent) : QVariant(), r.report.isEmpty() ? QVariant() : r.report,
               r.reported.isValid() ? Database::DbTime(r.reported) : QVariant(), r.attempts, r.modem});
}

// Messages that need quoting, or keep blanks and characters beyond Latin-1.
const QStringList Texts{QStringLiteral("Hello, world"),
                        QStringLiteral("He said \"yes\""),
                        QStringLiteral("line one\r\nline two\nthree\rfour"),
                        QStringLiteral("  blanks kept  "),
                        QStringLiteral("Grüße, Ελλάδα 👍🏽"),
                        QString()};

// The window as the program opens it on the Inbox.
struct OpenBox {
    QPointer<Frm_MessageBox> box;
    explicit OpenBox(Engine& engine)
    {
        box = new Frm_MessageBox(engine);
        box->show();
        QCoreApplication::processEvents();
    }
    ~OpenBox() { delete box.data(); }
    Frm_MessageBox* operator->() const { return box; }
    QPushButton* exportButton() const { return box->findChild<QPushButton*>(QStringLiteral("cmdExport")); }
};

QDateTime readTime(const QString& cell)
{
    return QDateTime::fromString(cell, Qt::ISODate);
}

} // namespace

class TestCsvExport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void record_data();
    void record();
    void exportFolders_data();
    void exportFolders();
    void exportRefusedOrCancelled();
    void largeFolderStreamed();
};

void TestCsvExport::record_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("csv");
    QTest::newRow("plain") << QStringList{QStringLiteral("abc"), QStringLiteral("123")} << QByteArray("abc,123\r\n");
    QTest::newRow("empty fields") << QStringList{QString(), QString(), QString()} << QByteArray(",,\r\n");
    QTest::newRow("one empty field") << QStringList{QString()} << QByteArray("\r\n");
    QTest::newRow("comma") << QStringList{QStringLiteral("a,b")} << QByteArray("\"a,b\"\r\n");
    QTest::newRow("quote") << QStringList{QStringLiteral("say \"hi\""), QStringLiteral("\"")}
                           << QByteArray("\"say \"\"hi\"\"\",\"\"\"\"\r\n");
    QTest::newRow("CR") << QStringList{QStringLiteral("a\rb")} << QByteArray("\"a\rb\"\r\n");
    QTest::newRow("LF") << QStringList{QStringLiteral("a\nb")} << QByteArray("\"a\nb\"\r\n");
    QTest::newRow("CRLF") << QStringList{QStringLiteral("a\r\nb"), QStringLiteral("c")}
                          << QByteArray("\"a\r\nb\",c\r\n");
    QTest::newRow("blanks kept") << QStringList{QStringLiteral("  x "), QStringLiteral("\t")}
                                 << QByteArray("  x ,\t\r\n");
    QTest::newRow("semicolon and apostrophe unquoted")
        << QStringList{QStringLiteral("a;b'c")} << QByteArray("a;b'c\r\n");
    QTest::newRow("accents and Greek") << QStringList{QStringLiteral("Grüße Ελλάδα")}
                                       << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                                     "e \xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4"
                                                     "\xCE\xB1\r\n");
    QTest::newRow("emoji") << QStringList{QStringLiteral("👍"), QStringLiteral("a,👍🏽")}
                           << QByteArray("\xF0\x9F\x91\x8D,\"a,\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD\"\r\n");
}

// Each record is written as RFC 4180 has it, and reads back as the fields it came from.
void TestCsvExport::record()
{
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, csv);
    QCOMPARE(CsvRecord(fields), csv);
    bool ok = false;
    const QList<QStringList> back = parseCsv(csv, &ok);
    QVERIFY(ok);
    QCOMPARE(back.size(), 1);
    QCOMPARE(back[0], fields);
}

void TestCsvExport::exportFolders_data()
{
    QTest::addColumn<bool>("sentItems");
    QTest::addColumn<QString>("search"); // typed in the search box first
    QTest::newRow("Inbox") << false << QString();
    QTest::newRow("Sent Items") << true << QString();
    QTest::newRow("Inbox, searched") << false << QStringLiteral("+4470");
    QTest::newRow("Sent Items, searched") << true << QStringLiteral("+4470");
}

// The button exports what the list shows, every value as stored (the message whole) and every date as the
// same moment in local ISO 8601; the box says how many.
void TestCsvExport::exportFolders()
{
    QFETCH(bool, sentItems);
    QFETCH(QString, search);
    BoxRig rig;
    QList<QStringList> expected;
    for (int i = 0; i < Texts.size(); ++i) {
        const QString number = QStringLiteral("+44%1").arg(70 + i * 5);
        const QString modem = i % 2 ? QStringLiteral("Modem 2 (SIM 234150000000002)") : QString();
        const QDateTime at = Base.addSecs(i * 3600);
        if (!sentItems) {
            addInbox(rig.db, number, Texts[i], at, i % 3 == 0, modem);
            expected << QStringList{QString(), number, Texts[i],
                                    i % 3 == 0 ? QStringLiteral("Yes") : QStringLiteral("No"), modem};
        } else {
            const SentRow r{number, Texts[i],       i % 2 ? QStringLiteral("Delivered") : QString(), modem,
                            at,     at.addSecs(90), i % 2 ? at.addSecs(200) : QDateTime(),           i + 1};
            addSent(rig.db, r);
            expected << QStringList{QString(),
                                    QString(),
                                    number,
                                    Texts[i],
                                    QStringLiteral("SENT"),
                                    r.report,
                                    QString(),
                                    QString::number(r.attempts),
                                    modem};
        }
    }
    // An Outbox row is never part of Sent Items.
    rig.db.insert(QStringLiteral("INSERT INTO Message_OutBox (RecepId, RecipientMobileNo, Message, OutBoxDateTime) "
                                 "VALUES (0, '+4470', 'waiting', ?)"),
                  {Database::DbTime(Base)});

    OpenBox box(rig.engine);
    QVERIFY(box.exportButton());
    QVERIFY(box.exportButton()->isEnabled());
    box->TreeView1_NodeClick(3);
    QVERIFY(!box.exportButton()->isEnabled()); // the Outbox is not exported
    box->TreeView1_NodeClick(sentItems ? 4 : 2);
    QVERIFY(box.exportButton()->isEnabled());
    if (!search.isEmpty()) {
        box->findChild<QLineEdit*>(QStringLiteral("txtSearch"))->setText(search);
        box->txtSearch_Search();
        expected = {expected[0]}; // only +4470 has those digits
    }
    // The list's order: newest first.
    std::reverse(expected.begin(), expected.end());

    const QString path = rig.dir.filePath(QStringLiteral("export.csv"));
    rig.dialogs.fileNames.push_back(path);
    QTest::mouseClick(box.exportButton(), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages(),
             QStringList{QStringLiteral("%1 messages exported to %2.").arg(expected.size()).arg(path)});

    bool ok = false;
    QList<QStringList> rows = readCsvFile(path, &ok);
    QVERIFY(ok);
    QCOMPARE(rows.size(), expected.size() + 1);
    QCOMPARE(rows.takeFirst(), FolderExport::header(sentItems ? MessageFolder::SentItems : MessageFolder::Inbox));
    // Each date the stored moment, with its offset.
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QStringList& row = rows[i];
        const qsizetype k = expected.size() - 1 - i; // the row added k-th
        const QDateTime at = Base.addSecs(k * 3600);
        QCOMPARE(readTime(row[0]), at);
        QVERIFY(row[0].contains(QLatin1Char('T')) && row[0].size() == 25);
        row[0].clear();
        if (sentItems) {
            QCOMPARE(readTime(row[1]), at.addSecs(90));
            row[1].clear();
            QCOMPARE(readTime(row[6]), k % 2 ? at.addSecs(200) : QDateTime());
            row[6].clear();
        }
        QCOMPARE(row, expected[i]);
    }
}

// A cancelled dialog writes nothing and says nothing; a file that cannot be written is named with the reason
// and leaves no partial file.
void TestCsvExport::exportRefusedOrCancelled()
{
    BoxRig rig;
    addInbox(rig.db, QStringLiteral("+4470"), QStringLiteral("hi"), Base, false, QString());
    OpenBox box(rig.engine);
    QTest::mouseClick(box.exportButton(), Qt::LeftButton);
    QCOMPARE(rig.dialogs.of(ScriptedDialogs::Shown::SaveFile).size(), 1);
    QVERIFY(rig.dialogs.lastFilter.contains(QStringLiteral("*.csv")));
    QVERIFY(rig.dialogs.messages().isEmpty());

    const QString path = rig.dir.filePath(QStringLiteral("missing/export.csv"));
    rig.dialogs.fileNames.push_back(path);
    QTest::mouseClick(box.exportButton(), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages().size(), 1);
    QVERIFY2(
        rig.dialogs.messages()[0].startsWith(QStringLiteral("The messages could not be exported to %1: ").arg(path)),
        qPrintable(rig.dialogs.messages()[0]));
    QVERIFY(!QFile::exists(path));
}

// 10,000 messages go to the device as they are read: whenever the export asks for the next row, every row
// before it is already on the device, so no more than one row is held at any time.
void TestCsvExport::largeFolderStreamed()
{
    TestRig rig;
    constexpr int Rows = 10000;
    rig.db.beginTransaction();
    for (int i = 0; i < Rows; ++i)
        addInbox(rig.db, QStringLiteral("+44%1").arg(i), QStringLiteral("message, %1").arg(i), Base.addSecs(i), i % 2,
                 QString());
    rig.db.commit();

    FolderExport rows(rig.db, MessageFolder::Inbox, {});
    CountingDevice device;
    qint64 asked = 0;
    qint64 peakHeld = 0;
    QByteArray allRows;
    const CsvFileResult done = WriteCsv(device, FolderExport::header(MessageFolder::Inbox), [&](QStringList& row) {
        // The header and every row given so far are on the device.
        peakHeld = std::max(peakHeld, asked + 1 - device.records);
        if (asked > 0)
            allRows += device.last;
        const bool more = rows.next(row);
        asked += more;
        return more;
    });
    QVERIFY(done.error.isEmpty());
    QCOMPARE(done.rows, Rows);
    QCOMPARE(device.records, Rows + 1);
    QCOMPARE(peakHeld, 0);
    bool ok = false;
    const QList<QStringList> back = parseCsv(allRows, &ok);
    QVERIFY(ok);
    QCOMPARE(back.size(), Rows);
    QCOMPARE(back.first()[2], QStringLiteral("message, 0"));
    QCOMPARE(back.last()[2], QStringLiteral("message, %1").arg(Rows - 1));
}

QTEST_MAIN(TestCsvExport)
#include "tst_csv_export.moc"
