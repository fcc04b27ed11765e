#pragma once

#include <QCoroTask>
#include <QString>

// Puts a downloaded bundle archive (.tar.xz) in the place of the installed
// bundle folder. The archive is unpacked into a hidden folder beside the
// installed one (same file system), checked to hold one bundle of ours, and
// swapped in with one atomic rename; the old copy then goes to the Trash.
// Throws UpdateError; until the rename the installed folder is not touched.
namespace BundleSwap {
QCoro::Task<> replace(QString archive, QString installedFolder);
} // namespace BundleSwap
