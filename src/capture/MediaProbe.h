#pragma once

#include <QString>

#include <optional>

// The duration of a media file in milliseconds, truncated toward zero;
// nullopt when the file cannot be read or its duration is unknown.
std::optional<qint64> probeDurationMs(const QString &path);
