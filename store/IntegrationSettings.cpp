// Named integration settings: see IntegrationSettings.h.
#include "store/IntegrationSettings.h"

#include "store/Database.h"

QString ReadIntegrationValue(Database& db, const QString& name, const QString& fallback)
{
    const QVariant v = db.scalar(QStringLiteral("SELECT Value FROM Integration_setting WHERE Name = ?"), {name});
    return v.isNull() ? fallback : v.toString();
}

bool ReadIntegrationFlag(Database& db, const QString& name, bool fallback)
{
    const QString v = ReadIntegrationValue(db, name);
    return v.isEmpty() ? fallback : v == QLatin1String("1");
}

int ReadIntegrationNumber(Database& db, const QString& name, int fallback)
{
    bool ok = false;
    const int n = ReadIntegrationValue(db, name).toInt(&ok);
    return ok ? n : fallback;
}

void WriteIntegrationValue(Database& db, const QString& name, const QString& value)
{
    db.execute(QStringLiteral("INSERT INTO Integration_setting (Name, Value) VALUES (?, ?)"
                              " ON CONFLICT(Name) DO UPDATE SET Value = excluded.Value"),
               {name, value});
}

void WriteIntegrationFlag(Database& db, const QString& name, bool on)
{
    WriteIntegrationValue(db, name, on ? QStringLiteral("1") : QStringLiteral("0"));
}

void WriteIntegrationNumber(Database& db, const QString& name, int value)
{
    WriteIntegrationValue(db, name, QString::number(value));
}
