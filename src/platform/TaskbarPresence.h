#pragma once

class QWidget;

// The Linux stand-in for the Dock icon switch ("Show in Dock"). A tray app
// has no icon of its own in the taskbar, so the choice made here is whether
// the app's windows get a taskbar entry: when off they are marked as utility
// windows (Qt::Tool), which X11 taskbars and pagers leave out. The tray item
// stays either way, like the menu-bar item does.
class TaskbarPresence {
public:
    virtual ~TaskbarPresence() = default;
    virtual void setShown(bool shown) = 0;
    virtual bool shown() const = 0;
};

class WindowTaskbarPresence final : public TaskbarPresence {
public:
    void setShown(bool shown) override;
    bool shown() const override { return m_shown; }
    // Marks one window as the switch says; windows made later call this.
    void applyTo(QWidget *window) const;

private:
    bool m_shown = true;
};
