#include "frameassembler.h"

bool FrameAssembler::push(char byte)
{
    if (byte == Start) {
        clear();
        return false;
    }
    if (m_discarding)
        return false;
    if (m_complete) {
        m_buffer.clear();
        m_complete = false;
    }
    m_buffer.append(byte);
    if (byte == End) {
        m_complete = true;
        return true;
    }
    if (m_buffer.size() > m_maxFrameSize) {
        // No end in sight: drop what we have and wait for the device's next frame start.
        m_buffer.clear();
        m_discarding = true;
    }
    return false;
}

void FrameAssembler::clear()
{
    m_buffer.clear();
    m_complete = false;
    m_discarding = false;
}
