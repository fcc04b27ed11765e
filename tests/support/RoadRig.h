#pragma once

// The built app on the road against the real mivra-server on 127.0.0.1, in a
// private home: skips where there is no X display, no built app or server or
// no ffprobe. Derive a fixture from it (or alias it) and use its helpers.

#include "PrivateHome.h"
#include "ServerProcess.h"

#include "app/RecentLink.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <optional>

class RoadRig : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { stopChild(app); }

    // Starts the tray app as `app` and waits until it is idle in the tray.
    void startApp();
    // Starts `mivra record ARGUMENTS` and waits for its word that it records;
    // what it wrote to stderr so far goes to `err`.
    bool startRecording(QProcess &record, const QStringList &arguments, QByteArray &err) const;
    // Waits for `record` to end, adding its stderr to `err`: "exit N:" and
    // what it printed on stdout.
    QString ended(QProcess &record, QByteArray &err) const;
    // Waits until a recording in the recordings folder holds its first pictures.
    bool awaitFirstPictures() const;
    QList<RecentLink> storedLinks() const;
    QStringList recordings() const; // MP4s in the recordings folder
    // Downloads the recording behind link `id` into the home; empty on failure.
    QString fetch(const QString &id) const;

    PrivateHome home;
    std::optional<ServerProcess> server;
    QString origin;
    QProcess app;
};
