#pragma once

#include "base/Errors.h"

#include <QString>
#include <QStringList>

#include <optional>

class PreferenceStore;

class InstallError : public MivraError {
public:
    using MivraError::MivraError;
};

// Puts the running bundle where the desktop finds it, so the launcher entry,
// mivra:// links and the portal's memory of the screen choice all point at
// one copy. The applications folders are MIVRA_INSTALL_DIR, ~/Applications
// and /opt; the install goes to MIVRA_INSTALL_DIR, or else ~/Applications
// (no administrator rights needed). Paths are compared resolved and clean.
namespace Installation {
inline constexpr auto kLeftoverKey = "setupLeftoverCopy";

QString installDir();
QString userApplications();
bool isInApplications(const QString &path);
// Bundles with our identifier directly inside `folder` (or every
// applications folder), except the running one.
QStringList findOldCopies(const std::optional<QString> &folder, const QString &running);
// Linux has no translocated mounts: the path itself.
QString originalLocation(const QString &path);
// Moves each existing path to the Trash, stopping at the first failure.
// Throws InstallError.
void trash(const QStringList &paths);
// Trashes what is at `destination`, copies `source` there (through a
// temporary name, so a failed copy leaves no half bundle), trashes the
// other old copies. Throws InstallError.
void copyIntoApplications(const QString &source, const QString &destination, const QStringList &oldCopies);
// Trashes the downloaded copy unless it is the kept one or sits in an
// applications folder; a failure is remembered under kLeftoverKey.
void removeOriginal(const std::optional<QString> &download, const QString &kept, PreferenceStore &store);
// Writes the installed copy's launcher entry (video.mivra.mac.desktop) into
// $XDG_DATA_HOME/applications, in place of an old copy's, so the desktop
// and mivra:// links start this copy. Returns the entry's path.
QString writeDesktopEntry(const QString &bundle);
QString desktopEntryPath();
} // namespace Installation
