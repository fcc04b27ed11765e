#pragma once

#include <QQuickAsyncImageProvider>

#include <memory>

class Thumbs;

// Serves "image://thumbs/<id>" from the thumbnail cache, off the window's
// thread. A link without a picture gives an empty image, and is tried again
// the next time it is shown.
class ThumbnailImageProvider final : public QQuickAsyncImageProvider {
public:
    static constexpr const char *kName = "thumbs";

    explicit ThumbnailImageProvider(std::shared_ptr<Thumbs> thumbs);
    QQuickImageResponse *requestImageResponse(const QString &id, const QSize &requestedSize) override;

private:
    std::shared_ptr<Thumbs> m_thumbs;
};
