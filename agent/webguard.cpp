#include "webguard.h"

#include <QCryptographicHash>

#include <crypt.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <memory>

namespace {

constexpr int MaxVerifiedLogins = 64;
constexpr int MaxWrongLogins = 1024;
constexpr auto WrongLoginMemory = std::chrono::minutes(1);
// bcrypt checks at once: enough for the scrapers' first logins, and a core left for the rest.
constexpr int MaxCrypting = 1;
// A check that cannot start within this long is refused: its peer is most likely one of many.
constexpr auto CryptWait = std::chrono::seconds(2);

MHD_Result refuse(MHD_Connection *connection, unsigned status, const QByteArray &body)
{
    MHD_Response *response = MHD_create_response_from_buffer(size_t(body.size()),
                                                             const_cast<char *>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    // One request per connection, as for every answer of the metrics server.
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result result = status == MHD_HTTP_UNAUTHORIZED
                                  ? MHD_queue_basic_auth_fail_response(connection,
                                                                       WebGuard::Realm,
                                                                       response)
                                  : MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

// Compares in a time that does not tell how much of the two matched.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

} // namespace

WebGuard::WebGuard(const WebConfig &config)
    : m_config(config)
    , m_priorities(config.tlsPriorities())
{
    if (m_config.usesTls()) {
        m_options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, m_config.certPem.data()});
        m_options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, m_config.keyPem.data()});
        m_options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, m_priorities.data()});
        // With authorities to trust, the daemon asks each client for its certificate.
        if (m_config.asksForCertificate())
            m_options.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, m_config.clientCaPem.data()});
    }
    m_options.push_back({MHD_OPTION_END, 0, nullptr});
}

unsigned WebGuard::daemonFlags() const
{
    return m_config.usesTls() ? MHD_USE_TLS : 0;
}

bool WebGuard::admit(MHD_Connection *connection, const QString &address, MHD_Result *result)
{
    if (m_config.asksForCertificate()) {
        const QString problem = certificateProblem(connection);
        if (!problem.isEmpty()) {
            *result = refuse(connection, MHD_HTTP_FORBIDDEN, problem.toUtf8() + '\n');
            return false;
        }
    }
    if (m_config.users.isEmpty())
        return true;
    char *password = nullptr;
    char *user = MHD_basic_auth_get_username_password(connection, &password);
    const QByteArray name = user ? QByteArray(user) : QByteArray();
    // A browser asks without a login first, and is then asked for one: no failure yet.
    const Check check = user && password ? checkPassword(address, user, password) : Check::Wrong;
    MHD_free(user);
    MHD_free(password);
    if (check == Check::Matches)
        return true;
    if (!name.isNull() || password)
        refuseLogin(address,
                    name,
                    check == Check::Busy ? QStringLiteral("too many logins being checked")
                                         : QStringLiteral("wrong user or password"));
    *result = refuse(connection, MHD_HTTP_UNAUTHORIZED, "unauthorized\n");
    return false;
}

QString WebGuard::certificateProblem(MHD_Connection *connection) const
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection,
                                                             MHD_CONNECTION_INFO_GNUTLS_SESSION);
    if (!info || !info->tls_session)
        return QStringLiteral("no TLS session");
    const auto session = static_cast<gnutls_session_t>(info->tls_session);
    unsigned count = 0;
    if (!gnutls_certificate_get_peers(session, &count) || count == 0)
        return m_config.requiresCertificate() ? QStringLiteral("a client certificate is required")
                                              : QString();
    if (!m_config.verifiesCertificate())
        return QString();
    // A certificate whose extended key usage leaves out clientAuth is for another use, such
    // as a server's: it does not make its holder a client.
    gnutls_typed_vdata_st purpose = {GNUTLS_DT_KEY_PURPOSE_OID,
                                     reinterpret_cast<unsigned char *>(
                                         const_cast<char *>(GNUTLS_KP_TLS_WWW_CLIENT)),
                                     0};
    unsigned status = 0;
    if (gnutls_certificate_verify_peers(session, &purpose, 1, &status) != GNUTLS_E_SUCCESS)
        return QStringLiteral("the client certificate is not trusted");
    if (status & GNUTLS_CERT_PURPOSE_MISMATCH)
        return QStringLiteral("the client certificate is not for a client (extended key usage)");
    if (status != 0)
        return QStringLiteral("the client certificate is not trusted");
    return QString();
}

WebGuard::Check WebGuard::checkPassword(const QString &address,
                                        const QByteArray &user,
                                        const QByteArray &password)
{
    // Read through a const reference: a non-const call would detach the map and leave
    // `found` pointing into the old copy.
    const QMap<QString, QByteArray> &users = m_config.users;
    const auto found = users.constFind(QString::fromUtf8(user));
    const bool known = found != users.constEnd();
    // An unknown user costs the same bcrypt as a known one, so that the time taken does not
    // tell which users exist.
    const QByteArray hash = known ? found.value() : users.constBegin().value();
    const QByteArray login = QCryptographicHash::hash(user + '\0' + password + '\0' + hash,
                                                      QCryptographicHash::Sha256);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (known && m_verified.contains(login))
            return Check::Matches;
        const auto wrong = m_wrong.constFind(login);
        if (wrong != m_wrong.constEnd() && Clock::now() - wrong.value() < WrongLoginMemory)
            return Check::Wrong;
        if (m_checking.contains(address))
            return Check::Busy;
        m_checking.insert(address);
        const bool free = m_cryptFree.wait_for(lock, CryptWait, [this] {
            return m_crypting < MaxCrypting;
        });
        if (!free) {
            m_checking.remove(address);
            return Check::Busy;
        }
        ++m_crypting;
    }
    const auto data = std::make_unique<crypt_data>();
    const char *computed = crypt_rn(password.constData(),
                                    hash.constData(),
                                    data.get(),
                                    int(sizeof(crypt_data)));
    const bool matches = known && computed && sameBytes(QByteArray(computed), hash);
    const std::lock_guard<std::mutex> lock(m_mutex);
    --m_crypting;
    m_checking.remove(address);
    m_cryptFree.notify_one();
    if (matches) {
        if (m_verified.size() >= MaxVerifiedLogins)
            m_verified.clear();
        m_verified.insert(login);
        return Check::Matches;
    }
    const Clock::time_point now = Clock::now();
    if (m_wrong.size() >= MaxWrongLogins) {
        for (auto it = m_wrong.begin(); it != m_wrong.end();)
            it = now - it.value() < WrongLoginMemory ? std::next(it) : m_wrong.erase(it);
        if (m_wrong.size() >= MaxWrongLogins)
            m_wrong.clear();
    }
    m_wrong.insert(login, now);
    return Check::Wrong;
}

void WebGuard::refuseLogin(const QString &address, const QByteArray &user, const QString &reason)
{
    ++m_failures;
    if (m_onFailure)
        m_onFailure(address, QString::fromUtf8(user), reason);
}
