#pragma once

#include "service/FrameGrabber.h"

#include <QFuture>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <memory>

// The thumbnail cache: one JPEG per link in the thumbnails folder, made from
// the video when missing. Loading and making run on two threads of their own,
// so a long list of links never holds up the window.
class Thumbs {
public:
    Thumbs(QUrl serviceOrigin, std::shared_ptr<FrameGrabber> grabber);
    ~Thumbs(); // waits for the work in hand

    // The thumbnails folder, made if missing; empty when it cannot be made.
    static QString dir();
    // The public video of `id`; empty for an id the cache refuses.
    QUrl media(const QString &id) const;
    // The cached picture of `id`, else one made from media(id). Null when none.
    QFuture<QImage> load(const QString &id);
    // Makes the picture of `id` from the video at `from` (a file or a URL) and
    // caches it. Null when the video gives no frame; nothing is written then.
    QFuture<QImage> make(const QString &id, const QUrl &from);
    // Deletes the cached picture of `id`; failures are ignored.
    static void remove(const QString &id);

    // The work itself, on the calling thread.
    QImage loadNow(const QString &id);
    QImage makeNow(const QString &id, const QUrl &from);

    static constexpr int kJpegQuality = 80;

private:
    QFuture<QImage> start(std::function<QImage()> work, int priority = 0);

    // Makes in progress, by id; a load of the same id shares the result.
    struct Making {
        quint64 serial = 0;
        QFuture<QImage> future;
    };

    QUrl m_origin;
    std::shared_ptr<FrameGrabber> m_grabber;
    QMutex m_mutex;
    quint64 m_serial = 0;
    QHash<QString, Making> m_making;
    QThreadPool m_pool;
};
