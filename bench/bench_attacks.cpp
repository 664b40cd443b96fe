// korvane-agent in front of korvane-sim under attack: for each attack a fresh agent, one
// well-behaved client polling "Meas" at 10 Hz beside it (on the TLS port, one that connects
// anew with its certificate for each question), a scraper of /metrics at 10 Hz, and the
// attacker on a thread of its own. Prints per attack the good client's reply latency (median,
// 99th percentile, most), the scrapes' 99th percentile, the agent's CPU and peak memory, and
// the bytes its journal grew by.
// Usage: bench_attacks [seconds per attack] (default 10).
#include "agentclients.h"
#include "procstats.h"
#include "simprocess.h"
#include "testcertificates.h"
#include "tlsfiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <crypt.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

enum class Attack {
    None,
    ConnectionFlood,
    SlowLines,
    JunkFlood,
    RefusedSettings,
    RefusedConnections,
    SlowScrapes,
    SilentBroker,
    WrongLogins,
    HandshakeHog,
};

struct AttackInfo
{
    Attack attack;
    const char *name;
};
const AttackInfo Attacks[] = {
    {Attack::None, "none (baseline)"},
    {Attack::ConnectionFlood, "connection flood (900 held)"},
    {Attack::SlowLines, "slow lines (500 at 1 byte/s)"},
    {Attack::JunkFlood, "junk flood (reconnecting)"},
    {Attack::RefusedSettings, "refused settings (observer flood)"},
    {Attack::RefusedConnections, "refused connections"},
    {Attack::SlowScrapes, "slow scrapes (64 at 1 byte/2 s)"},
    {Attack::SilentBroker, "broker that never acknowledges"},
    {Attack::WrongLogins, "wrong logins to /metrics (32 from 4 addresses)"},
    {Attack::HandshakeHog, "TLS handshake hog (64 silent from 16 addresses)"},
};

const QByteArray ScrapeUser = "prometheus";
const QByteArray ScrapePassword = "scrape me";

QByteArray scrapeRequest(const QByteArray &password)
{
    return "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic "
           + (ScrapeUser + ':' + password).toBase64() + "\r\nConnection: close\r\n\r\n";
}

// Observers come from here; the good client, a controller, from 127.0.0.1.
const QHostAddress ObserverAddress(QStringLiteral("127.0.0.2"));
// Not allowed at all.
const QHostAddress StrangerAddress(QStringLiteral("127.0.0.9"));

// Runs one attack on the thread it is moved to.
class Attacker : public QObject
{
public:
    Attacker(Attack attack, quint16 agentPort, quint16 metricsPort)
        : m_attack(attack)
        , m_agentPort(agentPort)
        , m_metricsPort(metricsPort)
    {}

    void start()
    {
        m_tick = new QTimer(this);
        switch (m_attack) {
        case Attack::ConnectionFlood:
            connect(m_tick, &QTimer::timeout, this, [this] {
                for (int i = 0; i < 50 && m_held < 900; ++i, ++m_held)
                    open(ObserverAddress, m_agentPort);
            });
            m_tick->start(10);
            break;
        case Attack::SlowLines:
            for (int i = 0; i < 500; ++i)
                open(ObserverAddress, m_agentPort);
            connect(m_tick, &QTimer::timeout, this, [this] { trickle("M"); });
            m_tick->start(1000);
            break;
        case Attack::JunkFlood:
            connect(m_tick, &QTimer::timeout, this, [this] {
                flood(QByteArray("junk\r\n").repeated(2000));
            });
            m_tick->start(1);
            break;
        case Attack::RefusedSettings:
            connect(m_tick, &QTimer::timeout, this, [this] {
                flood(QByteArray("SetRF 1\r\n").repeated(2000));
            });
            m_tick->start(1);
            break;
        case Attack::RefusedConnections:
            connect(m_tick, &QTimer::timeout, this, [this] {
                for (int i = 0; i < 20; ++i) {
                    QTcpSocket *socket = open(StrangerAddress, m_agentPort);
                    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                }
            });
            m_tick->start(5);
            break;
        case Attack::SlowScrapes:
            for (int i = 0; i < 64; ++i) {
                QTcpSocket *socket = open(QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + i % 8)),
                                          m_metricsPort);
                socket->write("GET /metr");
            }
            connect(m_tick, &QTimer::timeout, this, [this] { trickle("i"); });
            m_tick->start(2000);
            break;
        case Attack::SilentBroker:
            // Events for the agent to publish: clients coming and going.
            connect(m_tick, &QTimer::timeout, this, [this] {
                for (int i = 0; i < 10; ++i) {
                    QTcpSocket *socket = open(QHostAddress::LocalHost, m_agentPort);
                    connect(socket, &QTcpSocket::connected, socket, &QTcpSocket::disconnectFromHost);
                    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                }
            });
            m_tick->start(5);
            break;
        case Attack::WrongLogins:
            for (int i = 0; i < 32; ++i)
                again(QHostAddress(QStringLiteral("127.0.0.%1").arg(30 + i % 4)),
                      m_metricsPort,
                      true);
            break;
        case Attack::HandshakeHog:
            for (int i = 0; i < 64; ++i)
                again(QHostAddress(QStringLiteral("127.0.0.%1").arg(48 + i % 16)),
                      m_agentPort,
                      false);
            break;
        case Attack::None:
            break;
        }
    }

