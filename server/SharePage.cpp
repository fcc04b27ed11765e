#include "SharePage.h"

#include <cstdio>
#include <ctime>

namespace sharepage {

namespace {

const char *kStyle = R"css(
  :root { color-scheme: dark; }
  body { margin: 0; background: #111214; color: #e8e8ea; font: 16px/1.45 system-ui, sans-serif; }
  main { max-width: 960px; margin: 0 auto; padding: 24px 16px 48px; }
  h1 { font-size: 1.35rem; font-weight: 600; margin: 0 0 16px; overflow-wrap: anywhere; }
  /* height: auto keeps the box in the video's own shape (from its width and
     height attributes) instead of taking the height attribute as pixels. */
  video { display: block; width: 100%; height: auto; max-height: 75vh; background: #000; border-radius: 10px; }
  .meta { color: #a0a0a8; font-size: 0.9rem; margin: 12px 0 0; }
  a { color: #8ab4ff; }
  footer { margin-top: 32px; color: #6c6c74; font-size: 0.8rem; }
)css";

std::string expiryText(std::int64_t expiresAtMs, std::string &isoOut)
{
    if (expiresAtMs >= kForeverExpiresAtMs) {
        isoOut.clear();
        return "Kept until deleted";
    }
    const std::time_t t = static_cast<std::time_t>(expiresAtMs / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char human[64];
    std::strftime(human, sizeof human, "%a, %d %b %Y %H:%M UTC", &tm);
    char iso[32];
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", &tm);
    isoOut = iso;
    return std::string("Available until ") + human;
}

std::string durationText(std::int64_t ms)
{
    const std::int64_t total = (ms + 500) / 1000;
    char buf[32];
    if (total >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(total / 3600),
                      static_cast<long long>(total / 60 % 60), static_cast<long long>(total % 60));
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(total / 60),
                      static_cast<long long>(total % 60));
    return buf;
}

std::string meta(const char *attr, const char *name, const std::string &content)
{
    return std::string("<meta ") + attr + "=\"" + name + "\" content=\"" + escapeHtml(content) + "\">\n";
}

} // namespace

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string render(const PublicVideo &v, const std::string &publicOrigin)
{
    const std::string title = v.title.empty() ? std::string("Untitled video") : v.title;
    const std::string shareUrl = publicOrigin + "/v/" + v.id;
    const std::string mediaUrl = publicOrigin + "/r/" + v.id;
    const std::string posterUrl = mediaUrl + ".jpg";
    std::string iso;
    const std::string expiry = expiryText(v.expiresAtMs, iso);
    std::string description = "A video shared with Mivra Video";
    if (v.durationMs)
        description += ", " + durationText(*v.durationMs) + " long";
    description += ". " + expiry + ".";

    std::string html;
    html.reserve(4096 + title.size() * 6);
    html += "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<meta name=\"robots\" content=\"noindex\">\n";
    html += "<meta name=\"referrer\" content=\"no-referrer\">\n";
    html += "<title>" + escapeHtml(title) + " · Mivra Video</title>\n";
    html += meta("property", "og:site_name", "Mivra Video");
    html += meta("property", "og:type", "video.other");
    html += meta("property", "og:title", title);
    html += meta("property", "og:description", description);
    html += meta("property", "og:url", shareUrl);
    html += meta("property", "og:video", mediaUrl);
    html += meta("property", "og:video:url", mediaUrl);
    if (publicOrigin.rfind("https://", 0) == 0)
        html += meta("property", "og:video:secure_url", mediaUrl);
    html += meta("property", "og:video:type", "video/mp4");
    if (v.width && v.height) {
        html += meta("property", "og:video:width", std::to_string(*v.width));
        html += meta("property", "og:video:height", std::to_string(*v.height));
    }
    if (v.hasPoster) {
        html += meta("property", "og:image", posterUrl);
        html += meta("property", "og:image:type", "image/jpeg");
        html += meta("property", "og:image:alt", title);
    }
    html += meta("name", "twitter:card", v.hasPoster ? "summary_large_image" : "summary");
    html += meta("name", "twitter:title", title);
    html += meta("name", "twitter:description", description);
    if (v.hasPoster)
        html += meta("name", "twitter:image", posterUrl);
    html += "<link rel=\"icon\" href=\"data:,\">\n";
    html += std::string("<style>") + kStyle + "</style>\n</head>\n<body>\n<main>\n";
    html += "<h1>" + escapeHtml(title) + "</h1>\n";
    html += "<video id=\"player\" controls playsinline preload=\"metadata\" src=\"/r/" + escapeHtml(v.id) + "\"";
    if (v.hasPoster)
        html += " poster=\"/r/" + escapeHtml(v.id) + ".jpg\"";
    if (v.width && v.height)
        html += " width=\"" + std::to_string(*v.width) + "\" height=\"" + std::to_string(*v.height) + "\"";
    html += "></video>\n<p class=\"meta\">";
    if (v.durationMs)
        html += durationText(*v.durationMs) + " · ";
    if (iso.empty())
        html += escapeHtml(expiry);
    else
        html += "<time datetime=\"" + iso + "\">" + escapeHtml(expiry) + "</time>";
    html += " · <a href=\"/r/" + escapeHtml(v.id) + "\" download>Download MP4</a></p>\n";
    html += "<footer>Shared with Mivra Video</footer>\n</main>\n</body>\n</html>\n";
    return html;
}

std::string renderGone()
{
    std::string html;
    html += "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<meta name=\"robots\" content=\"noindex\">\n";
    html += "<title>Video not available · Mivra Video</title>\n<link rel=\"icon\" href=\"data:,\">\n";
    html += std::string("<style>") + kStyle + "</style>\n</head>\n<body>\n<main>\n";
    html += "<h1>This video is not available</h1>\n";
    html += "<p class=\"meta\">The link may have expired, or the video was deleted.</p>\n";
    html += "<footer>Mivra Video</footer>\n</main>\n</body>\n</html>\n";
    return html;
}

} // namespace sharepage
