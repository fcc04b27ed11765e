#pragma once

#include "Await.h"
#include "QtPrinters.h"
#include "ScriptedServer.h"
#include "service/Reachability.h"
#include "service/ServiceErrors.h"
#include "service/Uploader.h"
#include "support/MemoryPreferenceStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// A reachability the test switches by hand.
class SwitchReachability final : public Reachability {
public:
    bool offline = false;
    bool isOffline() const override { return offline; }
    void setOffline(bool value)
    {
        offline = value;
        Q_EMIT changed();
    }
};

// The scripted server (or `origin` when given), an in-memory preference store
// and an Uploader with waits shrunk to milliseconds; every retry wait asked
// for is recorded.
struct ServiceRig {
    explicit ServiceRig(UploaderTimings timings = fastTimings(), Reachability *reachability = nullptr,
                        const QUrl &origin = {})
    {
        auto inner = timings.retryWait;
        timings.retryWait = [this, inner](int attempt) {
            const std::chrono::milliseconds wait = inner(attempt);
            retryWaits.append(attempt);
            retryWaitMs.append(int(wait.count()));
            return wait;
        };
        UploaderOptions options{std::move(timings), [this](const QString &line) { logLines.append(line); },
                                reachability};
        uploader = std::make_unique<Uploader>(origin.isEmpty() ? server.origin() : origin, prefs, std::move(options));
    }

    static UploaderTimings fastTimings()
    {
        // The app's own retry rule, a hundred times faster.
        return {std::chrono::seconds(10), std::chrono::seconds(60),
                [](int attempt) { return UploaderTimings{}.retryWait(attempt) / 100; }};
    }

    // A file of `size` bytes with a recognisable pattern, after `head`.
    QString makeFile(qint64 size, const QString &name = QStringLiteral("rec.mp4"), const QByteArray &head = {})
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = char('a' + (i * 7 + i / 26) % 26);
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(head + bytes.mid(head.size()));
        return file.fileName();
    }

    QByteArray fileBytes(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    ScriptedServer server;
    MemoryPreferenceStore prefs;
    QTemporaryDir dir;
    QStringList logLines;
    QList<int> retryWaits; // the attempts waited after
    QList<int> retryWaitMs; // and how long
    std::unique_ptr<Uploader> uploader;
};

// Runs a task and returns the error it throws; any other end fails the test.
template <typename Error, typename T> Error expectFailure(QCoro::Task<T> &&task)
{
    try {
        run(std::move(task));
    } catch (const Error &e) {
        return e;
    }
    throw std::runtime_error("the task succeeded");
}

// "METHOD path [Content-Type] body" of each request.
inline QStringList describe(const QList<RecordedRequest> &requests)
{
    QStringList lines;
    for (const RecordedRequest &r : requests)
        lines << QString::fromUtf8(r.method + ' ' + r.path + " [" + r.header("Content-Type") + "] " + r.body);
    return lines;
}
