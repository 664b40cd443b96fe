#pragma once

#include "serialports.h"

#include <QList>
#include <QString>

// The panel's serial port probe, reporting one line per port in the panel's words.
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
