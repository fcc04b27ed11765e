// `mivra update [--check]`: looks for a newer Mivra Video in the update feed
// and, without --check, installs it in place of this bundle.
#include "main/Subcommand.h"

#include "setup/BusyMarker.h"
#include "setup/Updates.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QNetworkAccessManager>

#include <cstdio>

namespace {
using State = Updates::State;

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QCoro::Task<int> update(Updates &updates, bool checkOnly)
{
    if (!co_await updates.check())
        co_return failure(QStringLiteral("Mivra Video is recording or uploading; check for updates once it is done."));
    if (updates.state() == State::failed)
        co_return failure(updates.message());
    if (updates.state() == State::packaged)
        co_return checkOnly ? (say(updates.message()), 0) : failure(updates.message());
    say(updates.message());
    if (checkOnly || updates.state() != State::available)
        co_return 0;
    QObject::connect(&updates, &Updates::changed, &updates, [&updates, last = State::available]() mutable {
        if (updates.state() != last && (updates.state() == State::downloading || updates.state() == State::installing))
            std::fprintf(stderr, "%s\n", qPrintable(updates.message()));
        last = updates.state();
    });
    co_await updates.install();
    if (updates.state() != State::installed)
        co_return failure(updates.message());
    say(updates.message());
    co_return 0;
}

int runUpdate(int argc, char **argv, const QStringList &arguments)
{
    const bool checkOnly = arguments == QStringList{QStringLiteral("--check")};
    if (!arguments.isEmpty() && !checkOnly)
        return usageError(QStringLiteral("update takes only --check"));
    QCoreApplication app(argc, argv);
    QNetworkAccessManager network;
    Updates::Config config = Updates::configFromEnvironment();
    config.mayCheck = [] { return !BusyMarker::runningAppIsBusy(); };
    Updates updates(std::move(config), &network);
    int status = 1;
    QCoro::connect(update(updates, checkOnly), &app, [&](int result) {
        status = result;
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    return status;
}

const bool registered =
    registerSubcommand({"update", "update [--check]", "install the newest Mivra Video from the update feed", &runUpdate,
                        "  --check  only say whether a newer version is available\n"});
} // namespace
