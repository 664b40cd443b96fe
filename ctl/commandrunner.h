#pragma once

#include "amplifierlink.h"
#include "rowfile.h"
#include "invocation.h"
#include "requester.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class MeasWatch;

// Carries out one checked invocation and finishes with the exit status of its outcome.
class CommandRunner : public QObject
{
    Q_OBJECT

public:
    explicit CommandRunner(const Invocation &invocation, QObject *parent = nullptr);

    // Call from the event loop: finished() may follow at once.
    void start();
    // Ends a watch cleanly, between two readings, with status 0.
    void stop();

signals:
    void finished(int exitStatus);

private:
    void scan();
    void startWatch();
    void onOpened();
    void onAnswered(const QByteArray &frame);
    int identify(const QByteArray &frame);
    int status(const QByteArray &frame);
    int meas(const QByteArray &frame);
    int confirm(const QByteArray &frame);
    void sendLine();
    // Whether the identified model takes the setting; says why not.
    int checkModelTakes(const QByteArray &frame);
    void fail(const QString &message);
    void finish(int exitStatus);

    Invocation m_invocation;
    AmplifierLink m_link;
    Requester m_requester;
    RowFile m_log;
    MeasWatch *m_watch = nullptr;
    bool m_finished = false;
    // `set rf` and `set linearity` wait for the model's answer before they send anything.
    bool m_modelAsked = false;
};
