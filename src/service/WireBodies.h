#pragma once

#include "base/Lifetime.h"
#include "service/WireRecords.h"

#include <QByteArray>
#include <QMap>

#include <optional>

// Request bodies, serialised compactly. Optional keys are left out when not
// given; a lifetime travels as its wire value (seconds, or "forever").
namespace WireBodies {

QByteArray create(const QString &title, std::optional<qint64> durationMs, std::optional<int> width,
                  std::optional<int> height, const std::optional<Lifetime> &lifetime);

// One entry per uploaded part, keyed by our part number; the entries go out
// in ascending order carrying the service's own partNumber and etag.
QByteArray complete(const QMap<qint64, PartResponse> &parts, std::optional<qint64> durationMs, std::optional<int> width,
                    std::optional<int> height);

QByteArray title(const QString &title);
QByteArray expiry(const Lifetime &lifetime);

} // namespace WireBodies
