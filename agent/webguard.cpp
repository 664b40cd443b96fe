#include "webguard.h"

#include <QCryptographicHash>

#include <crypt.h>
#include <gnutls/gnutls.h>

#include <memory>

namespace {

constexpr int MaxVerifiedLogins = 64;

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

bool WebGuard::admit(MHD_Connection *connection, MHD_Result *result)
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
    const bool matches = user && password && passwordMatches(user, password);
    MHD_free(user);
    MHD_free(password);
    if (matches)
        return true;
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
    unsigned status = 0;
    if (gnutls_certificate_verify_peers2(session, &status) != GNUTLS_E_SUCCESS || status != 0)
        return QStringLiteral("the client certificate is not trusted");
    return QString();
}

bool WebGuard::passwordMatches(const QByteArray &user, const QByteArray &password)
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
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (known && m_verified.contains(login))
            return true;
    }
    const auto data = std::make_unique<crypt_data>();
    const char *computed = crypt_rn(password.constData(),
                                    hash.constData(),
                                    data.get(),
                                    int(sizeof(crypt_data)));
    const bool matches = known && computed && sameBytes(QByteArray(computed), hash);
    if (matches) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_verified.size() >= MaxVerifiedLogins)
            m_verified.clear();
        m_verified.insert(login);
    }
    return matches;
}
