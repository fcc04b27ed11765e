#include "main/Subcommand.h"

#include <QString>

#include <algorithm>
#include <cstdio>

namespace {
std::vector<Subcommand> &registry()
{
    static std::vector<Subcommand> commands;
    return commands;
}
} // namespace

bool registerSubcommand(const Subcommand &command)
{
    auto &commands = registry();
    const auto at = std::lower_bound(commands.begin(), commands.end(), command,
                                     [](const auto &a, const auto &b) { return qstrcmp(a.name, b.name) < 0; });
    commands.insert(at, command);
    return true;
}

const std::vector<Subcommand> &subcommands()
{
    return registry();
}

const Subcommand *findSubcommand(const QString &name)
{
    for (const Subcommand &command : registry()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

int runSubcommand(const Subcommand &command, int argc, char **argv, const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            QString summary = QString::fromUtf8(command.summary);
            if (!summary.isEmpty())
                summary[0] = summary[0].toUpper();
            std::printf("Usage: mivra %s\n\n%s.\n", command.synopsis, qPrintable(summary));
            if (command.options)
                std::printf("\n%s", command.options);
            return 0;
        }
    }
    return command.run(argc, argv, arguments);
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "mivra: %s\nTry 'mivra --help' for more information.\n", qPrintable(message));
    return 2;
}

int failure(const QString &message)
{
    std::fprintf(stderr, "mivra: %s\n", qPrintable(message));
    return 1;
}
