#include "app/CommandUrl.h"

#include "app/AppState.h"
#include "app/MainThreadTask.h"

bool CommandUrl::hasOurScheme(const QUrl &url)
{
    return url.scheme().compare(QLatin1String(kScheme), Qt::CaseInsensitive) == 0;
}

std::optional<CommandUrl> CommandUrl::parse(const QUrl &url)
{
    if (!url.isValid() || !hasOurScheme(url))
        return std::nullopt;
    // QUrl lower-cases the host; an absent query reads as empty text.
    const QString host = url.host();
    const QString query = url.query();
    CommandUrl parsed;
    if (host == QLatin1String("record")) {
        parsed.command = Command::record;
        parsed.flag = url.hasQuery() && query.contains(QLatin1String("silent=1"));
    } else if (host == QLatin1String("stop")) {
        parsed.command = Command::stop;
    } else if (host == QLatin1String("discard")) {
        parsed.command = Command::discard;
    } else if (host == QLatin1String("show")) {
        parsed.command = Command::show;
    } else if (host == QLatin1String("demo")) {
        parsed.command = Command::demo;
        parsed.flag = !(url.hasQuery() && query.contains(QLatin1String("off")));
    } else {
        return std::nullopt;
    }
    return parsed;
}

namespace {

void whenStarted(AppState &state, std::function<QCoro::Task<>()> work)
{
    if (!state.phase().is(Phase::Kind::starting)) {
        launchTask(&state, std::move(work));
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&state, &AppState::phaseChanged, &state, [&state, connection, work] {
        if (state.phase().is(Phase::Kind::starting))
            return;
        QObject::disconnect(*connection);
        launchTask(&state, work);
    });
}

// A stop or discard that comes while the recording is still starting is
// carried out once it has started: ignored, it would leave a recording that
// the sender believes stopped running on with nobody to stop it. The phase
// is read after the start queued before it has begun, so "record" and "stop"
// in one launch work too.
void onceStarted(AppState &state, std::function<QCoro::Task<>()> work)
{
    QMetaObject::invokeMethod(
        &state, [&state, work = std::move(work)] { whenStarted(state, work); }, Qt::QueuedConnection);
}

} // namespace

void handleCommandUrls(AppState &state, const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        const auto parsed = CommandUrl::parse(url);
        if (!parsed)
            continue;
        switch (parsed->command) {
        case CommandUrl::Command::record:
            state.setSilentNext(parsed->flag);
            launchTask(&state, [&state] { return state.startRecording(); });
            break;
        case CommandUrl::Command::stop:
            onceStarted(state, [&state] { return state.stopRecording(); });
            break;
        case CommandUrl::Command::discard:
            onceStarted(state, [&state] { return state.discardRecording(); });
            break;
        case CommandUrl::Command::show:
            state.showMain();
            break;
        case CommandUrl::Command::demo:
            state.setDemoMode(parsed->flag);
            break;
        }
    }
}
