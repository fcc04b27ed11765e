#include "platform/AppLauncher.h"

#include <QProcess>

bool ProcessLauncher::launch(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment, QString *error)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (error)
        *error = process.errorString();
    return false;
}
