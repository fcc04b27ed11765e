#include "service/FileSlices.h"

#include "service/ServiceErrors.h"

#include <QCoroFuture>
#include <QFile>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <memory>

namespace FileSlices {

QByteArray read(const QString &filePath, qint64 offset, qint64 length)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        throw FileAccessError(filePath, file.errorString());
    if (!file.seek(offset))
        throw FileAccessError(filePath, file.errorString());
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 got = 0;
    while (got < length) {
        const qint64 n = file.read(bytes.data() + got, length - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got != length)
        throw UploadError::read();
    return bytes;
}

QCoro::Task<QByteArray> readInBackground(QString filePath, qint64 offset, qint64 length)
{
    struct Outcome {
        QPromise<void> done;
        QByteArray bytes;
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    QFuture<void> finished = outcome->done.future();
    QThreadPool::globalInstance()->start([outcome, filePath, offset, length] {
        outcome->done.start();
        try {
            outcome->bytes = read(filePath, offset, length);
        } catch (...) {
            outcome->error = std::current_exception();
        }
        outcome->done.finish();
    });
    co_await finished;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    co_return std::move(outcome->bytes);
}

} // namespace FileSlices
