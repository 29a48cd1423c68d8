// The throw-away PostgreSQL server the store's tests will run on: it is a private cluster on a socket of its own,
// values go through the QPSQL driver and back unchanged, a connection comes back after the server was lost, and
// the store's rewritten expressions answer on it what the SQLite-only forms they replace answer on SQLite.
#include "PgCluster.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <memory>

class TestPgCluster : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void isPrivate();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void portableExpressions_data();
    void portableExpressions();
    void reconnectsAfterRestart();
    void clustersAreSeparate();

private:
    std::unique_ptr<PgCluster> cluster;
};

static const QString connName = QStringLiteral("pg");
static const QString liteName = QStringLiteral("lite");

// Numbers as people type them, and counters on either side of the bounds the expressions keep to.
static const QStringList Samples = {
    QStringLiteral("CREATE TABLE Sample (Ord integer, Number text, A integer, B integer)"),
    QStringLiteral("INSERT INTO Sample VALUES (1, '+63 (917) 123-4567', 0, 0), (2, '123456789', 1, 3),"
                   " (3, '12345', 2, -1), (4, '0917.123.45678', 5, 7), (5, NULL, 3, 1), (6, '', -2, 4),"
                   " (7, '1234567890', 1, 1)"),
};

// Every row of a statement's answer, NULL told apart from an empty text.
static QStringList Answer(const QSqlDatabase& db, const QString& statement)
{
    QSqlQuery query(db);
    if (!query.exec(statement))
        return {QStringLiteral("error: ") + query.lastError().text()};
    QStringList rows;
    while (query.next()) {
        QStringList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << (query.value(i).isNull() ? QStringLiteral("NULL") : query.value(i).toString());
        rows << row.join(QLatin1Char('|'));
    }
    return rows;
}

void TestPgCluster::initTestCase()
{
    if (!PgCluster::installed())
        QSKIP(qPrintable(QStringLiteral("the PostgreSQL server programs are not installed in %1 (scripts/deps.sh "
                                        "installs them)")
                             .arg(PgCluster::binDir())));
    cluster = std::make_unique<PgCluster>();
    QVERIFY2(cluster->isReady(), qPrintable(cluster->error()));
    qInfo("first cluster ready in %lld ms (initdb included)", cluster->startupMs());
    const QSqlDatabase db = cluster->addDatabase(connName);
    QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
    QSqlDatabase lite = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), liteName);
    lite.setDatabaseName(QStringLiteral(":memory:"));
    QVERIFY(lite.open());
    for (const QString& statement : Samples) {
        QVERIFY2(QSqlQuery(db).exec(statement), qPrintable(statement));
        QVERIFY2(QSqlQuery(lite).exec(statement), qPrintable(statement));
    }
}

void TestPgCluster::cleanupTestCase()
{
    QSqlDatabase::removeDatabase(liteName);
    QSqlDatabase::removeDatabase(connName);
    cluster.reset();
}

void TestPgCluster::isPrivate()
{
    QSqlQuery query(QSqlDatabase::database(connName));
    QVERIFY(query.exec(QStringLiteral(
        "SELECT current_setting('listen_addresses'), current_setting('data_directory'), current_database()")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QString());
    QVERIFY2(query.value(1).toString().startsWith(cluster->socketDir() + QLatin1Char('/')),
             qPrintable(query.value(1).toString()));
    QCOMPARE(query.value(2).toString(), cluster->databaseName());
}

void TestPgCluster::valuesRoundTrip_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("quotes") << "text" << QVariant(QStringLiteral("It's \"quoted\"; -- \\ ' ''"));
    QTest::newRow("unicode") << "text" << QVariant(QStringLiteral("Grüße – Привет – 你好 – 😀 – €"));
    QTest::newRow("timestamp") << "timestamp"
                               << QVariant(QDateTime(QDate(2026, 12, 7), QTime(18, 45, 55, 123), Qt::UTC));
    QTest::newRow("integer") << "bigint" << QVariant(qlonglong(1) << 40);
    QTest::newRow("null") << "text" << QVariant(QMetaType::fromType<QString>());
}

void TestPgCluster::valuesRoundTrip()
{
    QFETCH(QString, type);
    QFETCH(QVariant, value);
    const QString table = QStringLiteral("probe_") + QString::fromLatin1(QTest::currentDataTag());
    QSqlQuery query(QSqlDatabase::database(connName));
    QVERIFY2(query.exec(QStringLiteral("CREATE TABLE %1 (id serial PRIMARY KEY, value %2)").arg(table, type)),
             qPrintable(query.lastError().text()));
    QVERIFY(query.prepare(QStringLiteral("INSERT INTO %1 (value) VALUES (?) RETURNING id").arg(table)));
    query.addBindValue(value);
    QVERIFY2(query.exec() && query.next(), qPrintable(query.lastError().text()));
    const int id = query.value(0).toInt();

    QVERIFY(query.prepare(QStringLiteral("SELECT value FROM %1 WHERE id = ?").arg(table)));
    query.addBindValue(id);
    QVERIFY2(query.exec() && query.next(), qPrintable(query.lastError().text()));
    QCOMPARE(query.value(0).isNull(), value.isNull());
    if (value.typeId() == QMetaType::QDateTime)
        QCOMPARE(query.value(0).toDateTime().toUTC(), value.toDateTime());
    else
        QCOMPARE(query.value(0).toString(), value.toString());
}

