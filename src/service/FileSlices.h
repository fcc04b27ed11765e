#pragma once

#include <QByteArray>
#include <QString>

#include <QCoroTask>

#include <memory>

// Reading the parts of a recording.
namespace FileSlices {
// Exactly `length` bytes from `offset`. Fails with FileAccessError when the
// file cannot be opened or positioned, and with UploadError::read when fewer
// bytes come back.
QByteArray read(const QString &filePath, qint64 offset, qint64 length);
// The same on the thread pool, so a slow disk never stalls the main thread;
// the caller resumes on its own thread.
QCoro::Task<QByteArray> readInBackground(QString filePath, qint64 offset, qint64 length);
} // namespace FileSlices

// One slice of a recording, opened once and read as it is sent, so a part
// never has to sit in memory. Readable from any thread.
class FileSlice {
public:
    // Fails with FileAccessError when the file cannot be opened, and with
    // UploadError::read when it no longer reaches the end of the slice.
    static std::shared_ptr<const FileSlice> open(const QString &filePath, qint64 offset, qint64 length);
    ~FileSlice();
    FileSlice(const FileSlice &) = delete;
    FileSlice &operator=(const FileSlice &) = delete;

    qint64 length() const { return m_length; }
    // Up to `max` bytes from `position` within the slice; -1 when the file
    // fails or ends early.
    qint64 readAt(qint64 position, char *buffer, qint64 max) const;

private:
    FileSlice(int fd, qint64 offset, qint64 length) : m_fd(fd), m_offset(offset), m_length(length) {}
    int m_fd;
    qint64 m_offset;
    qint64 m_length;
};
