#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <memory>

class AppState;
class InstanceRequest;
class Uploader;

// The running app's side of the reply channel: `mivra record`, `upload` and
// `links` carried out on the app's own state, so their results land in its
// recent list at once and the command line hears how it went.
class AppRequests : public QObject {
    Q_OBJECT

public:
    AppRequests(AppState &state, std::shared_ptr<Uploader> uploader, QObject *parent = nullptr);
    void serve(InstanceRequest *request);

private:
    void record(InstanceRequest *request);
    QCoro::Task<> upload(QPointer<InstanceRequest> request);
    QCoro::Task<> links(QPointer<InstanceRequest> request);

    AppState &m_state;
    std::shared_ptr<Uploader> m_uploader;
    QPointer<InstanceRequest> m_recording;
};
