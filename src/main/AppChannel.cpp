#include "main/AppChannel.h"

#include "main/ServiceCommands.h"
#include "main/Subcommand.h"

#include "app/SignalGate.h"
#include "platform/SingleInstance.h"

#include <QCoroSignal>
#include <QJsonArray>

#include <cstdio>

namespace AppChannel {

QCoro::Task<Result> ask(QJsonObject request, Handlers handlers)
{
    InstanceClient client;
    Result result;
    SignalGate over;
    const UploadProgress progress = ServiceCommands::stderrProgress();
    QObject::connect(&client, &InstanceClient::unsupported, &over,
                     [&result] { result.outcome = Outcome::unsupported; });
    QObject::connect(&client, &InstanceClient::closed, &over, &SignalGate::open);
    QObject::connect(&client, &InstanceClient::message, &over, [&](const QJsonObject &line) {
        if (handlers.message)
            handlers.message(line);
        if (line.contains(QStringLiteral("progress"))) {
            ServiceCommands::endProgress();
            std::fprintf(stderr, "%s\n", qPrintable(line.value(QStringLiteral("progress")).toString()));
        }
        if (line.contains(QStringLiteral("upload"))) {
            const QJsonArray figures = line.value(QStringLiteral("upload")).toArray();
            progress(qint64(figures.at(0).toDouble()), qint64(figures.at(1).toDouble()));
        }
        if (line.contains(QStringLiteral("exit"))) {
            ServiceCommands::endProgress();
            result.outcome = Outcome::done;
            result.status = line.value(QStringLiteral("exit")).toInt(1);
            const QString out = line.value(QStringLiteral("out")).toString();
            const QString error = line.value(QStringLiteral("error")).toString();
            if (!out.isEmpty())
                std::printf("%s\n", qPrintable(out));
            if (!error.isEmpty())
                failure(error);
        }
    });
    if (!client.start(SingleInstance::defaultSocketPath(), request))
        co_return Result{Outcome::noApp, 1};
    if (handlers.opened)
        handlers.opened(client);
    if (!over.isOpen())
        co_await qCoro(&over, &SignalGate::opened);
    if (result.outcome == Outcome::noApp) {
        // Gone without a last word.
        result.outcome = Outcome::done;
        result.status = failure(QStringLiteral("The running Mivra Video went away before it answered."));
    }
    std::fflush(stdout);
    co_return result;
}

void sayOlderApp(const char *consequence)
{
    std::fprintf(stderr, "mivra: the running Mivra Video is older and cannot answer the command line; %s\n",
                 consequence);
}

} // namespace AppChannel