private:
    // A connection that, once closed, is made again at once: with `login` it sends a scrape
    // with another wrong password each time, else nothing.
    void again(const QHostAddress &from, quint16 port, bool login)
    {
        QTcpSocket *socket = open(from, port);
        if (login)
            connect(socket, &QTcpSocket::connected, socket, [this, socket] {
                socket->write(scrapeRequest("guess" + QByteArray::number(++m_guesses)));
            });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, from, port, login] {
            m_sockets.removeOne(socket);
            socket->deleteLater();
            again(from, port, login);
        });
    }
    QTcpSocket *open(const QHostAddress &from, quint16 port)
    {
        auto *socket = new QTcpSocket(this);
        // Whatever arrives is read and thrown away.
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        if (!from.isNull() && from != QHostAddress::LocalHost)
            socket->bind(from);
        socket->connectToHost(QHostAddress::LocalHost, port);
        m_sockets.append(socket);
        return socket;
    }
    void trickle(const QByteArray &byte)
    {
        for (QTcpSocket *socket : qAsConst(m_sockets)) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write(byte);
        }
    }
    // As fast as the agent takes it; a new connection when it drops this one.
    void flood(const QByteArray &chunk)
    {
        if (!m_flooder || m_flooder->state() == QAbstractSocket::UnconnectedState) {
            if (m_flooder)
                m_flooder->deleteLater();
            m_sockets.removeOne(m_flooder);
            m_flooder = open(ObserverAddress, m_agentPort);
        }
        if (m_flooder->state() == QAbstractSocket::ConnectedState
            && m_flooder->bytesToWrite() < 256 * 1024)
            m_flooder->write(chunk);
    }

    Attack m_attack;
    quint16 m_agentPort;
    quint16 m_metricsPort;
    QTimer *m_tick = nullptr;
    QList<QTcpSocket *> m_sockets;
    QTcpSocket *m_flooder = nullptr;
    int m_held = 0;
    int m_guesses = 0;
};

// Asks at 10 Hz, each time on a connection of its own, and times from connecting to the
// answer: a scrape of /metrics (with the login), or "Meas" on the TLS port with a client
// certificate. One not answered within 2 s counts as not served.
class Newcomer : public QObject
{
public:
    Newcomer(quint16 port, const QSslConfiguration *tls, std::vector<double> *latenciesMs)
        : m_port(port)
        , m_tls(tls)
        , m_latencies(latenciesMs)
    {
        connect(&m_timer, &QTimer::timeout, this, &Newcomer::ask);
        m_timer.start(100);
    }

private:
    void ask()
    {
        if (m_socket)
            return; // the last one is still on its way
        m_asked.start();
        m_answer.clear();
        m_frames = FrameAssembler();
        if (m_tls) {
            auto *secure = new QSslSocket(this);
            secure->setSslConfiguration(*m_tls);
            connect(secure, &QSslSocket::encrypted, secure, [secure] { secure->write("Meas\r\n"); });
            secure->connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_port);
            m_socket = secure;
        } else {
            m_socket = new QTcpSocket(this);
            connect(m_socket, &QTcpSocket::connected, m_socket, [this] {
                m_socket->write(scrapeRequest(ScrapePassword));
            });
            m_socket->connectToHost(QHostAddress::LocalHost, m_port);
        }
        connect(m_socket, &QTcpSocket::readyRead, this, [this] {
            const QByteArray got = m_socket->readAll();
            m_answer += got;
            bool whole = !m_tls && m_answer.startsWith("HTTP/1.1 200")
                         && m_answer.contains("korvane_up");
            for (const char byte : got)
                whole = (m_tls && m_frames.push(byte)) || whole;
            if (whole) {
                m_latencies->push_back(m_asked.nsecsElapsed() / 1e6);
                done();
            }
        });
        connect(m_socket, &QTcpSocket::disconnected, this, &Newcomer::done);
        QTimer::singleShot(2000, m_socket, [this] { done(); });
    }
    void done()
    {
        if (!m_socket)
            return;
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }

    quint16 m_port;
    const QSslConfiguration *m_tls;
    std::vector<double> *m_latencies;
    QTimer m_timer;
    QElapsedTimer m_asked;
    QByteArray m_answer;
    QTcpSocket *m_socket = nullptr;
    FrameAssembler m_frames;
};

