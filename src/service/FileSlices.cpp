#include "service/FileSlices.h"

#include "service/ServiceErrors.h"

#include <QCoroFuture>
#include <QFile>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::shared_ptr<const FileSlice> FileSlice::open(const QString &filePath, qint64 offset, qint64 length)
{
    const int fd = ::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FileAccessError(filePath, QString::fromLocal8Bit(std::strerror(errno)));
    std::shared_ptr<const FileSlice> slice(new FileSlice(fd, offset, length));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < offset + length)
        throw UploadError::read();
    return slice;
}

FileSlice::~FileSlice()
{
    ::close(m_fd);
}

qint64 FileSlice::readAt(qint64 position, char *buffer, qint64 max) const
{
    const qint64 wanted = qMin(max, m_length - position);
    qint64 got = 0;
    while (got < wanted) {
        const ssize_t n = ::pread(m_fd, buffer + got, size_t(wanted - got), off_t(m_offset + position + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        got += n;
    }
    return got;
}
