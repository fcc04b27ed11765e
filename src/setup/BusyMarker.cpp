#include "setup/BusyMarker.h"

#include "platform/SingleInstance.h"

#include <QFile>
#include <QFileInfo>

QString BusyMarker::path()
{
    return QFileInfo(SingleInstance::defaultSocketPath()).absolutePath() + QStringLiteral("/mivra-busy");
}

void BusyMarker::set(bool busy)
{
    if (!busy) {
        QFile::remove(path());
        return;
    }
    QFile marker(path());
    if (marker.open(QIODevice::WriteOnly))
        marker.write("busy\n");
}

bool BusyMarker::runningAppIsBusy()
{
    return QFile::exists(path()) && SingleInstance::someoneListens(SingleInstance::defaultSocketPath());
}
