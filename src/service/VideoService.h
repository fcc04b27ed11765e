#pragma once

#include "app/Lifetime.h"
#include "service/WireRecords.h"

#include <QCoroTask>

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
