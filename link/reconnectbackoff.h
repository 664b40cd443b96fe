#pragma once

#include <QtGlobal>

// How long to wait before opening a lost link again: 0.5 s, then twice as long each time up
// to 10 s, and back to 0.5 s once the link has worked.
class ReconnectBackoff
{
public:
    static constexpr int FirstMs = 500;
    static constexpr int LongestMs = 10000;

    // The wait before the next try; each call doubles the one after it.
    int next()
    {
        const int wait = m_nextMs;
        m_nextMs = qMin(m_nextMs * 2, LongestMs);
        return wait;
    }
    void reset() { m_nextMs = FirstMs; }

private:
    int m_nextMs = FirstMs;
};
