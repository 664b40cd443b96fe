#include "webconfig.h"

#include "secretfile.h"
#include "smallfile.h"
#include "tlsfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <crypt.h>
#include <memory>

namespace {

const char *const ClientAuthNames[] = {"NoClientCert",
                                       "RequestClientCert",
                                       "RequireAnyClientCert",
                                       "VerifyClientCertIfGiven",
                                       "RequireAndVerifyClientCert"};
const char *const Versions[] = {"TLS10", "TLS11", "TLS12", "TLS13"};
const char *const GnutlsVersions[] = {"VERS-TLS1.0", "VERS-TLS1.1", "VERS-TLS1.2", "VERS-TLS1.3"};
const char *const TlsKeys[]
    = {"cert_file", "key_file", "client_ca_file", "client_auth_type", "min_version", "max_version"};
// The exporters' own keys that this server does not offer: refused rather than ignored, so
// that nobody believes a setting holds that does not.
const char *const UnsupportedTlsKeys[] = {"cipher_suites",
                                          "curve_preferences",
                                          "prefer_server_cipher_suites",
                                          "client_allowed_sans",
                                          "cert",
                                          "key"};

QString where(const YAML::Node &node)
{
    const YAML::Mark mark = node.Mark();
    return mark.is_null() ? QString() : QStringLiteral(" (line %1)").arg(mark.line + 1);
}

QString text(const YAML::Node &node)
{
    return QString::fromStdString(node.as<std::string>());
}

int versionIndex(const QString &name)
{
    for (int i = 0; i < int(std::size(Versions)); ++i) {
        if (name == QLatin1String(Versions[i]))
            return i;
    }
    return -1;
}

constexpr int MaxBcryptCost = 16;

// Why a hash cannot check a password, empty if it can. One of the right shape may still be
// unusable, and would then refuse every login: it is tried once here, at start.
QString bcryptProblem(const QByteArray &hash)
{
    static const QByteArray alphabet
        = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // $2a$, $2b$ or $2y$, two digits of cost, then 22 characters of salt and 31 of hash.
    if (hash.size() != 60 || !hash.startsWith("$2") || hash.at(3) != '$'
        || !QByteArray("aby").contains(hash.at(2)) || hash.at(6) != '$')
        return QStringLiteral("is not a bcrypt hash ($2y$...)");
    bool number = false;
    const int cost = hash.mid(4, 2).toInt(&number);
    if (!number || !std::isdigit(static_cast<unsigned char>(hash.at(4))))
        return QStringLiteral("is a bcrypt hash whose cost '%1' is no number")
            .arg(QString::fromLatin1(hash.mid(4, 2)));
    if (cost < 4 || cost > MaxBcryptCost)
        return QStringLiteral("is a bcrypt hash of cost %1, not from 4 to %2 (each login "
                              "costs 2 to the power of it)")
            .arg(cost)
            .arg(MaxBcryptCost);
    const QByteArray encoded = hash.mid(7);
    const bool alphabetic = std::all_of(encoded.begin(), encoded.end(), [](char c) {
        return alphabet.contains(c);
    });
    // 31 characters carry 186 bits of a 184-bit hash: the last two must be nought.
    if (!alphabetic || alphabet.indexOf(encoded.back()) % 4 != 0)
        return QStringLiteral("is a bcrypt hash with characters that are not its base64");
    const auto data = std::make_unique<crypt_data>();
    const char *computed = crypt_rn("", hash.constData(), data.get(), int(sizeof(crypt_data)));
    if (!computed || QByteArray(computed).left(29) != hash.left(29))
        return QStringLiteral("is a bcrypt hash that crypt cannot use (its salt?)");
    return QString();
}

class Reader
{
public:
    Reader(WebConfig *config, QString *error)
        : m_config(config)
        , m_error(error)
    {}

