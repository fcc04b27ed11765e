#pragma once

// Qt aborts the process when no display plugin can start (on a Wayland
// session without Qt's Wayland support, say). The command line and the app
// ask for the session's plugins with "offscreen" behind them instead, and
// then decide in a sentence whether they can go on without windows.
namespace HeadlessFallback {
// Before the application object.
void allow();
// After it: Qt had to fall back, and the user did not ask for it.
bool happened();
// What to tell the user about the missing display.
const char *missingDisplaySentence();
} // namespace HeadlessFallback
