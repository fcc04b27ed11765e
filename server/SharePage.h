#pragma once

#include "Service.h"

#include <string>
#include <string_view>

// The HTML a browser gets for a share link: the title, the expiry, an HTML5
// player of /r/<id> and Open Graph tags for link previews. Every piece of
// user-supplied text is escaped.
namespace sharepage {

std::string escapeHtml(std::string_view text);

// publicOrigin is used for the absolute URLs of the Open Graph tags; the
// player itself uses the relative "/r/<id>".
std::string render(const PublicVideo &video, const std::string &publicOrigin);
// The page for an unknown, deleted or expired video.
std::string renderGone();

// Content-Security-Policy for both pages: no script at all.
inline constexpr const char *kContentSecurityPolicy =
    "default-src 'none'; media-src 'self'; img-src 'self' data:; style-src 'unsafe-inline'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

} // namespace sharepage
