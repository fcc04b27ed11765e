#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Starts another copy of the app (a freshly installed or updated bundle) as
// its own process, which outlives this one.
class AppLauncher {
public:
    virtual ~AppLauncher() = default;
    // False with `error` set when the program could not be started.
    virtual bool launch(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                        QString *error) = 0;
};

class ProcessLauncher final : public AppLauncher {
public:
    bool launch(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                QString *error) override;
};
