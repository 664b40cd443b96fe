#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// Who may use the agent: observers read, controllers also change settings. With no ranges
// given, loopback clients control and no one else is served.
class AccessPolicy
{
public:
    enum class Role { Refused, Observer, Controller };
    using Range = QPair<QHostAddress, int>;

    // Adds a range in CIDR notation ("192.0.2.0/24", "::1/128", or a bare address);
    // false with `error` set if the text is no range.
    bool allow(const QString &cidr, QString *error);
    bool control(const QString &cidr, QString *error);
    // Clients that may break another's control lease.
    bool admin(const QString &cidr, QString *error) { return add(&m_admins, cidr, error); }
    bool isAdmin(const QHostAddress &address) const { return contains(m_admins, address); }
    bool hasAdmins() const { return !m_admins.isEmpty(); }

    Role roleOf(const QHostAddress &address) const;

    static QString name(Role role);

private:
    static bool add(QList<Range> *ranges, const QString &cidr, QString *error);
    static bool parse(const QString &cidr, Range *range, QString *error);
    static bool contains(const QList<Range> &ranges, const QHostAddress &address);

    QList<Range> m_observers;
    QList<Range> m_controllers;
    QList<Range> m_admins;
};
