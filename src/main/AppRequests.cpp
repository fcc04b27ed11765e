#include "main/AppRequests.h"

#include "app/AppState.h"
#include "app/MainThreadTask.h"
#include "base/Diag.h"
#include "base/Errors.h"
#include "platform/SingleInstance.h"
#include "service/Uploader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace {

QString text(const QJsonObject &body, const char *key)
{
    return body.value(QLatin1String(key)).toString();
}

std::optional<bool> flag(const QJsonObject &body, const char *key)
{
    const QJsonValue value = body.value(QLatin1String(key));
    return value.isBool() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

// -1 for forever, else seconds; absent or anything else: none.
std::optional<Lifetime> lifetimeOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const qint64 seconds = qint64(value.toDouble());
    return seconds == -1 ? Lifetime::forever() : Lifetime::ofSeconds(seconds);
}

QJsonArray linksJson(const QList<RecentLink> &links)
{
    return QJsonDocument::fromJson(RecentLinkCoding::encode(links)).array();
}

void progress(InstanceRequest *request, const QString &line)
{
    request->reply({{QStringLiteral("progress"), line}});
}

} // namespace

AppRequests::AppRequests(AppState &state, std::shared_ptr<Uploader> uploader, QObject *parent)
    : QObject(parent), m_state(state), m_uploader(std::move(uploader))
{
}

void AppRequests::serve(InstanceRequest *request)
{
    const QString command = request->command();
    if (command == QLatin1String("record"))
        record(request);
    else if (command == QLatin1String("upload"))
        launchTask(this, [this, request = QPointer<InstanceRequest>(request)] { return upload(request); });
    else if (command == QLatin1String("links"))
        launchTask(this, [this, request = QPointer<InstanceRequest>(request)] { return links(request); });
    else
        request->finish(2, QString(),
                        QStringLiteral("This Mivra Video does not know the command \"%1\".").arg(command));
}

void AppRequests::record(InstanceRequest *request)
{
    if (m_recording || !m_state.phase().is(Phase::Kind::idle)) {
        request->finish(1, QString(), QStringLiteral("A recording is already under way."));
        return;
    }
    m_recording = request;
    const QJsonObject body = request->body();
    AppState::RecordingRequest wanted;
    wanted.microphone = flag(body, "microphone");
    wanted.camera = flag(body, "camera");
    wanted.spot = bubbleSpotFromRawValue(text(body, "spot"));

    QSet<QString> known;
    for (const RecentLink &link : m_state.recent())
        known.insert(link.id);
    // What the command line asked for that could not be done yet.
    enum class Asked { nothing, stop, discard };
    auto asked = std::make_shared<Asked>(Asked::nothing);
    auto discarded = std::make_shared<bool>(false);
    AppState *state = &m_state;
    const auto act = [state, discarded](Asked what) {
        if (what == Asked::discard) {
            *discarded = true;
            launchTask(state, [state] { return state->discardRecording(); });
        } else {
            launchTask(state, [state] { return state->stopRecording(); });
        }
    };

    connect(&m_state, &AppState::phaseChanged, request, [state, request, known, asked, act, discarded] {
        const Phase phase = state->phase();
        switch (phase.kind()) {
        case Phase::Kind::starting:
        case Phase::Kind::finishing:
            break;
        case Phase::Kind::recording:
            request->reply({{QStringLiteral("recording"), true}});
            if (*asked != Asked::nothing)
                act(std::exchange(*asked, Asked::nothing));
            break;
        case Phase::Kind::uploading:
            if (phase.totalBytes() > 0)
                request->reply({{QStringLiteral("upload"), QJsonArray{phase.sentBytes(), phase.totalBytes()}}});
            break;
        case Phase::Kind::idle:
            // The error text of a failure is set just after the phase.
            QMetaObject::invokeMethod(
                request,
                [state, request, known, discarded] {
                    for (const RecentLink &link : state->recent()) {
                        if (!known.contains(link.id))
                            return request->finish(0, link.shareUrl);
                    }
                    if (*discarded) {
                        progress(request, QStringLiteral("Discarded."));
                        return request->finish(1);
                    }
                    request->finish(1, QString(),
                                    state->hasLastError() ? state->lastErrorText()
                                                          : QStringLiteral("No link was made."));
                },
                Qt::QueuedConnection);
            break;
        }
    });
    const auto steer = [state, request, asked, act](const QJsonObject &line) {
        const QString command = text(line, "command");
        const Asked what = command == QLatin1String("discard") ? Asked::discard : Asked::stop;
        const Phase phase = state->phase();
        if (phase.is(Phase::Kind::recording))
            act(what);
        else if (phase.is(Phase::Kind::starting))
            *asked = what;
        else if (what == Asked::discard)
            progress(request, QStringLiteral("The recording is already closed; Mivra Video finishes the upload."));
    };
    connect(request, &InstanceRequest::lineReceived, this, steer);
    // A command line that goes away leaves a finished recording, not a lost one.
    connect(request, &InstanceRequest::abandoned, this, [steer] {
        steer(QJsonObject{{QStringLiteral("command"), QStringLiteral("stop")}});
    });

    m_state.setSilentNext(flag(body, "silent").value_or(false));
    launchTask(state, [state, wanted] { return state->startRecording(wanted); });
}

