#pragma once

#include <QList>
#include <QString>

#include <optional>

// Records the sharing service returns. Every expiresAtMs counts milliseconds
// since the Unix epoch.

struct CreateResponse {
    QString id;
    qint64 partSize = 0;
    QString shareUrl;
    qint64 expiresAtMs = 0;
};

struct PartResponse {
    qint64 partNumber = 0;
    QString etag;
};

struct VideoInfo {
    QString id;
    QString shareUrl;
    qint64 expiresAtMs = 0;
};

struct VideoList {
    struct Item {
        QString id;
        qint64 expiresAtMs = 0;
        std::optional<QString> title; // absent or null: no title known
    };
    QList<Item> videos;
    std::optional<QString> next; // where the next page begins, when there is one
};

struct KeepResponse {
    QString id;
    qint64 expiresAtMs = 0;
};

struct TitleResponse {
    QString id;
    QString title;
};
