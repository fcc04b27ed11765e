#pragma once

#include <QList>
#include <QUrl>

// `mivra [URL...]`: hands the URLs to the running app, or becomes it.
namespace AppLaunch {
// Called first thing in main, so start-up time can be measured.
void markProcessStart();
int run(int argc, char **argv, const QList<QUrl> &urls);
} // namespace AppLaunch
