#pragma once

#include <QString>

// The amplifier's address as the operator types it: four decimal numbers from 0 to 255,
// separated by dots. The address field invites three-digit groups ("192.168.001.010"), and
// the system's own parsers read a leading zero as octal, so the text is read here instead.
namespace Ipv4 {

struct Parsed
{
    quint32 address = 0;
    QString error; // why the text is no address; empty when it is one

    bool isValid() const { return error.isEmpty(); }
};

Parsed parseDecimal(const QString &text);

// A host as given on a command line: a name passes unchanged, a dotted address is read as
// decimal and written back in its plain form. False with `error` set for a dotted text
// that is no address.
bool normalizeHost(QString *host, QString *error);

} // namespace Ipv4
