#pragma once

#include <QString>

// "HOST:PORT" or "HOST" as a person writes it on a command line: a name, a dotted IPv4
// address, or an IPv6 address in brackets when a port follows ("[::1]:2102"). Shared by
// every program that is told where a server is.
namespace HostPort {

// Leaves `port` as it was when the text names none. False for an empty host, a host with
// blanks, an unclosed bracket or a port that is not 1 to 65535.
bool parse(const QString &text, QString *host, quint16 *port);

} // namespace HostPort
