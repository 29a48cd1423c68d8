// The store a test runs on. By default each test rig has an SQLite file of its own; with BROADTEXT_TEST_STORE=pg
// (how CTest runs the `_pg` twin of a store test) it has a database of its own on a throw-away PostgreSQL cluster
// that the test process starts once, copied from a template that already holds the schema, and the rig's
// broadtext.conf points the program at it. The test bodies are the same.
#pragma once

#include "PgCluster.h"
#include "store/Database.h"

#include <QSettings>
#include <QSqlQuery>
#include <QtTest>

inline bool TestOnServer()
{
    return qEnvironmentVariable("BROADTEXT_TEST_STORE") == QLatin1String("pg");
}

inline PgCluster& TestCluster()
{
    static PgCluster cluster;
    return cluster;
}

// A database nobody has used, with the tables and default rows, as a URI.
inline QString FreshServerDatabase()
{
    PgCluster& cluster = TestCluster();
    if (!cluster.isReady())
        qFatal("the test PostgreSQL cluster did not start: %s", qPrintable(cluster.error()));
    static const QString admin = [&] {
        const QString name = QStringLiteral("store-backend-admin");
        QSqlDatabase db = cluster.addDatabase(name);
        if (!db.isOpen() || !QSqlQuery(db).exec(QStringLiteral("CREATE DATABASE rig_template")))
            qFatal("cannot make the template database");
        {
            Database schema;
            schema.open(cluster.uri(QStringLiteral("rig_template")));
        }
        return name;
    }();
    static int made = 0;
    const QString name = QStringLiteral("rig_%1").arg(++made);
    QSqlQuery create(QSqlDatabase::database(admin));
    if (!create.exec(QStringLiteral("CREATE DATABASE %1 TEMPLATE rig_template").arg(name)))
        qFatal("cannot make a test database: %s", qPrintable(create.lastError().text()));
    return cluster.uri(name);
}

// Points the program with this data folder at a fresh server database when the test runs on one.
inline void PrepareTestStore(const QString& dataDir)
{
    if (!TestOnServer())
        return;
    QDir().mkpath(dataDir);
    QSettings conf(dataDir + QStringLiteral("/broadtext.conf"), QSettings::IniFormat);
    conf.setValue(QStringLiteral("database"), FreshServerDatabase());
}

// For the few cases about the SQLite file itself (its pragmas, upgrades of old files).
#define SKIP_ON_SERVER(why)                                                                                            \
    do {                                                                                                               \
        if (TestOnServer())                                                                                            \
            QSKIP("SQLite only: " why);                                                                                \
    } while (false)
