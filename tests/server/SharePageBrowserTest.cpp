// The share page opened in headless Chromium: its <video> loads the MP4 from
// /r/<id> (with the byte ranges a browser asks for) and reaches a ready state
// with the video's duration, showing its poster before play; the title shows
// as text, never as markup.
//
// Chromium is driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe: JSON messages ending in NUL on fds 3 and 4), so
// no WebSocket client or script runtime is needed.
#include "Await.h"
#include "ServerTestSupport.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using namespace servertest;
namespace fs = std::filesystem;

namespace {

std::string chromiumBinary()
{
    if (const char *env = std::getenv("MIVRA_CHROMIUM"); env && *env)
        return env;
    for (const char *name : {"chromium", "chromium-browser", "google-chrome"})
        if (const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name)); !path.isEmpty())
            return path.toStdString();
    return {};
}

// One headless browser, spoken to over the DevTools pipe.
class Browser {
public:
    Browser(const std::string &binary, const fs::path &profile)
    {
        int toChrome[2], fromChrome[2];
        if (::pipe2(toChrome, O_CLOEXEC) != 0 || ::pipe2(fromChrome, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        // Keep our ends and the child's ends away from 3 and 4, which the
        // child's ends are moved onto.
        auto high = [](int fd) {
            const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 64);
            ::close(fd);
            return moved;
        };
        const int childRead = high(toChrome[0]);
        m_write = high(toChrome[1]);
        m_read = high(fromChrome[0]);
        const int childWrite = high(fromChrome[1]);

        std::vector<std::string> args = {binary,
                                         "--headless",
                                         "--no-sandbox",
                                         "--disable-gpu",
                                         "--disable-quic",
                                         "--no-first-run",
                                         "--disable-background-networking",
                                         "--disable-component-update",
                                         "--disable-sync",
                                         "--disable-dev-shm-usage",
                                         "--mute-audio",
                                         "--user-data-dir=" + profile.string(),
                                         "--remote-debugging-pipe",
                                         "about:blank"};
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        m_logPath = profile.parent_path() / "chromium.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childRead, 3);
        posix_spawn_file_actions_adddup2(&actions, childWrite, 4);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, m_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Its own process group, so that every helper process it starts can be ended with it.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        const int rc = ::posix_spawn(&m_pid, argv[0], &actions, &attr, argv.data(), environ);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        ::close(childRead);
        ::close(childWrite);
        if (rc != 0)
            throw std::runtime_error("cannot start " + binary + ": " + std::strerror(rc));
    }

    ~Browser()
    {
        if (m_pid > 0) {
            // The whole group: the browser starts helper processes of its own.
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_write);
        ::close(m_read);
    }

    std::string log() const
    {
        std::ifstream f(m_logPath);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }

    // Sends a command and returns its "result" (or "error") member.
    json::Value call(const std::string &method, const std::string &params, const std::string &session = {},
                     int timeoutMs = 15000)
    {
        const int id = send(method, params, session);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (std::size_t nul; (nul = m_buffer.find('\0')) != std::string::npos;) {
                const std::string message = m_buffer.substr(0, nul);
                m_buffer.erase(0, nul + 1);
                json::ParseResult parsed = json::parse(message);
                if (!parsed.value)
                    continue;
                const json::Value *mid = parsed.value->find("id");
                if (!mid || !mid->isInteger() || mid->asInteger() != id)
                    continue; // an event, or the answer to something else
                if (const json::Value *r = parsed.value->find("result"))
                    return *r;
                if (const json::Value *e = parsed.value->find("error"))
                    return *e;
                return json::Value();
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0)
                throw std::runtime_error("no answer to " + method);
            pollfd p{m_read, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            char buf[65536];
            const ssize_t n = ::read(m_read, buf, sizeof buf);
            if (n <= 0)
                throw std::runtime_error("the browser closed its pipe; its log:\n" + log());
            m_buffer.append(buf, std::size_t(n));
        }
    }

private:
    int send(const std::string &method, const std::string &params, const std::string &session = {})
    {
        const int id = ++m_nextId;
        std::string msg = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
        if (!session.empty())
            msg += ",\"sessionId\":\"" + session + "\"";
        msg += "}";
        msg.push_back('\0');
        std::size_t done = 0;
        while (done < msg.size()) {
            const ssize_t n = ::write(m_write, msg.data() + done, msg.size() - done);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                break;
            }
            done += std::size_t(n);
        }
        return id;
    }

    pid_t m_pid = -1;
    int m_read = -1, m_write = -1;
    int m_nextId = 0;
    std::string m_buffer;
    fs::path m_logPath;
};

