// `mivra upload FILE [--title TEXT] [--lifetime TEXT]`: uploads an MP4 as a
// recording's upload does, adds it to the recent links and prints the link.
#include "main/AppChannel.h"
#include "main/ServiceCommands.h"
#include "main/Subcommand.h"
#include "main/ThumbnailCache.h"

#include "app/LeftBehindRecordings.h"
#include "app/Preferences.h"
#include "app/RecentLink.h"
#include "base/Diag.h"
#include "base/Errors.h"
#include "base/Paths.h"
#include "capture/UploadProbe.h"
#include "service/Thumbs.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <cstdio>

namespace {

struct UploadArguments {
    QString file;
    std::optional<QString> title;
    std::optional<Lifetime> lifetime;
};

// The most characters the service takes in a title.
constexpr qsizetype kMaxTitleCharacters = 1000;

// Why the file or title cannot go up, in a sentence, before anything is sent.
std::optional<QString> refusalBeforeUpload(const QString &file, const MediaFacts &facts, const QString &title)
{
    if (!facts.readable || !facts.width || !facts.height)
        return QStringLiteral("%1 has no video in it; only videos can be shared.").arg(file);
    if (title.toUcs4().size() > kMaxTitleCharacters)
        return QStringLiteral("The title is longer than %1 characters; shorten it.").arg(kMaxTitleCharacters);
    return std::nullopt;
}

QCoro::Task<int> uploadFile(UploadArguments arguments)
{
    const MediaFacts facts = probeMediaFacts(arguments.file);
    const QString title = arguments.title.value_or(QFileInfo(arguments.file).completeBaseName());
    if (const std::optional<QString> refusal = refusalBeforeUpload(arguments.file, facts, title))
        co_return failure(*refusal);
    CommandLineLinks links;
    // Without --lifetime the default for new videos applies, as in the app.
    const std::optional<Lifetime> lifetime =
        arguments.lifetime ? arguments.lifetime : Preferences(links.store()).newVideoLifetime();

    if (ServiceCommands::appIsRunning()) {
        // The app uploads, so the link enters its recent list at once.
        QJsonObject body{{QStringLiteral("command"), QStringLiteral("upload")},
                         {QStringLiteral("file"), QFileInfo(arguments.file).absoluteFilePath()},
                         {QStringLiteral("title"), title}};
        if (facts.durationMs)
            body.insert(QStringLiteral("durationMs"), double(*facts.durationMs));
        if (facts.width && facts.height) {
            body.insert(QStringLiteral("width"), *facts.width);
            body.insert(QStringLiteral("height"), *facts.height);
        }
        if (lifetime)
            body.insert(QStringLiteral("lifetime"), lifetime->isForever() ? -1.0 : double(lifetime->seconds()));
        auto asking = AppChannel::ask(body);
        const AppChannel::Result result = co_await asking;
        if (result.outcome == AppChannel::Outcome::done)
            co_return result.status;
        if (result.outcome == AppChannel::Outcome::unsupported)
            AppChannel::sayOlderApp("the file goes up from here.");
    }

    UploadJob job{arguments.file, title, facts.durationMs, facts.width, facts.height, lifetime};
    VideoInfo info;
    try {
        info = co_await links.uploader().uploadFile(std::move(job), ServiceCommands::stderrProgress());
    } catch (const MivraError &error) {
        ServiceCommands::endProgress();
        Diag::log(
            QStringLiteral("upload: command line upload of %1 failed: %2").arg(arguments.file, error.debugText()));
        co_return failure(QStringLiteral("Upload failed: ") + error.description());
    }
    ServiceCommands::endProgress();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (ServiceCommands::appIsRunning()) {
        std::fputs("mivra: Mivra Video is running, so the link is not added to its recent links\n", stderr);
    } else {
        links.library().addNew(
            RecentLink{info.id, info.shareUrl, title, now, RecentLinkCoding::fromEpochMilliseconds(info.expiresAtMs)});
        // Its picture in the list, from the file at hand rather than a download.
        co_await sharedThumbs()->make(info.id, QUrl::fromLocalFile(QFileInfo(arguments.file).absoluteFilePath()));
    }
    Diag::log(QStringLiteral("upload ") + info.id + QStringLiteral(": complete, link ") + info.shareUrl);
    std::printf("%s\n", qPrintable(info.shareUrl));
    // A recording the app left behind is done with once it is up, as after the
    // app's own upload; any other file is the user's own and stays.
    const QFileInfo uploaded(arguments.file);
    if (uploaded.absolutePath() == QFileInfo(Paths::recordingsFolder()).absoluteFilePath() &&
        LeftBehindRecordings::recordedAt(uploaded.fileName()) && QFile::remove(uploaded.absoluteFilePath()))
        Diag::log(QStringLiteral("upload: removed the uploaded recording ") + uploaded.fileName());
    co_return 0;
}

int runUpload(int argc, char **argv, const QStringList &arguments)
{
    UploadArguments parsed;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--title") && i + 1 < arguments.size()) {
            parsed.title = arguments[++i];
        } else if (argument == QLatin1String("--lifetime") && i + 1 < arguments.size()) {
            const QString text = arguments[++i];
            parsed.lifetime = Lifetime::parse(text);
            // Refused before anything is sent.
            if (!parsed.lifetime)
                return usageError(ServiceCommands::lifetimeRefusal(text));
        } else if (argument.startsWith(QLatin1String("--")) || !parsed.file.isEmpty()) {
            return usageError(QStringLiteral("unknown argument '%1' for upload").arg(argument));
        } else {
            parsed.file = argument;
        }
    }
    if (parsed.file.isEmpty())
        return usageError(QStringLiteral("upload needs the file to send"));
    const QFileInfo info(parsed.file);
    if (!info.isFile() || !info.isReadable())
        return failure(QStringLiteral("cannot read %1").arg(parsed.file));
    if (parsed.title && parsed.title->trimmed().isEmpty())
        return usageError(QStringLiteral("--title needs a text"));

    QCoreApplication app(argc, argv);
    return ServiceCommands::runToEnd(app, uploadFile(std::move(parsed)));
}

const bool registered = registerSubcommand(
    {"upload", "upload FILE [--title TEXT] [--lifetime TEXT]", "upload an MP4 and print its share link", &runUpload});

} // namespace
