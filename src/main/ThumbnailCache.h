#pragma once

#include "app/RecordingParts.h"

#include <memory>

class QQmlEngine;
class Thumbs;

// The process's one thumbnail cache, reading videos from the service: the
// step after an upload and every link view share its two threads.
std::shared_ptr<Thumbs> sharedThumbs();

// Lets QML show "image://thumbs/<id>": the cached picture, made when missing.
void installThumbnailImages(QQmlEngine &engine);

// The post-upload step's view of the cache: the picture comes from the local
// recording, so a fresh link needs no download.
class ThumbnailCache final : public ThumbnailMaker {
public:
    explicit ThumbnailCache(std::shared_ptr<Thumbs> thumbs);
    QCoro::Task<> make(QString id, QString filePath) override;
    void remove(const QString &id) override;

private:
    std::shared_ptr<Thumbs> m_thumbs;
};
