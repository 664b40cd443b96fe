#pragma once

#include "serialports.h"

#include <QList>
#include <QString>

// korvane-ctl scan: the panel's serial port probe (Probe::run), reporting one line per port
// in the panel's words.
class PortScanner
{
public:
    struct Outcome
    {
        QString line; // port name and ": Error", ": OK, NoMatch" or ": OK, Match: <model>"
        bool matched = false;
    };

    QList<Outcome> scan() const;
    Outcome scanPort(const Platform::SerialPortEntry &port) const;
};
