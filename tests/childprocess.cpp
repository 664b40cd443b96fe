#include "childprocess.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

void ChildProcess::setupChildProcess()
{
    // Runs in the child between fork and exec. The parent may have gone in between; then the
    // signal would never come.
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
}
