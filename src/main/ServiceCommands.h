#pragma once

#include "app/LinkLibrary.h"
#include "service/Uploader.h"

#include <QCoreApplication>
#include <QCoroTask>

#include <memory>
#include <optional>

class FilePreferenceStore;

// What `mivra upload` and `mivra links` share: the user's own preference
// store (so the same device token and recent list as the app), the service
// client and the recent-link list.
class CommandLineLinks {
public:
    CommandLineLinks();
    ~CommandLineLinks();

    Uploader &uploader() { return *m_uploader; }
    LinkLibrary &library() { return *m_library; }
    PreferenceStore &store();
    // Why the last refresh could not reach the service, if it could not.
    std::optional<QString> refreshFailure() const;
    // The last text a link edit failed with.
    std::optional<QString> editFailure() const { return m_editFailure; }
    const RecentLink *find(const QString &id) const;

private:
    class ListErrorMemo;
    std::unique_ptr<FilePreferenceStore> m_store;
    std::shared_ptr<Uploader> m_uploader;
    std::unique_ptr<ListErrorMemo> m_service;
    std::unique_ptr<LinkLibrary> m_library;
    std::optional<QString> m_editFailure;
};

namespace ServiceCommands {
// Whether the tray app runs for this user. It keeps the recent links in
// memory and writes them whole, so while it runs the command line leaves the
// list to it: edits go to the service only and reach the app's list with its
// next refresh (it refreshes whenever it becomes active).
bool appIsRunning();
// Runs `task` on the application's loop; returns its exit status.
int runToEnd(QCoreApplication &app, QCoro::Task<int> task);
// The lifetime prompt's own explanation for text it cannot use.
QString lifetimeRefusal(const QString &text);
// Progress on stderr: a live bar on a terminal, a line per tenth otherwise.
UploadProgress stderrProgress();
// Ends a live bar's line.
void endProgress();
} // namespace ServiceCommands
