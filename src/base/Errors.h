#pragma once

#include <QString>
#include <exception>
#include <string>

// Base of every error the program raises itself. `description()` is the
// complete English sentence shown to the user; `debugText()` goes to the log.
class MivraError : public std::exception {
public:
    explicit MivraError(QString description)
        : m_description(std::move(description)), m_what(m_description.toStdString())
    {
    }
    QString description() const { return m_description; }
    virtual QString debugText() const { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    QString m_description;
    std::string m_what;
};

// The user-facing text of any error a task may throw.
inline QString errorDescription(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const MivraError *>(&error))
        return own->description();
    return QString::fromUtf8(error.what());
}

inline QString errorDebugText(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const MivraError *>(&error))
        return own->debugText();
    return QString::fromUtf8(error.what());
}
