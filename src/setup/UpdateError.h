#pragma once

#include "base/Errors.h"

// Why a check or an update did not go through, as a sentence.
class UpdateError : public MivraError {
public:
    using MivraError::MivraError;
};
