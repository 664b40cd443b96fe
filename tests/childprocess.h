#pragma once

#include <QProcess>

// A process that dies with the test: the kernel ends it when the test's process goes, even by
// SIGKILL or a crash, so that no simulator or server outlives a test run.
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override;
};