    bool read(const YAML::Node &root)
    {
        if (root.IsNull())
            return true;
        if (!root.IsMap())
            return fail(QStringLiteral("is not a mapping of settings") + where(root));
        for (const auto &entry : root) {
            const QString key = text(entry.first);
            const YAML::Node &value = entry.second;
            if (key == QLatin1String("tls_server_config")) {
                if (!readTls(value))
                    return false;
            } else if (key == QLatin1String("basic_auth_users")) {
                if (!readUsers(value))
                    return false;
            } else if (key == QLatin1String("http_server_config")) {
                if (!readHttp(value))
                    return false;
            } else {
                return fail(QStringLiteral("unknown key '%1'").arg(key) + where(entry.first));
            }
        }
        return check();
    }

private:
    bool fail(const QString &message)
    {
        *m_error = message;
        return false;
    }

    bool readTls(const YAML::Node &node)
    {
        if (node.IsNull())
            return true;
        if (!node.IsMap())
            return fail(QStringLiteral("tls_server_config is not a mapping") + where(node));
        for (const auto &entry : node) {
            const QString key = text(entry.first);
            const auto named = [&](const char *name) { return key == QLatin1String(name); };
            if (std::any_of(std::begin(UnsupportedTlsKeys), std::end(UnsupportedTlsKeys), named))
                return fail(QStringLiteral("tls_server_config: %1 is not supported by "
                                           "korvane-agent")
                                .arg(key)
                            + where(entry.first));
            if (std::none_of(std::begin(TlsKeys), std::end(TlsKeys), named))
                return fail(QStringLiteral("tls_server_config: unknown key '%1'").arg(key)
                            + where(entry.first));
            const QString value = entry.second.IsScalar() ? text(entry.second) : QString();
            if (!entry.second.IsScalar() && !entry.second.IsNull())
                return fail(QStringLiteral("tls_server_config: %1 takes one value").arg(key)
                            + where(entry.second));
            if (key == QLatin1String("cert_file")) {
                m_config->certFile = value;
            } else if (key == QLatin1String("key_file")) {
                m_config->keyFile = value;
            } else if (key == QLatin1String("client_ca_file")) {
                m_config->clientCaFile = value;
            } else if (key == QLatin1String("client_auth_type")) {
                const auto *found = std::find_if(std::begin(ClientAuthNames),
                                                 std::end(ClientAuthNames),
                                                 [&](const char *name) {
                                                     return value == QLatin1String(name);
                                                 });
                if (found == std::end(ClientAuthNames))
                    return fail(QStringLiteral("tls_server_config: client_auth_type '%1' is "
                                               "none of NoClientCert, RequestClientCert, "
                                               "RequireAnyClientCert, VerifyClientCertIfGiven, "
                                               "RequireAndVerifyClientCert")
                                    .arg(value)
                                + where(entry.second));
                m_config->clientAuth = WebConfig::ClientAuth(found - std::begin(ClientAuthNames));
            } else {
                if (versionIndex(value) < 0)
                    return fail(QStringLiteral("tls_server_config: %1 '%2' is none of TLS10, "
                                               "TLS11, TLS12, TLS13")
                                    .arg(key, value)
                                + where(entry.second));
                (key == QLatin1String("min_version") ? m_config->minVersion : m_config->maxVersion)
                    = value;
            }
        }
        m_tlsGiven = true;
        return true;
    }

    bool readUsers(const YAML::Node &node)
    {
        if (node.IsNull())
            return true;
        if (!node.IsMap())
            return fail(QStringLiteral("basic_auth_users is not a mapping of users to bcrypt "
                                       "hashes")
                        + where(node));
        for (const auto &entry : node) {
            const QString user = text(entry.first);
            const QByteArray hash = entry.second.IsScalar()
                                        ? QByteArray::fromStdString(entry.second.as<std::string>())
                                        : QByteArray();
            if (user.isEmpty() || user.contains(QLatin1Char(':')))
                return fail(QStringLiteral("basic_auth_users: '%1' is no user name").arg(user)
                            + where(entry.first));
            if (m_config->users.contains(user))
                return fail(QStringLiteral("basic_auth_users: '%1' is listed twice").arg(user)
                            + where(entry.first));
            const QString problem = bcryptProblem(hash);
            if (!problem.isEmpty())
                return fail(
                    QStringLiteral("basic_auth_users: the password of '%1' %2").arg(user, problem)
                    + where(entry.second));
            m_config->users.insert(user, hash);
        }
        return true;
    }

