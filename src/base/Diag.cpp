#include "base/Diag.h"

#include "base/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace Diag {

QString path()
{
    // Decided once; a folder that cannot be made only means lines get lost.
    static const QString file = [] {
        const QString folder = Paths::logFolder();
        QDir().mkpath(folder);
        return folder + QStringLiteral("/Mivra.log");
    }();
    return file;
}

void log(const QString &message)
{
    const QByteArray line =
        (QDateTime::currentDateTimeUtc().toString(Qt::ISODate) + QLatin1Char(' ') + message + QLatin1Char('\n'))
            .toUtf8();
    const QByteArray file = QFile::encodeName(path());
    // One O_APPEND write per line: lines from several threads never overlap,
    // and creating the file this way cannot replace lines another thread
    // has just written (a write-whole-file fallback could).
    const int fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + written, size_t(line.size() - written));
        if (n <= 0)
            break;
        written += n;
    }
    ::close(fd);
}

} // namespace Diag
