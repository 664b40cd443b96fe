#pragma once

#include <QByteArray>

// Gathers reply bytes into frames. On the wire a frame is NUL, its bytes, 0xFF: a NUL
// empties the buffer and is not stored, every other byte is stored, and the 0xFF that
// completes a frame is stored too. Bytes after a completed frame start the next one.
class FrameAssembler
{
public:
    static constexpr char Start = '\0';
    static constexpr char End = '\xff';
    // Real frames are under 100 bytes; a longer one is a device that lost its framing.
    static constexpr int MaxFrameSize = 1024;

    // `maxFrameSize`: larger for a reader of the agent's own frames, which carry lists.
    explicit FrameAssembler(int maxFrameSize = MaxFrameSize)
        : m_maxFrameSize(maxFrameSize)
    {}

    // Stores one byte; returns true when it completed a frame, which frame() then holds.
    bool push(char byte);

    // The completed frame, or the bytes gathered so far.
    const QByteArray &frame() const { return m_buffer; }
    bool isComplete() const { return m_complete; }
    // True while an overlong frame is being skipped up to the next NUL.
    bool isDiscarding() const { return m_discarding; }
    void clear();

private:
    QByteArray m_buffer;
    int m_maxFrameSize = MaxFrameSize;
    bool m_complete = false;
    bool m_discarding = false;
};
