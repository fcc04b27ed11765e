#include "main/ServiceCommands.h"

#include "app/ByteCountText.h"
#include "base/Errors.h"
#include "platform/FilePreferenceStore.h"
#include "service/ServiceOrigin.h"
#include "service/ThumbnailFiles.h"

#include <QElapsedTimer>

#include "platform/SingleInstance.h"

#include <QFile>

#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Passes every call on to the uploader and remembers why a list request
// failed: the library's refresh stays quiet about it, the command line may not.
class CommandLineLinks::ListErrorMemo final : public VideoService {
public:
    explicit ListErrorMemo(VideoService &inner) : m_inner(inner) {}

    QCoro::Task<VideoList> listVideos() override
    {
        failure.reset();
        try {
            co_return co_await m_inner.listVideos();
        } catch (const MivraError &error) {
            failure = error.description();
        } catch (const std::exception &error) {
            failure = QString::fromUtf8(error.what());
        }
        throw MivraError(failure.value_or(QString()));
    }
    QCoro::Task<> deleteVideo(QString id) override { return m_inner.deleteVideo(std::move(id)); }
    QCoro::Task<TitleResponse> rename(QString id, QString title) override
    {
        return m_inner.rename(std::move(id), std::move(title));
    }
    QCoro::Task<KeepResponse> setExpiry(QString id, Lifetime lifetime) override
    {
        return m_inner.setExpiry(std::move(id), lifetime);
    }

    std::optional<QString> failure;

private:
    VideoService &m_inner;
};

CommandLineLinks::CommandLineLinks()
    : m_store(std::make_unique<FilePreferenceStore>()),
      m_uploader(std::make_shared<Uploader>(serviceOrigin(), *m_store)),
      m_service(std::make_unique<ListErrorMemo>(*m_uploader)),
      m_library(
          std::make_unique<LinkLibrary>(*m_store, *m_service, &ThumbnailFiles::remove, serviceOrigin().toString()))
{
    QObject::connect(m_library.get(), &LinkLibrary::failed, m_library.get(),
                     [this](const QString &text) { m_editFailure = text; });
}

CommandLineLinks::~CommandLineLinks() = default;

PreferenceStore &CommandLineLinks::store()
{
    return *m_store;
}

std::optional<QString> CommandLineLinks::refreshFailure() const
{
    return m_service->failure;
}

const RecentLink *CommandLineLinks::find(const QString &id) const
{
    for (const RecentLink &link : m_library->recent())
        if (link.id == id)
            return &link;
    return nullptr;
}

namespace ServiceCommands {

bool appIsRunning()
{
    return SingleInstance::someoneListens(SingleInstance::defaultSocketPath());
}

int runToEnd(QCoreApplication &app, QCoro::Task<int> task)
{
    int status = 1;
    bool done = false;
    QCoro::connect(std::move(task), &app, [&](int result) {
        status = result;
        done = true;
        QCoreApplication::quit();
    });
    if (!done)
        app.exec();
    return status;
}

QString lifetimeRefusal(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"') +
           QStringLiteral(" isn't a length we can use. Try 12h, 3d, 2w, 3mo or 1y: at least an hour, at most 10 "
                          "years.");
}

namespace {
bool g_liveBar = false;
}

namespace {
QString figuresText(qint64 sent, qint64 total)
{
    if (total >= 1000 * 1000)
        return ByteCountText::megabytes(sent) + QStringLiteral(" of ") + ByteCountText::megabytes(total) +
               QStringLiteral(" MB");
    return ByteCountText::kilobytes(sent) + QStringLiteral(" of ") + ByteCountText::kilobytes(total) +
           QStringLiteral(" KB");
}
} // namespace

UploadProgress stderrProgress()
{
    const bool terminal = ::isatty(::fileno(stderr)) == 1;
    auto lastTenth = std::make_shared<int>(-1);
    auto lastDraw = std::make_shared<QElapsedTimer>();
    // Reports come by the thousand and on the thread that feeds the upload:
    // decide cheaply whether to show one before formatting anything.
    return [terminal, lastTenth, lastDraw](qint64 sent, qint64 total) {
        const int percent = total > 0 ? int(sent * 100 / total) : 100;
        if (terminal) {
            if (lastDraw->isValid() && lastDraw->elapsed() < 100 && sent < total)
                return;
            lastDraw->start();
            const int width = 30;
            const int filled = percent * width / 100;
            std::fprintf(stderr, "\r[%s%s] %3d%%  %s", QByteArray(filled, '#').constData(),
                         QByteArray(width - filled, ' ').constData(), percent, qPrintable(figuresText(sent, total)));
            std::fflush(stderr);
            g_liveBar = true;
            return;
        }
        const int tenth = percent / 10;
        if (tenth == *lastTenth)
            return;
        *lastTenth = tenth;
        std::fprintf(stderr, "uploaded %d%% (%s)\n", percent, qPrintable(figuresText(sent, total)));
    };
}

void endProgress()
{
    if (g_liveBar)
        std::fputc('\n', stderr);
    g_liveBar = false;
}

} // namespace ServiceCommands
