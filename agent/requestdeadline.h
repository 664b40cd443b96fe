#pragma once

#include <QTimer>

#include <chrono>
#include <mutex>
#include <unordered_map>

struct MHD_Connection;

// Cuts off the HTTP server's connections that are older than a deadline. The server's own
// timeout counts silence only, so a client that trickles a byte now and then would keep its
// slot for ever; each connection carries one request, so its age is the request's.
class RequestDeadline
{
public:
    explicit RequestDeadline(std::chrono::milliseconds deadline);
    RequestDeadline(const RequestDeadline &) = delete;
    RequestDeadline &operator=(const RequestDeadline &) = delete;

    // Told by the server's thread as connections start and close.
    void started(MHD_Connection *connection, int socket);
    void closed(MHD_Connection *connection);

private:
    // On the owner's thread, every few hundred milliseconds.
    void cutOverdue();

    struct Entry
    {
        int socket = -1;
        std::chrono::steady_clock::time_point since;
        bool cut = false;
    };

    const std::chrono::milliseconds m_deadline;
    // The server closes a socket only after saying so, under this lock: a socket cut here
    // is never one reused for another connection.
    std::mutex m_mutex;
    std::unordered_map<MHD_Connection *, Entry> m_connections;
    QTimer m_timer;
};
