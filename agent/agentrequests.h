#pragma once

#include "accesspolicy.h"
#include "extension.h"

#include <QByteArray>
#include <QString>

class AlarmWatch;
class ControlLease;

// Answers the agent's own commands of a client that opted in to them: who it is to the
// agent, the alarms and what people do about them, and the control lease.
class AgentRequests
{
public:
    struct Caller
    {
        quint64 id = 0; // the connection's own number, never reused
        QString peer;   // address:port
        QString commonName;
        AccessPolicy::Role role = AccessPolicy::Role::Observer;
        bool admin = false;

        // Who acknowledged, shelved or holds: the certificate's name where there is one.
        QString who() const;
    };

    AgentRequests(AlarmWatch *alarms, ControlLease *lease)
        : m_alarms(alarms)
        , m_lease(lease)
    {}

    // The frame that answers `request`. `refused` says why a right was missing, for the
    // journal; empty when the caller had the right.
    QByteArray answer(const Caller &caller, const Extension::Message &request, QString *refused);
    ControlLease *lease() const { return m_lease; }

private:
    QByteArray alarmRequest(const Caller &caller, const Extension::Message &request);
    QByteArray leaseRequest(const Caller &caller,
                            const Extension::Message &request,
                            QString *refused);

    AlarmWatch *m_alarms = nullptr;
    ControlLease *m_lease = nullptr;
};
