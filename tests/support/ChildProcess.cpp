#include "ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

int runInChild(const std::function<int()> &body, bool unprivileged)
{
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // 65534: nobody.
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
