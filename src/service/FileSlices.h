#pragma once

#include <QByteArray>
#include <QString>

#include <QCoroTask>

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
