#include "requestdeadline.h"

#include <sys/socket.h>

namespace {

constexpr int CheckMs = 250;

} // namespace

RequestDeadline::RequestDeadline(std::chrono::milliseconds deadline)
    : m_deadline(deadline)
{
    m_timer.setInterval(CheckMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { cutOverdue(); });
    m_timer.start();
}

void RequestDeadline::started(MHD_Connection *connection, int socket)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_connections[connection] = {socket, std::chrono::steady_clock::now(), false};
}

void RequestDeadline::closed(MHD_Connection *connection)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_connections.erase(connection);
}

void RequestDeadline::cutOverdue()
{
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (auto &[connection, entry] : m_connections) {
        if (entry.cut || now - entry.since < m_deadline)
            continue;
        // The server sees the end of the stream and closes the connection itself.
        ::shutdown(entry.socket, SHUT_RDWR);
        entry.cut = true;
    }
}
