#pragma once

#include "base/Errors.h"
#include "service/VideoService.h"

#include <QStringList>

#include <functional>
#include <optional>

// A scripted service: each operation records its call and either answers
// with the prepared reply or throws `error` when set. `beforeReply` runs
// while the call is "in flight", to change the world under the caller.
class FakeVideoService final : public VideoService {
public:
    QCoro::Task<VideoList> listVideos() override
    {
        calls << QStringLiteral("list");
        runBeforeReply();
        throwIfFailing();
        co_return list;
    }
    QCoro::Task<> deleteVideo(QString id) override
    {
        calls << QStringLiteral("delete ") + id;
        runBeforeReply();
        throwIfFailing();
        co_return;
    }
    QCoro::Task<TitleResponse> rename(QString id, QString title) override
    {
        calls << QStringLiteral("rename ") + id + QStringLiteral(" ") + title;
        runBeforeReply();
        throwIfFailing();
        co_return TitleResponse{id, renamedTitle.value_or(title)};
    }
    QCoro::Task<KeepResponse> setExpiry(QString id, Lifetime lifetime) override
    {
        calls << QStringLiteral("expiry ") + id + QStringLiteral(" ") + lifetime.secondsText();
        runBeforeReply();
        throwIfFailing();
        co_return KeepResponse{id, keepExpiresAtMs};
    }

    QStringList calls;
    VideoList list;
    std::optional<QString> renamedTitle; // the title the service stores, if not the one sent
    qint64 keepExpiresAtMs = 0;
    std::optional<QString> error; // description of the error to throw
    std::function<void()> beforeReply;

private:
    void runBeforeReply()
    {
        if (beforeReply)
            beforeReply();
    }
    void throwIfFailing()
    {
        if (error)
            throw MivraError(*error);
    }
};
