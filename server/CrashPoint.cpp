#include "CrashPoint.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void crashPoint(const char *name)
{
    static const char *wanted = std::getenv("MIVRA_SERVER_CRASH_AT");
    if (wanted && *wanted && std::strcmp(wanted, name) == 0) {
        static const char msg[] = "mivra-server: crash point reached, killing myself\n";
        (void)!::write(2, msg, sizeof msg - 1);
        ::kill(::getpid(), SIGKILL);
        ::_exit(137);
    }
}
