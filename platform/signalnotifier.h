#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM as a Qt signal, through a pipe that the handler only writes to.
class SignalNotifier : public QObject
{
    Q_OBJECT

public:
    explicit SignalNotifier(QObject *parent = nullptr);

    // Takes over SIGINT and SIGTERM for this process; false if the system refused.
    bool install();

signals:
    void received();

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};
