#pragma once

#include "base/Errors.h"

#include <QByteArray>
#include <QNetworkReply>

// The errors the sharing service client raises itself.
class UploadError final : public MivraError {
public:
    enum class Kind { http = 1, badResponse, read };

    // A status outside the accepted range; carries the first bytes of the body.
    static UploadError http(int statusCode, const QByteArray &body);
    static UploadError badResponse();
    static UploadError read();

    Kind kind() const { return m_kind; }
    int statusCode() const { return m_statusCode; }
    QString bodyExcerpt() const { return m_excerpt; }
    QString debugText() const override;

    // The first 300 bytes of body as UTF-8 text; empty when those bytes are
    // not valid UTF-8 (for example when the cut splits a character).
    static QString excerpt(const QByteArray &body);
    static constexpr qsizetype kExcerptBytes = 300;

private:
    UploadError(Kind kind, QString description, int statusCode = 0, QString excerpt = {});
    Kind m_kind;
    int m_statusCode = 0;
    QString m_excerpt;
};

// The HTTP client failed before a reply came: no connection, time-out,
// cancellation. Carries Qt's own error code and text.
class TransportError final : public MivraError {
public:
    TransportError(QNetworkReply::NetworkError code, const QString &qtText, const QString &url = {});
    // What an upload fails with when its caller gave up on it.
    static TransportError cancelled();

    QNetworkReply::NetworkError code() const { return m_code; }
    bool isCancellation() const { return m_code == QNetworkReply::OperationCanceledError; }
    QString debugText() const override;

private:
    QNetworkReply::NetworkError m_code;
    QString m_url;
};

// A 2xx reply whose body is not the record we expect.
class ReplyDecodingError final : public MivraError {
public:
    ReplyDecodingError(const QString &recordName, const QString &problem);
    QString debugText() const override { return m_detail; }

private:
    QString m_detail;
};

// The recording file could not be found, opened or positioned.
class FileAccessError final : public MivraError {
public:
    FileAccessError(const QString &filePath, const QString &systemText);
    QString debugText() const override { return m_detail; }

private:
    QString m_detail;
};
