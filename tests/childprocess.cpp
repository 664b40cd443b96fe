#include "childprocess.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

ChildProcess::ChildProcess(QObject *parent)
    : QProcess(parent)
    , m_parentPid(::getpid())
{}

ChildProcess::~ChildProcess()
{
    if (state() != NotRunning) {
        kill();
        waitForFinished();
    }
}

// Runs in the child between fork and exec: only async-signal-safe calls here.
void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The test may have died before the line above; then nobody would send the signal.
    if (::getppid() != pid_t(m_parentPid))
        ::_exit(127);
    if (m_fileSizeLimit >= 0) {
        const rlimit limit = {rlim_t(m_fileSizeLimit), rlim_t(m_fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        // An ignored signal stays ignored across exec.
        ::signal(SIGXFSZ, SIG_IGN);
    }
    int pipe[2];
    if (m_readerGone && ::pipe(pipe) == 0) {
        ::close(pipe[0]);
        ::dup2(pipe[1], STDOUT_FILENO);
        ::close(pipe[1]);
    }
}
