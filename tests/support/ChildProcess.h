#pragma once

#include <functional>

// Runs `body` in a forked child and returns its exit status (-1 if it died).
// With `unprivileged`, a root parent's child first becomes "nobody", so that
// file permissions bind it as they bind a user. The child must not touch the
// Qt event loop.
int runInChild(const std::function<int()> &body, bool unprivileged = false);
