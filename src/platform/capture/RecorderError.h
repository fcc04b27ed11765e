#pragma once

#include "base/Errors.h"

#include <QString>

// Raised by the recorder and by the capture adapters beneath it.
class RecorderError : public MivraError {
public:
    enum class Kind { failed = 1, noDisplay, notRecording };

    static RecorderError failed(const QString &text) { return RecorderError(Kind::failed, text); }
    static RecorderError noDisplay()
    {
        return RecorderError(Kind::noDisplay,
                             QStringLiteral("No display available to record. Check Screen Recording permission in "
                                            "System Settings."));
    }
    static RecorderError notRecording() { return RecorderError(Kind::notRecording, QStringLiteral("Not recording.")); }

    Kind kind() const { return m_kind; }

private:
    RecorderError(Kind kind, const QString &text) : MivraError(text), m_kind(kind) {}
    Kind m_kind;
};
