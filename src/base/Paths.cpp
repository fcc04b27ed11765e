#include "base/Paths.h"

#include <QDir>
#include <QStandardPaths>

namespace {
const QString kAppFolder = QStringLiteral("Mivra Video");

QString xdgFolder(const char *variable, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules ignore relative paths.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + fallbackBelowHome;
}
} // namespace

namespace Paths {

QString logFolder()
{
    // Qt 6.4 has no state location yet, so read the variable ourselves.
    return xdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state")) + QLatin1Char('/') + kAppFolder +
           QStringLiteral("/Logs");
}

QString configFolder()
{
    return xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) + QLatin1Char('/') + kAppFolder;
}

QString applicationSupportFolder()
{
    return xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QLatin1Char('/') + kAppFolder;
}

QString recordingsFolder()
{
    QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty())
        videos = QDir::homePath() + QStringLiteral("/Videos");
    return videos + QStringLiteral("/Mivra");
}

} // namespace Paths
