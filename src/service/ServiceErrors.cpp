#include "service/ServiceErrors.h"

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no
// sequence cut short.
bool isValidUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        int follow = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            follow = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            follow = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            follow = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + follow >= n)
            return false;
        for (int k = 1; k <= follow; ++k) {
            const unsigned char d = p[i + k];
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += follow + 1;
    }
    return true;
}

QString sentence(QString text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return QStringLiteral("The network request failed.");
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

} // namespace

UploadError::UploadError(Kind kind, QString description, int statusCode, QString excerpt)
    : MivraError(std::move(description)), m_kind(kind), m_statusCode(statusCode), m_excerpt(std::move(excerpt))
{
}

UploadError UploadError::http(int statusCode, const QByteArray &body)
{
    QString cut = excerpt(body);
    return UploadError(Kind::http,
                       QStringLiteral("Server returned ") + QString::number(statusCode) + QStringLiteral(": ") + cut,
                       statusCode, cut);
}

UploadError UploadError::badResponse()
{
    return UploadError(Kind::badResponse, QStringLiteral("Unexpected response from server."));
}

UploadError UploadError::read()
{
    return UploadError(Kind::read, QStringLiteral("Could not read the recording file."));
}

QString UploadError::debugText() const
{
    switch (m_kind) {
    case Kind::http:
        return QStringLiteral("http %1: %2").arg(m_statusCode).arg(m_excerpt);
    case Kind::badResponse:
        return QStringLiteral("badResponse");
    case Kind::read:
        return QStringLiteral("read");
    }
    return description();
}

QString UploadError::excerpt(const QByteArray &body)
{
    const QByteArray head = body.left(kExcerptBytes);
    if (!isValidUtf8(head))
        return {};
    return QString::fromUtf8(head);
}

TransportError::TransportError(QNetworkReply::NetworkError code, const QString &qtText, const QString &url)
    : MivraError(sentence(qtText)), m_code(code), m_url(url)
{
}

TransportError TransportError::cancelled()
{
    return TransportError(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
}

QString TransportError::debugText() const
{
    return QStringLiteral("transport error %1 (%2)%3")
        .arg(int(m_code))
        .arg(description(), m_url.isEmpty() ? QString() : QStringLiteral(" for ") + m_url);
}

ReplyDecodingError::ReplyDecodingError(const QString &recordName, const QString &problem)
    : MivraError(QStringLiteral("The server's reply could not be read: %1.").arg(problem)),
      m_detail(QStringLiteral("decoding %1: %2").arg(recordName, problem))
{
}

FileAccessError::FileAccessError(const QString &filePath, const QString &systemText)
    : MivraError(QStringLiteral("Could not open the recording file: %1.").arg(systemText)),
      m_detail(QStringLiteral("file %1: %2").arg(filePath, systemText))
{
}
