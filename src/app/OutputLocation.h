#pragma once

#include "base/Errors.h"

#include <QDateTime>
#include <QString>

class OutputLocationError : public MivraError {
public:
    using MivraError::MivraError;
};

// Where a new recording is written: the Videos folder + "Mivra", file
// "Mivra yyyy-MM-dd HH.mm.ss.mp4" in local time.
namespace OutputLocation {
QString fileName(const QDateTime &localTime);
// Makes the folder when missing; throws OutputLocationError when it cannot.
QString make(const QString &folder, const QDateTime &localTime);
} // namespace OutputLocation
