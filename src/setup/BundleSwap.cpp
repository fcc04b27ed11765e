#include "setup/BundleSwap.h"

#include "base/Diag.h"
#include "platform/Trash.h"
#include "setup/BundleInfo.h"
#include "setup/UpdateError.h"

#include <QCoroProcess>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

namespace {
// Exchanges two paths in one step where the file system allows it, so there
// is never a moment without an installed copy.
bool exchange(const QString &a, const QString &b, QString *error)
{
    const QByteArray from = QFile::encodeName(a), to = QFile::encodeName(b);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // No exchange here: move the old copy aside, then the new one in, and
    // put the old one back if the second step fails.
    const QByteArray aside = QFile::encodeName(a + QStringLiteral(".old"));
    if (::rename(to.constData(), aside.constData()) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::rename(from.constData(), to.constData()) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::rename(aside.constData(), to.constData());
        return false;
    }
    return ::rename(aside.constData(), from.constData()) == 0;
}
} // namespace

QCoro::Task<> BundleSwap::replace(QString archive, QString installedFolder)
{
    const QFileInfo installed(installedFolder);
    QTemporaryDir staging(installed.absolutePath() + QStringLiteral("/.mivra-update-XXXXXX"));
    if (!staging.isValid())
        throw UpdateError(QStringLiteral("The update could not be unpacked: the folder %1 is not writable.")
                              .arg(QDir::toNativeSeparators(installed.absolutePath())));

    QProcess tar;
    tar.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList arguments{QStringLiteral("-xJf"), archive, QStringLiteral("-C"), staging.path(),
                                QStringLiteral("--no-same-owner")};
    co_await qCoro(tar).start(QStringLiteral("tar"), arguments);
    co_await qCoro(tar).waitForFinished(std::chrono::minutes(5));
    if (tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0) {
        const QString why = QString::fromLocal8Bit(tar.readAll()).trimmed().section(QLatin1Char('\n'), 0, 0);
        throw UpdateError(
            QStringLiteral("The update could not be unpacked (%1).").arg(why.isEmpty() ? tar.errorString() : why));
    }

    const QStringList entries = QDir(staging.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const auto bundle = entries.size() == 1 ? BundleInfo::read(staging.filePath(entries.first())) : std::nullopt;
    if (!bundle || !bundle->isOurs())
        throw UpdateError(QStringLiteral("The download does not hold a Mivra Video bundle; nothing was changed."));

    QString error;
    if (!exchange(bundle->path, installed.absoluteFilePath(), &error))
        throw UpdateError(
            QStringLiteral("The new version could not take the old one's place (%1); nothing was changed.").arg(error));
    Diag::log(QStringLiteral("update: installed version %1 at %2").arg(bundle->version, installed.absoluteFilePath()));

    // The old copy now sits where the new one was unpacked.
    if (Trash::moveToTrash(bundle->path))
        Diag::log(QStringLiteral("update: moved the old version to Trash"));
    else
        QDir(bundle->path).removeRecursively();
}
