// Start-up of the tray app to idle: the window's QML loaded only when it is
// first opened (a desktop with a tray), beside the same launch that opens the
// window at once (no tray). Prints the medians and their ratio; the goal is
// the lazy start under 150 ms.
//   bench_startup [RUNS (7)]   (on an X display; the app must be built)

#include "PrivateHome.h"
#include "XEmbedTrayStub.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// Milliseconds from process start to idle, as the app logs them.
std::optional<int> oneStart()
{
    PrivateHome home;
    QProcess app;
    app.setProcessEnvironment(home.env);
    app.start(appBinary(), {});
    const QString marker = QStringLiteral("start: idle in the tray after ");
    const bool idle = home.waitForLog(marker, 20000);
    stopChild(app);
    if (!idle)
        return std::nullopt;
    static const QRegularExpression figure(QStringLiteral("idle in the tray after (\\d+) ms"));
    return figure.match(home.log()).captured(1).toInt();
}

std::optional<int> median(int runs)
{
    QList<int> times;
    for (int i = 0; i < runs; ++i) {
        const std::optional<int> ms = oneStart();
        if (!ms)
            return std::nullopt;
        times.append(*ms);
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    // First without a tray: the app opens its window at start.
    const std::optional<int> eager = median(runs);
    std::optional<int> lazy;
    {
        auto tray = std::make_unique<XEmbedTrayStub>();
        lazy = median(runs);
    }
    if (!eager || !lazy) {
        std::fprintf(stderr, "bench_startup: the app did not reach idle\n");
        return 1;
    }
    std::printf("start-up to idle, median of %d: window loaded when first opened %d ms, window opened at start "
                "%d ms, ratio %.2f (goal: under 150 ms)\n",
                runs, *lazy, *eager, double(*lazy) / std::max(1, *eager));
    return 0;
}
