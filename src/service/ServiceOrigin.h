#pragma once

#include <QUrl>

// Where the sharing service lives: MIVRA_SERVICE_ORIGIN from the environment
// when it holds an http(s) origin, otherwise the origin this build was
// configured with. Always without a trailing slash.
QUrl serviceOrigin();

// The same decision with the environment value given, for tests.
QUrl serviceOriginFrom(const QString &environmentValue);
