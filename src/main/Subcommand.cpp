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
