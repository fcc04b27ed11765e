#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {
const char *const kUsage =
    "Usage: mivra [--help] [--version] [mivra://COMMAND ...]\n"
    "\n"
    "Records the screen and turns each recording into a share link.\n";
}

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Mivra Video"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MIVRA_VERSION));
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("mivra %s\n", MIVRA_VERSION);
            return 0;
        }
    }
    std::fputs("mivra: the application window is not built yet; see --help\n", stderr);
    return 1;
}