void TestPgCluster::portableExpressions_data()
{
    QTest::addColumn<QString>("sqliteOnly");
    QTest::addColumn<QString>("portable");
    const QString cleaned = QStringLiteral("replace(replace(replace(replace(replace(replace(Number, '+', ''), ' ', ''),"
                                           " '-', ''), '(', ''), ')', ''), '.', '')");
    QTest::newRow("last nine of a number")
        << QStringLiteral("SELECT substr(%1, -9) FROM Sample ORDER BY Ord").arg(cleaned)
        << QStringLiteral("SELECT CASE WHEN length(%1) > 9 THEN substr(%1, length(%1) - 8) ELSE %1 END FROM Sample "
                          "ORDER BY Ord")
               .arg(cleaned);
    QTest::newRow("one less, not below 0")
        << QStringLiteral("SELECT max(A - 1, 0) FROM Sample ORDER BY Ord")
        << QStringLiteral("SELECT CASE WHEN A > 1 THEN A - 1 ELSE 0 END FROM Sample ORDER BY Ord");
    QTest::newRow("largest of two and 1")
        << QStringLiteral("SELECT max(A, B, 1) FROM Sample ORDER BY Ord")
        << QStringLiteral(
               "SELECT CASE WHEN A >= B AND A >= 1 THEN A WHEN B >= 1 THEN B ELSE 1 END FROM Sample ORDER BY Ord");
    QTest::newRow("rows meeting a condition")
        << QStringLiteral("SELECT sum(Number IS NULL OR A < B), sum(A = 99) FROM Sample")
        << QStringLiteral("SELECT sum(CASE WHEN Number IS NULL OR A < B THEN 1 ELSE 0 END),"
                          " sum(CASE WHEN A = 99 THEN 1 ELSE 0 END) FROM Sample");
    QTest::newRow("lowest and highest differ")
        << QStringLiteral("SELECT coalesce((SELECT min(Number) FROM Sample) <> (SELECT max(Number) FROM Sample), 0),"
                          " coalesce((SELECT min(Number) FROM Sample WHERE A > 99) <> (SELECT max(Number) FROM"
                          " Sample WHERE A > 99), 0)")
        << QStringLiteral("SELECT CASE WHEN (SELECT min(Number) FROM Sample) <> (SELECT max(Number) FROM Sample) THEN 1"
                          " ELSE 0 END, CASE WHEN (SELECT min(Number) FROM Sample WHERE A > 99) <> (SELECT max(Number)"
                          " FROM Sample WHERE A > 99) THEN 1 ELSE 0 END");
    QTest::newRow("largest of several columns")
        << QStringLiteral("SELECT max(coalesce((SELECT max(A) FROM Sample), 0), coalesce((SELECT max(B) FROM Sample), "
                          "0), coalesce((SELECT max(A) FROM Sample WHERE A > 99), 0))")
        << QStringLiteral("SELECT coalesce(max(Used), 0) FROM (SELECT max(A) AS Used FROM Sample UNION ALL SELECT"
                          " max(B) FROM Sample UNION ALL SELECT max(A) FROM Sample WHERE A > 99) AS Ids");
}

void TestPgCluster::portableExpressions()
{
    QFETCH(QString, sqliteOnly);
    QFETCH(QString, portable);
    const QStringList before = Answer(QSqlDatabase::database(liteName), sqliteOnly);
    QVERIFY2(!before.isEmpty() && !before.first().startsWith(QLatin1String("error")),
             qPrintable(before.join(QLatin1Char(' '))));
    QCOMPARE(Answer(QSqlDatabase::database(liteName), portable), before);
    QCOMPARE(Answer(QSqlDatabase::database(connName), portable), before);
}

void TestPgCluster::reconnectsAfterRestart()
{
    QSqlDatabase db = QSqlDatabase::database(connName);
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral("CREATE TABLE kept (body text)")));
    QVERIFY(query.exec(QStringLiteral("INSERT INTO kept VALUES ('before the outage')")));

    QVERIFY2(cluster->stop(), qPrintable(cluster->error()));
    QVERIFY(!query.exec(QStringLiteral("SELECT body FROM kept")));
    QVERIFY2(cluster->start(), qPrintable(cluster->error()));

    db.close();
    QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    QSqlQuery again(db);
    QVERIFY2(again.exec(QStringLiteral("SELECT body FROM kept")), qPrintable(again.lastError().text()));
    QVERIFY(again.next());
    QCOMPARE(again.value(0).toString(), QStringLiteral("before the outage"));
}

void TestPgCluster::clustersAreSeparate()
{
    const QString otherName = QStringLiteral("other");
    {
        PgCluster other;
        QVERIFY2(other.isReady(), qPrintable(other.error()));
        qInfo("second cluster ready in %lld ms", other.startupMs());
        QVERIFY(other.socketDir() != cluster->socketDir());
        QSqlDatabase db = other.addDatabase(otherName);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("CREATE TABLE only_here (id int)")));
        QVERIFY(!QSqlQuery(QSqlDatabase::database(connName)).exec(QStringLiteral("SELECT id FROM only_here")));
        db.close();
    }
    QSqlDatabase::removeDatabase(otherName);
}

QTEST_GUILESS_MAIN(TestPgCluster)
#include "tst_pg_cluster.moc"
