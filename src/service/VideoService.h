#pragma once

#include "base/Lifetime.h"
#include "service/WireRecords.h"

#include <QCoroTask>

#include <functional>
#include <optional>

// The link edits the recent list needs from the sharing service. Each
// operation either returns its result or throws a MivraError.
class VideoService {
public:
    virtual ~VideoService() = default;

    virtual QCoro::Task<VideoList> listVideos() = 0;
    // An unknown id counts as deleted.
    virtual QCoro::Task<> deleteVideo(QString id) = 0;
    virtual QCoro::Task<TitleResponse> rename(QString id, QString title) = 0;
    virtual QCoro::Task<KeepResponse> setExpiry(QString id, Lifetime lifetime) = 0;
};

// Progress of one upload: body bytes sent so far, and the file's total.
using UploadProgress = std::function<void(qint64 sentBytes, qint64 totalBytes)>;

// Sends a finished recording to the service. Throws a MivraError on failure.
class VideoUploader {
public:
    virtual ~VideoUploader() = default;

    virtual QCoro::Task<VideoInfo> upload(QString filePath, QString title, std::optional<qint64> durationMs,
                                          std::optional<int> width, std::optional<int> height,
                                          std::optional<Lifetime> lifetime, UploadProgress progress) = 0;
};
