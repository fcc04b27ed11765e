#include "service/Thumbs.h"

#include "base/Diag.h"
#include "service/ThumbnailFiles.h"

#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QMutexLocker>
#include <QPromise>
#include <QSaveFile>

namespace {
// Thumbnails are small, but each decodes a full-size video: two at a time
// keep a core free for the window and the recording.
constexpr int kThreads = 2;
} // namespace

Thumbs::Thumbs(QUrl serviceOrigin, std::shared_ptr<FrameGrabber> grabber)
    : m_origin(std::move(serviceOrigin)), m_grabber(std::move(grabber))
{
    m_pool.setMaxThreadCount(kThreads);
}

Thumbs::~Thumbs()
{
    m_pool.waitForDone();
}

QString Thumbs::dir()
{
    const QString folder = ThumbnailFiles::folder();
    return QDir().mkpath(folder) ? folder : QString();
}

QUrl Thumbs::media(const QString &id) const
{
    if (ThumbnailFiles::pathFor(id).isEmpty())
        return {};
    QUrl url = m_origin;
    url.setPath(url.path() + QStringLiteral("/r/") + id);
    return url;
}

QFuture<QImage> Thumbs::load(const QString &id)
{
    // A picture being made (a new recording's, from its file) is the one to
    // show: waiting for it saves fetching the video.
    const QMutexLocker lock(&m_mutex);
    if (const auto making = m_making.constFind(id); making != m_making.cend())
        return making->future;
    return start([this, id] { return loadNow(id); });
}

QFuture<QImage> Thumbs::make(const QString &id, const QUrl &from)
{
    const QMutexLocker lock(&m_mutex);
    const quint64 serial = ++m_serial;
    // A fresh recording's picture goes before the list's queued loads: the
    // upload's last step waits for it.
    QFuture<QImage> future = start(
        [this, id, from, serial] {
            QImage image = makeNow(id, from);
            const QMutexLocker lock(&m_mutex);
            if (m_making.value(id).serial == serial)
                m_making.remove(id);
            return image;
        },
        from.isLocalFile() ? 1 : 0);
    m_making.insert(id, Making{serial, future});
    return future;
}

void Thumbs::remove(const QString &id)
{
    ThumbnailFiles::remove(id);
}

QImage Thumbs::loadNow(const QString &id)
{
    const QString path = ThumbnailFiles::pathFor(id);
    if (path.isEmpty())
        return {};
    QImage cached = QImageReader(path, "jpeg").read();
    if (!cached.isNull())
        return cached;
    return makeNow(id, media(id));
}

QImage Thumbs::makeNow(const QString &id, const QUrl &from)
{
    const QString path = ThumbnailFiles::pathFor(id);
    if (path.isEmpty() || !from.isValid())
        return {};
    const QImage image = m_grabber->grab(from, FrameWindow{});
    if (image.isNull())
        return {};
    // Another view may make the same picture at once: each writes a whole
    // file and renames it into place, so readers never see half of one.
    if (dir().isEmpty())
        return image;
    QSaveFile file(path);
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(kJpegQuality);
    if (!file.open(QIODevice::WriteOnly) || !writer.write(image) || !file.commit())
        Diag::log(QStringLiteral("thumbnail ") + id + QStringLiteral(": could not be cached in ") + path);
    return image;
}

QFuture<QImage> Thumbs::start(std::function<QImage()> work, int priority)
{
    auto promise = std::make_shared<QPromise<QImage>>();
    QFuture<QImage> future = promise->future();
    promise->start();
    m_pool.start(
        [promise, work = std::move(work)] {
            promise->addResult(work());
            promise->finish();
        },
        priority);
    return future;
}
