#pragma once

#include "base/Errors.h"

// Why the camera bubble could not be shown.
class CameraError final : public MivraError {
public:
    enum class Kind { denied, noCamera };

    explicit CameraError(Kind kind) : MivraError(text(kind)), m_kind(kind) {}
    Kind kind() const { return m_kind; }
    static QString text(Kind kind);

private:
    Kind m_kind;
};