// A short H.264 MP4 made with ffmpeg's test source.
std::string makeMp4(const fs::path &dir, double seconds)
{
    const fs::path out = dir / "clip.mp4";
    const std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration=" + std::to_string(seconds) +
        ":size=320x240:rate=25 -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
        " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest -movflags +faststart '" + out.string() +
        "' 2>'" + (dir / "ffmpeg.log").string() + "'";
    if (std::system(cmd.c_str()) != 0)
        return {};
    std::ifstream f(out, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(ServerSharePageBrowser, VideoReachesAReadyStateWithTheRightDuration)
{
    const std::string chromium = chromiumBinary();
    ASSERT_FALSE(chromium.empty()) << "Chromium is needed for this test: install the Debian package \"chromium\" "
                                      "(scripts/test installs it)";
    TempDir dir;
    const std::string mp4 = makeMp4(dir.path(), 2.0);
    ASSERT_GT(mp4.size(), 1000u) << "ffmpeg could not make the test clip";

    // Small parts, so the page plays a video assembled from several of them.
    InProcessServer::Options o;
    o.partSize = 16 * 1024;
    InProcessServer server(o);
    Api api(server.port(), newToken());
    const std::string title = "Demo <b>bold</b> & \"quoted\" <script>document.title='pwned'</script>";
    const std::string id = api.create(title, R"("durationMs":2000,"width":320,"height":240)");
    const auto parts = api.putParts(id, mp4, o.partSize);
    ASSERT_GE(parts.size(), 2u);
    ASSERT_EQ(api.post("/api/videos/" + id + "/complete", Api::completeBody(parts)).status, 200);
    server.service().waitForPosters();
    const std::string pageUrl = server.url() + "/v/" + id;

    Browser browser(chromium, dir.path() / "profile");
    const json::Value target = browser.call("Target.createTarget", R"({"url":"about:blank"})");
    ASSERT_NE(target.find("targetId"), nullptr) << json::serialize(target) << "\n" << browser.log();
    const json::Value attached = browser.call(
        "Target.attachToTarget", "{\"targetId\":\"" + target.find("targetId")->asString() + "\",\"flatten\":true}");
    ASSERT_NE(attached.find("sessionId"), nullptr) << json::serialize(attached);
    const std::string session = attached.find("sessionId")->asString();
    browser.call("Page.navigate", "{\"url\":\"" + pageUrl + "\"}", session);

    // Poll the page until the video has data for the current position.
    const char *probe = R"JS((() => {
        const v = document.querySelector('video');
        const h1 = document.querySelector('h1');
        return JSON.stringify({
            url: location.href,
            readyState: v ? v.readyState : -1,
            duration: v ? v.duration : null,
            videoWidth: v ? v.videoWidth : 0,
            error: v && v.error ? v.error.code : 0,
            heading: h1 ? h1.textContent : null,
            scripts: document.scripts.length,
            title: document.title,
            ogTitle: (document.querySelector('meta[property="og:title"]') || {}).content || null,
            ogImage: (document.querySelector('meta[property="og:image"]') || {}).content || null,
            poster: v ? v.poster : null,
            paused: v ? v.paused : false
        });
    })())JS";
    std::string probeJson;
    json::appendQuoted(probeJson, probe);
    // Ask the page until its video has data for the current position, or failed.
    json::Value state;
    waitUntil(
        [&] {
            const json::Value r =
                browser.call("Runtime.evaluate", "{\"expression\":" + probeJson + ",\"returnByValue\":true}", session);
            const json::Value *result = r.find("result");
            const json::Value *value = result ? result->find("value") : nullptr;
            state = value && value->isString() ? json::parse(value->asString()).value.value_or(json::Value())
                                               : json::Value();
            return state.isObject() && state.find("url")->asString() == pageUrl &&
                   (state.find("readyState")->asInteger() >= 2 || state.find("error")->asInteger() != 0);
        },
        30000);
    SCOPED_TRACE(json::serialize(state));
    std::cerr << "page state: " << json::serialize(state) << "\n";

    ASSERT_TRUE(state.isObject()) << "the page never answered; browser log:\n" << browser.log();
    EXPECT_EQ(state.find("error")->asInteger(), 0) << "the browser could not play the video";
    // HAVE_CURRENT_DATA (2) or better: the first frame is decoded.
    EXPECT_GE(state.find("readyState")->asInteger(), 2);
    // A whole number of seconds comes as an integer.
    const json::Value *duration = state.find("duration");
    EXPECT_NEAR(duration->isInteger() ? double(duration->asInteger()) : duration->asDouble(), 2.0, 0.1);
    EXPECT_EQ(state.find("videoWidth")->asInteger(), 320);
    // The title is text: no script ran, none was added, and it reads as typed.
    EXPECT_EQ(state.find("heading")->asString(), title);
    EXPECT_EQ(state.find("ogTitle")->asString(), title);
    EXPECT_EQ(state.find("scripts")->asInteger(), 0);
    EXPECT_EQ(state.find("title")->asString(), title + " · Mivra Video");

    // Before play the page shows the poster, the frame at 1 s, and link
    // previews name the same picture, which is there to fetch.
    EXPECT_TRUE(state.find("paused")->asBool());
    const std::string posterUrl = server.url() + "/r/" + id + ".jpg";
    EXPECT_EQ(state.find("poster")->asString(), posterUrl);
    EXPECT_EQ(state.find("ogImage")->asString(), posterUrl);
    const Http poster = api.publicGet("/r/" + id + ".jpg");
    EXPECT_EQ(poster.status, 200);
    EXPECT_EQ(poster.header("Content-Type"), "image/jpeg");
    EXPECT_EQ(poster.body.substr(0, 3), "\xFF\xD8\xFF");
}