    bool readHttp(const YAML::Node &node)
    {
        if (node.IsNull())
            return true;
        if (!node.IsMap())
            return fail(QStringLiteral("http_server_config is not a mapping") + where(node));
        for (const auto &entry : node) {
            const QString key = text(entry.first);
            // HTTP/2 is the exporters' own choice; this server speaks HTTP/1.1, which every
            // scraper speaks too.
            if (key == QLatin1String("http2"))
                continue;
            return fail((key == QLatin1String("headers")
                             ? QStringLiteral("http_server_config: headers is not supported by "
                                              "korvane-agent")
                             : QStringLiteral("http_server_config: unknown key '%1'").arg(key))
                        + where(entry.first));
        }
        return true;
    }

    bool check()
    {
        if (!m_tlsGiven)
            return true;
        if (m_config->certFile.isEmpty())
            return fail(QStringLiteral("tls_server_config: cert_file is missing"));
        if (m_config->keyFile.isEmpty())
            return fail(QStringLiteral("tls_server_config: key_file is missing"));
        if (!m_config->clientCaFile.isEmpty() && !m_config->asksForCertificate())
            return fail(QStringLiteral("tls_server_config: client_ca_file is given without a "
                                       "client_auth_type that asks for a certificate"));
        // The server asks for a certificate by offering the authorities it trusts.
        if (m_config->clientCaFile.isEmpty() && m_config->asksForCertificate())
            return fail(QStringLiteral("tls_server_config: client_auth_type %1 needs "
                                       "client_ca_file")
                            .arg(QLatin1String(ClientAuthNames[int(m_config->clientAuth)])));
        if (versionIndex(m_config->minVersion) > versionIndex(m_config->maxVersion))
            return fail(QStringLiteral("tls_server_config: min_version is above max_version"));
        return true;
    }

    WebConfig *m_config;
    QString *m_error;
    bool m_tlsGiven = false;
};

} // namespace

bool WebConfig::load(const QString &file, QString *error)
{
    path = file;
    QByteArray contents;
    if (!SmallFile::read(file, &contents, error))
        return false;
    QString why;
    try {
        if (!Reader(this, &why).read(YAML::Load(contents.toStdString()))) {
            *error = file + QLatin1String(": ") + why;
            return false;
        }
    } catch (const YAML::Exception &exception) {
        // Thrown for malformed YAML and for a value of the wrong kind.
        *error = QStringLiteral("%1: %2").arg(file, QString::fromStdString(exception.what()));
        return false;
    }
    if (!usesTls())
        return true;
    const QDir folder = QFileInfo(file).absoluteDir();
    for (QString *name : {&certFile, &keyFile, &clientCaFile}) {
        if (!name->isEmpty())
            *name = folder.absoluteFilePath(*name);
    }
    QList<QSslCertificate> certificates;
    QSslKey key;
    if (!TlsFiles::readCertificates(certFile, &certificates, error)
        || !SmallFile::read(certFile, &certPem, error) || !TlsFiles::readKey(keyFile, &key, error)
        || !SecretFile::read(keyFile, &keyPem, error))
        return false;
    if (!clientCaFile.isEmpty()
        && (!TlsFiles::readCertificates(clientCaFile, &certificates, error)
            || !SmallFile::read(clientCaFile, &clientCaPem, error)))
        return false;
    return true;
}

QByteArray WebConfig::tlsPriorities() const
{
    QByteArray priorities("NORMAL:-VERS-ALL");
    for (int i = versionIndex(minVersion); i <= versionIndex(maxVersion); ++i)
        priorities += QByteArray(":+") + GnutlsVersions[i];
    return priorities;
}

QString WebConfig::summary() const
{
    QStringList parts;
    parts << (usesTls() ? QStringLiteral("https, %1 to %2").arg(minVersion, maxVersion)
                        : QStringLiteral("http"));
    if (asksForCertificate())
        parts << QLatin1String(ClientAuthNames[int(clientAuth)]);
    parts << (users.isEmpty() ? QStringLiteral("no basic auth")
                              : QStringLiteral("basic auth for %1 user(s)").arg(users.size()));
    return parts.join(QLatin1String(", "));
}
