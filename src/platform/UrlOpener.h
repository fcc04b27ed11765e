#pragma once

#include <QUrl>

// Opens a URL with the desktop's default handler (the browser for links).
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual bool open(const QUrl &url) = 0;
};

class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QUrl &url) override;
};