// A broker that takes the connection and the CONNECT, answers CONNACK and then nothing,
// reading all the same.
class SilentBroker : public QObject
{
public:
    SilentBroker()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    if (!socket->property("answered").toBool()) {
                        socket->setProperty("answered", true);
                        socket->write(QByteArray("\x20\x02\x00\x00", 4));
                    }
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
};

qint64 peakKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

struct Result
{
    std::vector<double> latencies;
    std::vector<double> scrapes;
    qint64 asked = 0;
    double cpuShare = 0;
    qint64 peakKiB = 0;
    qint64 journalBytes = 0;
    bool served = true;
};

// The lab's files: an authority, the agent's certificate and a client's, and a web
// configuration that asks for a login hashed at bcrypt's usual cost.
struct Lab
{
    TestCertificates certificates;
    QString webConfig;
    QSslConfiguration client;
};

Result run(Attack attack, int seconds, const QTemporaryDir &folder, quint16 simPort, const Lab &lab)
{
    Result result;
    SilentBroker broker;
    const QString events = folder.filePath(QStringLiteral("events-%1.jsonl").arg(int(attack)));
    QStringList arguments{QStringLiteral("--host"),
                          QStringLiteral("127.0.0.1"),
                          QStringLiteral("--port"),
                          QString::number(simPort),
                          QStringLiteral("--listen"),
                          QStringLiteral("127.0.0.1:0"),
                          QStringLiteral("--metrics"),
                          QStringLiteral("127.0.0.1:0"),
                          QStringLiteral("--events"),
                          events,
                          QStringLiteral("--control"),
                          QStringLiteral("127.0.0.1/32"),
                          QStringLiteral("--allow"),
                          QStringLiteral("127.0.0.2/32")};
    if (attack == Attack::WrongLogins)
        arguments += {QStringLiteral("--web-config"), lab.webConfig};
    const bool tls = attack == Attack::HandshakeHog;
    if (tls)
        arguments += {QStringLiteral("--allow"),
                      QStringLiteral("127.0.0.48/28"),
                      QStringLiteral("--tls-cert"),
                      lab.certificates.certificate(QStringLiteral("agent")),
                      QStringLiteral("--tls-key"),
                      lab.certificates.key(QStringLiteral("agent")),
                      QStringLiteral("--tls-client-ca"),
                      lab.certificates.certificate(QStringLiteral("lab-ca"))};
    if (attack == Attack::SilentBroker)
        arguments += {QStringLiteral("--mqtt"),
                      QStringLiteral("127.0.0.1:%1").arg(broker.port()),
                      QStringLiteral("--name"),
                      QStringLiteral("bench")};
    SimProcess agent;
    if (!agent.startProgram(QStringLiteral(KORVANE_AGENT_PATH), arguments)
        || !agent.waitForReport(QStringLiteral("model_identified"))) {
        std::fprintf(stderr, "bench_attacks: %s\n", qPrintable(agent.errorString()));
        result.served = false;
        return result;
    }
    const quint16 metricsPort = quint16(
        QRegularExpression(QStringLiteral(R"(metrics=127\.0\.0\.1:(\d+))"))
            .match(agent.stderrText())
            .captured(1)
            .toUInt());
    std::unique_ptr<Poller> good;
    std::unique_ptr<Newcomer> goodTls;
    if (tls)
        goodTls = std::make_unique<Newcomer>(agent.port(), &lab.client, &result.latencies);
    else
        good = std::make_unique<Poller>(agent.port(), &result.latencies);
    Newcomer scraper(metricsPort, nullptr, &result.scrapes);
    runFor(1000);
    result.latencies.clear();
    result.scrapes.clear();
    const qint64 journalStart = QFileInfo(events).size();
    const ProcStats::Sample start = ProcStats::sampleOf(agent.processId());

    QThread thread;
    auto *attacker = new Attacker(attack, agent.port(), metricsPort);
    attacker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, attacker, &QObject::deleteLater);
    thread.start();
    QMetaObject::invokeMethod(
        attacker, [attacker] { attacker->start(); }, Qt::QueuedConnection);
    runFor(seconds * 1000);
    const ProcStats::Sample end = ProcStats::sampleOf(agent.processId());
    result.peakKiB = peakKiB(agent.processId());
    thread.quit();
    thread.wait();
    result.cpuShare = (end.cpuSeconds - start.cpuSeconds) / seconds;
    result.journalBytes = QFileInfo(events).size() - journalStart;
    result.asked = seconds * 10;
    agent.stop();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(2, atoi(argv[1])) : 10;
    QTemporaryDir folder;
    Lab lab;
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data data = {};
    const char *hash = crypt_gensalt_rn("$2y$", 10, nullptr, 0, salt, sizeof salt)
                           ? crypt_rn(ScrapePassword.constData(), salt, &data, sizeof data)
                           : nullptr;
    lab.webConfig = folder.filePath(QStringLiteral("web.yml"));
    QFile web(lab.webConfig);
    if (!hash || !web.open(QIODevice::WriteOnly)
        || !web.write("basic_auth_users:\n  " + ScrapeUser + ": '" + hash + "'\n")
        || !lab.certificates.makeAuthority(QStringLiteral("lab-ca"))
        || !lab.certificates.issue(QStringLiteral("lab-ca"),
                                   QStringLiteral("agent"),
                                   QStringLiteral("localhost"))
        || !lab.certificates.issue(QStringLiteral("lab-ca"),
                                   QStringLiteral("client"),
                                   QStringLiteral("bench"))) {
        std::fprintf(stderr,
                     "bench_attacks: cannot make the lab's files: %s\n",
                     qPrintable(lab.certificates.errorString()));
        return 1;
    }
    web.close();
    TlsFiles clientFiles;
    clientFiles.caFile = lab.certificates.certificate(QStringLiteral("lab-ca"));
    clientFiles.certFile = lab.certificates.certificate(QStringLiteral("client"));
    clientFiles.keyFile = lab.certificates.key(QStringLiteral("client"));
    QString error;
    if (!clientFiles.load(&error)) {
        std::fprintf(stderr, "bench_attacks: %s\n", qPrintable(error));
        return 1;
    }
    lab.client = clientFiles.configuration();
    SimProcess sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench_attacks: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    std::printf("%d s per attack; one client polls \"Meas\" at 10 Hz beside each\n\n", seconds);
    std::printf("| attack | good client replies | p50 | p99 | max | scrapes | scrape p99 | agent "
                "CPU | agent peak memory | journal growth |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (const AttackInfo &info : Attacks) {
        const Result r = run(info.attack, seconds, folder, sim.port(), lab);
        const double most = r.latencies.empty()
                                ? 0
                                : *std::max_element(r.latencies.begin(), r.latencies.end());
        std::printf("| %s | %zu of %lld | %.2f ms | %.2f ms | %.1f ms | %zu of %lld | %.2f ms | "
                    "%.1f %% | %lld KiB | %lld B |\n",
                    info.name,
                    r.latencies.size(),
                    r.asked,
                    percentile(r.latencies, 50),
                    percentile(r.latencies, 99),
                    most,
                    r.scrapes.size(),
                    r.asked,
                    percentile(r.scrapes, 99),
                    100 * r.cpuShare,
                    r.peakKiB,
                    r.journalBytes);
        std::fflush(stdout);
    }
    return 0;
}
