#include "ui/ThumbnailImageProvider.h"

#include "service/Thumbs.h"

#include <QFutureWatcher>
#include <QQuickTextureFactory>

namespace {

class ThumbnailResponse final : public QQuickImageResponse {
public:
    explicit ThumbnailResponse(QFuture<QImage> future)
    {
        // The watcher dies with the response, so a view that goes away
        // before its picture is ready is never called back.
        connect(&m_watcher, &QFutureWatcher<QImage>::finished, this, [this] {
            m_image = m_watcher.future().resultCount() > 0 ? m_watcher.result() : QImage();
            Q_EMIT finished();
        });
        m_watcher.setFuture(std::move(future));
    }

    QQuickTextureFactory *textureFactory() const override
    {
        return QQuickTextureFactory::textureFactoryForImage(m_image);
    }
    QString errorString() const override
    {
        return m_image.isNull() ? QStringLiteral("This video has no picture yet.") : QString();
    }

private:
    QFutureWatcher<QImage> m_watcher;
    QImage m_image;
};

} // namespace

ThumbnailImageProvider::ThumbnailImageProvider(std::shared_ptr<Thumbs> thumbs) : m_thumbs(std::move(thumbs))
{
}

QQuickImageResponse *ThumbnailImageProvider::requestImageResponse(const QString &id, const QSize &)
{
    return new ThumbnailResponse(m_thumbs->load(id));
}
