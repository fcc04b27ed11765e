#pragma once

#include <QString>

// Puts text on the system clipboard, replacing whatever was there.
class ClipboardWriter {
public:
    virtual ~ClipboardWriter() = default;
    virtual void setText(const QString &text) = 0;
};

// The desktop clipboard. The app keeps running, so it keeps serving it.
class QtClipboardWriter final : public ClipboardWriter {
public:
    void setText(const QString &text) override;
};
