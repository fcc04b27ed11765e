// `mivra links [--json]` and its edits: refresh, rename, expire, delete.
#include "main/AppChannel.h"
#include "main/ServiceCommands.h"
#include "main/Subcommand.h"

#include "app/DateFormatters.h"
#include "base/Errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

QString isoUtc(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

void printLinks(const QList<RecentLink> &links, bool json)
{
    if (json) {
        QJsonArray array;
        for (const RecentLink &link : links)
            array.append(QJsonObject{{QStringLiteral("id"), link.id},
                                     {QStringLiteral("shareUrl"), link.shareUrl},
                                     {QStringLiteral("title"), link.title},
                                     {QStringLiteral("createdAt"), isoUtc(link.createdAt)},
                                     {QStringLiteral("expiresAt"), isoUtc(link.expiresAt)}});
        std::printf("%s\n", QJsonDocument(array).toJson(QJsonDocument::Indented).constData());
        return;
    }
    // As the end-date prompt tells it: more than 100 years away is forever.
    const QDateTime farAway = QDateTime::currentDateTimeUtc().addSecs(3153600000);
    for (const RecentLink &link : links) {
        const QString expiry = link.expiresAt > farAway ? QStringLiteral("kept forever")
                                                        : QStringLiteral("expires ") +
                                                              DateFormatters::whenText(link.expiresAt.toLocalTime());
        std::printf("%s\t%s\t%s\t%s\n", qPrintable(link.id), qPrintable(link.title), qPrintable(expiry),
                    qPrintable(link.shareUrl));
    }
}

struct LinksArguments {
    QString action; // empty: list
    bool json = false;
    QString id;
    QString text;
    std::optional<Lifetime> lifetime;
};

// While the app runs: the service alone is asked; the app's own refresh
// brings the change into its list. Texts as the app's own.
QCoro::Task<int> runOnServiceOnly(CommandLineLinks &links, LinksArguments arguments, RecentLink link)
{
    Uploader &service = links.uploader();
    try {
        if (arguments.action == QLatin1String("rename")) {
            const QString title = arguments.text.trimmed();
            if (!title.isEmpty() && title != link.title)
                co_await service.rename(link.id, title);
        } else if (arguments.action == QLatin1String("expire")) {
            co_await service.setExpiry(link.id, *arguments.lifetime);
        } else {
            co_await service.deleteVideo(link.id);
        }
    } catch (const MivraError &error) {
        const QString prefix = arguments.action == QLatin1String("rename") ? QStringLiteral("Could not rename it: ")
                               : arguments.action == QLatin1String("expire")
                                   ? QStringLiteral("Could not change how long it lasts: ")
                                   : QStringLiteral("Could not delete: ");
        co_return failure(prefix + error.description());
    }
    std::fputs("mivra: done on the service; Mivra Video shows it after its next refresh\n", stderr);
    co_return 0;
}

// While the app runs it does the work on its own list, which is then
// printed from its answer; none when the app is older and cannot answer.
QCoro::Task<std::optional<int>> askApp(LinksArguments arguments)
{
    QJsonObject body{{QStringLiteral("command"), QStringLiteral("links")},
                     {QStringLiteral("action"), arguments.action},
                     {QStringLiteral("id"), arguments.id},
                     {QStringLiteral("text"), arguments.text}};
    if (arguments.lifetime)
        body.insert(QStringLiteral("lifetime"),
                    arguments.lifetime->isForever() ? -1.0 : double(arguments.lifetime->seconds()));
    // Edits print nothing, as without the app.
    const bool print = arguments.action.isEmpty() || arguments.action == QLatin1String("refresh");
    AppChannel::Handlers handlers;
    handlers.message = [&arguments, print](const QJsonObject &line) {
        if (!print || !line.contains(QStringLiteral("links")))
            return;
        const QByteArray json = QJsonDocument(line.value(QStringLiteral("links")).toArray()).toJson();
        printLinks(RecentLinkCoding::decode(json).value_or(QList<RecentLink>{}), arguments.json);
    };
    auto asking = AppChannel::ask(body, handlers);
    const AppChannel::Result result = co_await asking;
    if (result.outcome == AppChannel::Outcome::done)
        co_return result.status;
    if (result.outcome == AppChannel::Outcome::unsupported)
        AppChannel::sayOlderApp("the links are read here and edits reach it at its next refresh.");
    co_return std::nullopt;
}

QCoro::Task<int> runAction(LinksArguments arguments)
{
    if (ServiceCommands::appIsRunning()) {
        auto asking = askApp(arguments);
        if (const std::optional<int> status = co_await asking)
            co_return *status;
    }
    CommandLineLinks links;
    if (arguments.action.isEmpty()) {
        printLinks(links.library().recent(), arguments.json);
        co_return 0;
    }
    if (arguments.action == QLatin1String("refresh")) {
        if (ServiceCommands::appIsRunning()) {
            // The app refreshes on its own; only say whether the service answers.
            try {
                co_await links.uploader().listVideos();
            } catch (const MivraError &error) {
                co_return failure(QStringLiteral("Could not refresh the links: ") + error.description());
            }
            std::fputs("mivra: Mivra Video is running and refreshes its links itself\n", stderr);
            co_return 0;
        }
        co_await links.library().refreshFromServer();
        if (const auto why = links.refreshFailure())
            co_return failure(QStringLiteral("Could not refresh the links: ") + *why);
        printLinks(links.library().recent(), false);
        co_return 0;
    }
    const RecentLink *found = links.find(arguments.id);
    if (!found)
        co_return failure(QStringLiteral("no recent link has the id %1").arg(arguments.id));
    const RecentLink link = *found;
    if (ServiceCommands::appIsRunning())
        co_return co_await runOnServiceOnly(links, arguments, link);
    if (arguments.action == QLatin1String("rename"))
        co_await links.library().rename(link, arguments.text);
    else if (arguments.action == QLatin1String("expire"))
        co_await links.library().setLifetime(link, *arguments.lifetime);
    else
        co_await links.library().deleteLink(link);
    if (const auto why = links.editFailure())
        co_return failure(*why);
    co_return 0;
}

int runLinks(int argc, char **argv, const QStringList &arguments)
{
    LinksArguments parsed;
    const QString action = arguments.value(0);
    if (arguments.isEmpty()) {
    } else if (action == QLatin1String("--json") && arguments.size() == 1) {
        parsed.json = true;
    } else if (action == QLatin1String("refresh") && arguments.size() == 1) {
        parsed.action = action;
    } else if (action == QLatin1String("rename") && arguments.size() == 3) {
        parsed = LinksArguments{action, false, arguments[1], arguments[2], std::nullopt};
    } else if (action == QLatin1String("expire") && arguments.size() == 3) {
        parsed = LinksArguments{action, false, arguments[1], {}, Lifetime::parse(arguments[2])};
        if (!parsed.lifetime)
            return usageError(ServiceCommands::lifetimeRefusal(arguments[2]));
    } else if (action == QLatin1String("delete") && arguments.size() == 2) {
        parsed = LinksArguments{action, false, arguments[1], {}, std::nullopt};
    } else {
        return usageError(QStringLiteral("links takes --json, or refresh, rename ID TITLE, expire ID LIFETIME or "
                                         "delete ID"));
    }
    QCoreApplication app(argc, argv);
    return ServiceCommands::runToEnd(app, runAction(std::move(parsed)));
}

const bool registered = registerSubcommand({"links", "links [--json]",
                                            "list the recent links (also: links refresh, links rename ID "
                                            "TITLE, links expire ID LIFETIME, links delete ID)",
                                            &runLinks});

} // namespace
