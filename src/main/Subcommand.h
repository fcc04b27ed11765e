#pragma once

#include <QStringList>

#include <vector>

// `mivra NAME ARGS...`: one file per subcommand registers itself with
//
//   namespace { const bool registered = registerSubcommand({"links", "links",
//       "list the recent links", &runLinks}); }
//
// and `mivra --help` lists it. A subcommand makes its own application object
// from argc/argv and returns the exit status: 0 on success, 1 on failure,
// 2 for a usage error (see usageError).
struct Subcommand {
    const char *name;
    const char *synopsis; // "record --seconds N"
    const char *summary;  // one line
    int (*run)(int argc, char **argv, const QStringList &arguments);
    const char *options = nullptr; // lines for `mivra NAME --help`, after the summary
};

bool registerSubcommand(const Subcommand &command);
const std::vector<Subcommand> &subcommands();
const Subcommand *findSubcommand(const QString &name);
// Runs the command, or prints its usage and returns 0 when the arguments ask
// for help (-h, --help).
int runSubcommand(const Subcommand &command, int argc, char **argv, const QStringList &arguments);

// Prints "mivra: <message>" and the hint to --help on stderr; returns 2.
int usageError(const QString &message);
// Prints "mivra: <message>" on stderr; returns 1.
int failure(const QString &message);
