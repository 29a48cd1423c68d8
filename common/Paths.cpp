#include "common/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

QString DefaultDataDirectory()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/broadtext");
}

QString PreferencesFilePath(const QString& dataDir)
{
    return dataDir + QStringLiteral("/broadtext.conf");
}

bool EnsureDataDirectory(const QString& dir, QString* error)
{
    QFileInfo info(dir);
    if (info.isDir()) {
        // Owner-only, whoever made the folder (the modem simulator, say, or a copy).
        ::chmod(QFile::encodeName(dir).constData(), 0700);
        return true;
    }
    if (info.exists()) {
        if (error)
            *error = QStringLiteral("%1 exists and is not a folder.").arg(dir);
        return false;
    }
    QString parent = info.absolutePath();
    if (!QDir().mkpath(parent)) {
        if (error)
            *error = QStringLiteral("Cannot create the folder %1.").arg(parent);
        return false;
    }
    if (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error =
                QStringLiteral("Cannot create the folder %1: %2.").arg(dir, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return true;
}

QString ProgramFile(const QString& name)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {appDir + QLatin1Char('/') + name, appDir + QStringLiteral("/sounds/") + name,
                                    QStringLiteral(BROADTEXT_DATADIR "/sounds/") + name};
    for (const QString& c : candidates)
        if (QFileInfo::exists(c))
            return c;
    return name;
}