QCoro::Task<> AppRequests::upload(QPointer<InstanceRequest> request)
{
    const QJsonObject body = request->body();
    UploadJob job;
    job.filePath = text(body, "file");
    job.title = text(body, "title");
    if (body.value(QStringLiteral("durationMs")).isDouble())
        job.durationMs = qint64(body.value(QStringLiteral("durationMs")).toDouble());
    if (body.value(QStringLiteral("width")).isDouble())
        job.width = body.value(QStringLiteral("width")).toInt();
    if (body.value(QStringLiteral("height")).isDouble())
        job.height = body.value(QStringLiteral("height")).toInt();
    job.lifetime = lifetimeOf(body.value(QStringLiteral("lifetime")));
    const QString title = job.title;
    // Reports come from the uploader's threads.
    UploadProgress onProgress = [request](qint64 sent, qint64 total) {
        QMetaObject::invokeMethod(
            request.data(),
            [request, sent, total] {
                if (request)
                    request->reply({{QStringLiteral("upload"), QJsonArray{sent, total}}});
            },
            Qt::QueuedConnection);
    };
    VideoInfo info;
    try {
        auto uploading = m_uploader->uploadFile(std::move(job), std::move(onProgress));
        info = co_await uploading;
    } catch (const MivraError &error) {
        Diag::log(QStringLiteral("upload: command line upload through the app failed: ") + error.debugText());
        if (request)
            request->finish(1, QString(), QStringLiteral("Upload failed: ") + error.description());
        co_return;
    }
    m_state.addRecentLink(RecentLink{info.id, info.shareUrl, title, QDateTime::currentDateTimeUtc(),
                                     RecentLinkCoding::fromEpochMilliseconds(info.expiresAtMs)});
    Diag::log(QStringLiteral("upload ") + info.id + QStringLiteral(": complete, link ") + info.shareUrl);
    if (request)
        request->finish(0, info.shareUrl);
}

QCoro::Task<> AppRequests::links(QPointer<InstanceRequest> request)
{
    const QJsonObject body = request->body();
    const QString action = text(body, "action");
    if (action == QLatin1String("refresh")) {
        // The state's refresh stays quiet when the service cannot be reached; the command line may not.
        try {
            auto listing = m_uploader->listVideos();
            co_await listing;
        } catch (const MivraError &error) {
            if (request)
                request->finish(1, QString(), QStringLiteral("Could not refresh the links: ") + error.description());
            co_return;
        }
        auto refreshing = m_state.refreshFromServer();
        co_await refreshing;
    } else if (!action.isEmpty()) {
        const QString id = text(body, "id");
        std::optional<RecentLink> link;
        for (const RecentLink &each : m_state.recent()) {
            if (each.id == id)
                link = each;
        }
        if (!link) {
            if (request)
                request->finish(1, QString(), QStringLiteral("no recent link has the id %1").arg(id));
            co_return;
        }
        // An edit that fails says so through lastError.
        auto failed = std::make_shared<std::optional<QString>>();
        QObject watch;
        connect(&m_state, &AppState::lastErrorChanged, &watch, [this, failed] {
            if (m_state.hasLastError())
                *failed = m_state.lastErrorText();
        });
        if (action == QLatin1String("rename")) {
            auto renaming = m_state.rename(*link, text(body, "text"));
            co_await renaming;
        } else if (action == QLatin1String("expire")) {
            const std::optional<Lifetime> lifetime = lifetimeOf(body.value(QStringLiteral("lifetime")));
            if (lifetime) {
                auto setting = m_state.setLifetime(*link, *lifetime);
                co_await setting;
            }
        } else {
            auto deleting = m_state.deleteLink(*link);
            co_await deleting;
        }
        if (*failed) {
            if (request)
                request->finish(1, QString(), **failed);
            co_return;
        }
    }
    if (!request)
        co_return;
    request->reply({{QStringLiteral("links"), linksJson(m_state.recent())}});
    request->finish(0);
}
