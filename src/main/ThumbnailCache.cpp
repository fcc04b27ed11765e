#include "main/ThumbnailCache.h"

#include "platform/media/FfmpegFrameGrabber.h"
#include "service/ServiceOrigin.h"
#include "service/Thumbs.h"
#include "ui/ThumbnailImageProvider.h"

#include <QCoroFuture>
#include <QQmlEngine>

std::shared_ptr<Thumbs> sharedThumbs()
{
    static const auto thumbs = std::make_shared<Thumbs>(serviceOrigin(), std::make_shared<FfmpegFrameGrabber>());
    return thumbs;
}

void installThumbnailImages(QQmlEngine &engine)
{
    engine.addImageProvider(ThumbnailImageProvider::kName, new ThumbnailImageProvider(sharedThumbs()));
}

ThumbnailCache::ThumbnailCache(std::shared_ptr<Thumbs> thumbs) : m_thumbs(std::move(thumbs))
{
}

QCoro::Task<> ThumbnailCache::make(QString id, QString filePath)
{
    co_await m_thumbs->make(id, QUrl::fromLocalFile(filePath));
}

void ThumbnailCache::remove(const QString &id)
{
    m_thumbs->remove(id);
}
