#pragma once

#include <QDateTime>
#include <QLocale>
#include <QMetaType>
#include <QObject>
#include <QString>

// Where the recording road stands. Equal by case and payload.
class Phase {
    Q_GADGET
    Q_PROPERTY(Kind kind READ kind CONSTANT)
    Q_PROPERTY(QDateTime since READ since CONSTANT)
    Q_PROPERTY(qint64 sentBytes READ sentBytes CONSTANT)
    Q_PROPERTY(qint64 totalBytes READ totalBytes CONSTANT)
    Q_PROPERTY(QString uploadText READ uploadText CONSTANT)

public:
    enum class Kind { idle = 1, starting, recording, finishing, uploading };
    Q_ENUM(Kind)

    Phase() = default;
    static Phase idle() { return Phase(); }
    static Phase starting() { return Phase(Kind::starting); }
    static Phase recording(const QDateTime &since);
    static Phase finishing() { return Phase(Kind::finishing); }
    static Phase uploading(qint64 sentBytes, qint64 totalBytes);

    Kind kind() const { return m_kind; }
    bool is(Kind kind) const { return m_kind == kind; }
    // Meaningful only while recording.
    QDateTime since() const { return m_since; }
    // Meaningful only while uploading.
    qint64 sentBytes() const { return m_sentBytes; }
    qint64 totalBytes() const { return m_totalBytes; }

    // "Uploading…", or "Uploading 42% · 5.2 of 12.3 MB" once the size is known.
    QString uploadText() const { return uploadText(QLocale()); }
    QString uploadText(const QLocale &locale) const;
    // The case name, for the log.
    QString name() const;

    friend bool operator==(const Phase &a, const Phase &b);

private:
    explicit Phase(Kind kind) : m_kind(kind) {}

    Kind m_kind = Kind::idle;
    QDateTime m_since;
    qint64 m_sentBytes = 0;
    qint64 m_totalBytes = 0;
};

Q_DECLARE_METATYPE(Phase)
