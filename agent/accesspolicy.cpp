#include "accesspolicy.h"

bool AccessPolicy::allow(const QString &cidr, QString *error)
{
    return add(&m_observers, cidr, error);
}

bool AccessPolicy::control(const QString &cidr, QString *error)
{
    return add(&m_controllers, cidr, error);
}

bool AccessPolicy::add(QList<Range> *ranges, const QString &cidr, QString *error)
{
    Range range;
    if (!parse(cidr, &range, error))
        return false;
    ranges->append(range);
    return true;
}

AccessPolicy::Role AccessPolicy::roleOf(const QHostAddress &peer) const
{
    // An IPv4 client on a dual-stack socket arrives as ::ffff:a.b.c.d.
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    const QHostAddress address = mapped ? QHostAddress(ipv4) : peer;
    if (m_observers.isEmpty() && m_controllers.isEmpty())
        return address.isLoopback() ? Role::Controller : Role::Refused;
    if (contains(m_controllers, address))
        return Role::Controller;
    if (contains(m_observers, address))
        return Role::Observer;
    return Role::Refused;
}

QString AccessPolicy::name(Role role)
{
    switch (role) {
    case Role::Refused:
        return QStringLiteral("refused");
    case Role::Observer:
        return QStringLiteral("observer");
    case Role::Controller:
        return QStringLiteral("controller");
    }
    return QString();
}

bool AccessPolicy::parse(const QString &cidr, Range *range, QString *error)
{
    const QString text = cidr.trimmed();
    if (text.contains(QLatin1Char('/')))
        *range = QHostAddress::parseSubnet(text);
    else if (QHostAddress(text).isNull())
        *range = {QHostAddress(), -1};
    else
        *range = {QHostAddress(text),
                  QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32};
    if (range->first.isNull() || range->second < 0) {
        *error = QStringLiteral("'%1' is not an address range such as 192.0.2.0/24").arg(cidr);
        return false;
    }
    return true;
}

bool AccessPolicy::contains(const QList<Range> &ranges, const QHostAddress &address)
{
    for (const Range &range : ranges) {
        if (address.isInSubnet(range))
            return true;
    }
    return false;
}
