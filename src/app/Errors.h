#pragma once

#include <QString>
#include <exception>
#include <string>

// Base of every error the program raises itself. `description()` is the
// complete English sentence shown to the user; `debugText()` goes to the log.
class MivraError : public std::exception {
public:
    explicit MivraError(QString description) : m_description(std::move(description)),
                                               m_what(m_description.toStdString()) {}
    QString description() const { return m_description; }
    virtual QString debugText() const { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    QString m_description;
    std::string m_what;
};
