#include "main/AppLaunch.h"
#include "main/Subcommand.h"

#include "app/CommandUrl.h"

#include <QString>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace {
const char *const kUsageHead = "Usage: mivra [URL...]\n"
                               "       mivra COMMAND [ARGUMENTS...]\n"
                               "       mivra --help | --version\n"
                               "\n"
                               "Records the screen and turns each recording into a share link.\n"
                               "\n"
                               "With no arguments, starts Mivra Video in the system tray, or brings the\n"
                               "running one forward. Each URL is a command for the app, carried out in\n"
                               "order; when the app already runs, it receives them and this exits.\n"
                               "\n"
                               "URLs:\n"
                               "  mivra://record             start a recording\n"
                               "  mivra://record?silent=1    start one whose link is only copied, not opened\n"
                               "  mivra://stop               finish the recording and upload it\n"
                               "  mivra://discard            throw the recording away\n"
                               "  mivra://show               show the main window\n"
                               "  mivra://demo               keep the main window up while recording\n"
                               "  mivra://demo?off           minimise it again while recording\n";

const char *const kUsageTail = "\n"
                               "Options:\n"
                               "  -h, --help       show this help and exit\n"
                               "  -V, --version    show the version and exit\n"
                               "\n"
                               "Exit status: 0 on success, 1 on failure, 2 for a usage error.\n";

void printUsage()
{
    std::fputs(kUsageHead, stdout);
    if (!subcommands().empty()) {
        std::fputs("\nCommands:\n", stdout);
        for (const Subcommand &command : subcommands()) {
            // Long synopses get a line of their own, like the URLs above.
            if (std::strlen(command.synopsis) > 24)
                std::printf("  %s\n  %-24s %s\n", command.synopsis, "", command.summary);
            else
                std::printf("  %-24s %s\n", command.synopsis, command.summary);
        }
    }
    std::fputs(kUsageTail, stdout);
}
} // namespace

int main(int argc, char **argv)
{
    AppLaunch::markProcessStart();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    if (!arguments.isEmpty()) {
        if (const Subcommand *command = findSubcommand(arguments.front()))
            return runSubcommand(*command, argc, argv, arguments.mid(1));
    }

    QList<QUrl> urls;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            printUsage();
            return 0;
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("-V")) {
            std::printf("mivra %s\n", MIVRA_VERSION);
            return 0;
        }
    }
    for (const QString &argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')))
            return usageError(QStringLiteral("unknown option '%1'").arg(argument));
        const QUrl url(argument, QUrl::StrictMode);
        if (!url.isValid() || !CommandUrl::hasOurScheme(url)) {
            if (!argument.contains(QLatin1Char(':')))
                return usageError(QStringLiteral("unknown command '%1'").arg(argument));
            return usageError(QStringLiteral("not a mivra:// URL: '%1'").arg(argument));
        }
        urls.append(url);
    }
    return AppLaunch::run(argc, argv, urls);
}
