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

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>

using namespace servertest;
namespace fs = std::filesystem;

namespace {

// One headless browser, spoken to over the DevTools pipe; its log goes to
// this process's stderr.
class Browser {
public:
    Browser(const std::string &binary, const fs::path &profile)
    {
        // The browser reads commands on fd 3 and answers on fd 4: here, the
        // shell's stdin and stdout moved there.
        m_process.setProgram(QStringLiteral("/bin/sh"));
        m_process.setArguments(
            {QStringLiteral("-c"),
             QStringLiteral("exec \"$0\" --headless --no-sandbox --disable-gpu --disable-quic "
                            "--no-first-run --disable-background-networking --disable-component-update "
                            "--disable-sync --disable-dev-shm-usage --mute-audio --remote-debugging-pipe "
                            "--user-data-dir=\"$1\" about:blank 3<&0 4>&1 </dev/null >/dev/null"),
             QString::fromStdString(binary), QString::fromStdString(profile.string())});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Its own process group, so that every helper it starts ends with it.
        m_process.setChildProcessModifier([] { ::setpgid(0, 0); });
        m_process.start();
        if (!m_process.waitForStarted())
            throw std::runtime_error("cannot start " + binary);
    }

    ~Browser()
    {
        ::kill(-pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished();
    }

    // Sends a command and returns its "result"; throws its error.
    json::Value call(const std::string &method, const std::string &params, const std::string &session = {})
    {
        const int id = ++m_nextId;
        std::string message = R"({"id":)" + std::to_string(id) + R"(,"method":")" + method + R"(","params":)" + params +
                              (session.empty() ? "" : R"(,"sessionId":")" + session + "\"") + "}";
        m_process.write(message.c_str(), qint64(message.size() + 1)); // with its NUL
        for (;;) {
            for (std::size_t nul; (nul = m_buffer.find('\0')) != std::string::npos;) {
                const json::ParseResult parsed = json::parse(m_buffer.substr(0, nul));
                m_buffer.erase(0, nul + 1);
                // Events and answers to other commands are passed over.
                const json::Value *answered = parsed.value ? parsed.value->find("id") : nullptr;
                if (answered && answered->isInteger() && answered->asInteger() == id) {
                    if (const json::Value *result = parsed.value->find("result"))
                        return *result;
                    throw std::runtime_error(method + ": " + json::serialize(*parsed.value));
                }
            }
            if (!m_process.waitForReadyRead(30000))
                throw std::runtime_error("no answer to " + method);
            m_buffer += m_process.readAllStandardOutput().toStdString();
        }
    }

private:
    QProcess m_process;
    int m_nextId = 0;
    std::string m_buffer;
};

// A 2 s H.264 MP4 made with ffmpeg's test source; its log goes to stderr.
std::string makeMp4(const fs::path &dir)
{
    const QString out = QString::fromStdString((dir / "clip.mp4").string());
    const QStringList args =
        QStringLiteral("-nostdin -loglevel error -y -f lavfi -i testsrc=duration=2:size=320x240:rate=25 "
                       "-f lavfi -i sine=duration=2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p "
                       "-c:a aac -shortest -movflags +faststart")
            .split(QLatin1Char(' '));
    QFile f(out);
    if (QProcess::execute(QStringLiteral("ffmpeg"), args + QStringList{out}) != 0 || !f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

} // namespace

TEST(ServerSharePageBrowser, VideoReachesAReadyStateWithTheRightDuration)
{
    const std::string chromium = QStandardPaths::findExecutable(QStringLiteral("chromium")).toStdString();
    ASSERT_FALSE(chromium.empty()) << "Chromium is needed for this test: install the Debian package \"chromium\" "
                                      "(scripts/test installs it)";
    TempDir dir;
    const std::string mp4 = makeMp4(dir.path());
    ASSERT_GT(mp4.size(), 16u * 1024) << "ffmpeg could not make a test clip of several parts";

    // Small parts, so the page plays a video assembled from several of them.
    InProcessServer server([](ServerConfig &c) { c.partSize = 16 * 1024; });
    const Api api = server.api(newToken());
    const std::string title = "Demo <b>bold</b> & \"quoted\" <script>document.title='pwned'</script>";
    const std::string id = api.uploadMultipart(mp4, 16 * 1024, title, R"("durationMs":2000,"width":320,"height":240)");
    server.service().waitForPosters();
    const std::string pageUrl = server.url() + "/v/" + id;

    Browser browser(chromium, dir.path() / "profile");
    const json::Value target = browser.call("Target.createTarget", "{\"url\":\"" + pageUrl + "\"}");
    const json::Value attached = browser.call(
        "Target.attachToTarget", "{\"targetId\":\"" + target.find("targetId")->asString() + "\",\"flatten\":true}");
    const std::string session = attached.find("sessionId")->asString();

    // The page's state, with what the checks below need already worked out:
    // HAVE_CURRENT_DATA (2) or better means the first frame is decoded.
    const char *probe = R"JS((() => {
        const v = document.querySelector('video');
        const meta = p => (document.querySelector(`meta[property="${p}"]`) || {}).content || null;
        return JSON.stringify({
            url: location.href,
            hasData: v.readyState >= 2,
            error: v.error ? v.error.code : 0,
            duration: Math.abs(v.duration - 2) <= 0.1 ? 2 : v.duration,
            videoWidth: v.videoWidth,
            heading: document.querySelector('h1').textContent,
            scripts: document.scripts.length,
            title: document.title,
            ogTitle: meta('og:title'),
            ogImage: meta('og:image'),
            poster: v.poster,
            paused: v.paused
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
                   (state.find("hasData")->asBool() || state.find("error")->asInteger() != 0);
        },
        30000);
    ASSERT_TRUE(state.isObject()) << "the page never answered";

    // The video plays whole; the title is text: no script ran, none was added,
    // and it reads as typed. Before play the page shows the poster, the frame
    // at 1 s, and link previews name the same picture.
    const std::string posterUrl = server.url() + "/r/" + id + ".jpg";
    const json::Object expected{
        {"url", pageUrl},    {"hasData", true},      {"error", 0},          {"duration", 2},
        {"videoWidth", 320}, {"heading", title},     {"scripts", 0},        {"title", title + " · Mivra Video"},
        {"ogTitle", title},  {"ogImage", posterUrl}, {"poster", posterUrl}, {"paused", true}};
    EXPECT_EQ(json::serialize(state), json::serialize(expected));
    // The poster is there to fetch, and the page may load nothing but what it played.
    const Http poster = api.publicGet("/r/" + id + ".jpg");
    EXPECT_EQ(std::tuple(poster.status, poster.header("Content-Type"), poster.body.substr(0, 3)),
              std::tuple(200, "image/jpeg", "\xFF\xD8\xFF"));
    EXPECT_NE(api.publicGet("/v/" + id).header("Content-Security-Policy").find("default-src 'none'"),
              std::string::npos);
}
