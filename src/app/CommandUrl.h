#pragma once

#include <QList>
#include <QUrl>

#include <optional>

class AppState;

// A command URL of the app's own scheme ("mivra://record?silent=1"): the
// command is the host; the query is tested as plain text.
struct CommandUrl {
    enum class Command { record = 1, stop, discard, show, demo };

    static constexpr const char *kScheme = "mivra";

    Command command = Command::show;
    // record: the query contains "silent=1". demo: the query does not contain "off".
    bool flag = false;

    // None for another scheme, an unknown host or no host.
    static std::optional<CommandUrl> parse(const QUrl &url);
    // Whether the text looks like a URL of our scheme at all.
    static bool hasOurScheme(const QUrl &url);
};

// Carries out command URLs in the order given. The recording commands each
// start their own task and return at once.
void handleCommandUrls(AppState &state, const QList<QUrl> &urls);
