#pragma once

#include <QCoroTask>
#include <QJsonObject>

#include <functional>

class InstanceClient;

// The command line's side of the reply channel to the running app.
namespace AppChannel {
enum class Outcome { done, unsupported, noApp };
struct Result {
    Outcome outcome = Outcome::noApp;
    int status = 1;
};
// What a command does with the app's lines beyond the common ones.
struct Handlers {
    // Called once the conversation is open, to steer it (stop, discard).
    std::function<void(InstanceClient &client)> opened;
    // Every line from the app, before the common handling.
    std::function<void(const QJsonObject &line)> message;
};

// Sends `request` to the running app and relays its answer: progress lines
// and upload figures on stderr, the result on stdout, a failure as
// "mivra: <sentence>" on stderr.
QCoro::Task<Result> ask(QJsonObject request, Handlers handlers = {});
// Said when an older app cannot answer and the command goes on without it.
void sayOlderApp(const char *consequence);
} // namespace AppChannel
