// The throw-away PostgreSQL server the store's tests will run on: it is a private cluster on a socket of its own,
// values go through the QPSQL driver and back unchanged, and a connection comes back after the server was lost.
#include "PgCluster.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
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
    void reconnectsAfterRestart();
    void clustersAreSeparate();

private:
    std::unique_ptr<PgCluster> cluster;
};

static const QString connName = QStringLiteral("pg");

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
}

void TestPgCluster::cleanupTestCase()
{
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
