// mivra-server: the reference sharing service of Mivra Video.
#include "Log.h"
#include "ServerApp.h"
#include "ServerConfig.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>

#ifndef MIVRA_VERSION
#define MIVRA_VERSION "unknown"
#endif

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedArgs parsed = parseArgs(args);
    if (parsed.help) {
        std::cout << usageText();
        return 0;
    }
    if (parsed.version) {
        std::cout << "mivra-server " << MIVRA_VERSION << "\n";
        return 0;
    }
    if (!parsed.config) {
        std::cerr << "mivra-server: " << parsed.error << "\n";
        return 2;
    }
    const ServerConfig &config = *parsed.config;

    // SIGINT and SIGTERM are taken by sigwait below; every thread made from
    // here on inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    SystemClock clock;
    std::unique_ptr<ServerApp> app;
    try {
        app = std::make_unique<ServerApp>(config, clock);
    } catch (const std::exception &e) {
        std::cerr << "mivra-server: " << e.what() << "\n";
        return 1;
    }
    const RecoveryReport &r = app->recovery();
    if (r.orphanMediaRemoved || r.orphanUploadsRemoved || r.rowsWithoutMediaRemoved || r.partRowsRemoved ||
        r.completesFinished)
        logLine("recovery: finished " + std::to_string(r.completesFinished) + " accepted completes; removed " +
                std::to_string(r.orphanMediaRemoved) + " unrecorded media files, " +
                std::to_string(r.orphanUploadsRemoved) + " orphan upload files, " +
                std::to_string(r.rowsWithoutMediaRemoved) + " videos whose file was missing, " +
                std::to_string(r.partRowsRemoved) + " part records whose bytes were missing");
    const SweepReport &swept = app->startupSweep();
    if (swept.expiredRemoved || swept.staleUploadsRemoved)
        logLine("start-up sweep: removed " + std::to_string(swept.expiredRemoved) + " expired videos and " +
                std::to_string(swept.staleUploadsRemoved) + " uploads never completed");
    app->start();

    std::printf("listening on %s\n", app->listenUrl().c_str());
    std::fflush(stdout);
    logLine("mivra-server " MIVRA_VERSION " serving " + app->listenUrl() + ", share links at " + app->publicOrigin() +
            "/v/<id>, data in " + config.dataDir.string());

    int sig = 0;
    sigwait(&stopSignals, &sig);
    logLine(std::string("stopping on ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
    app->stop();
    return 0;
}
