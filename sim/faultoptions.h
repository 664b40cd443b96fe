#pragma once

// Misbehaviour put on every connection, to test how the panel copes, and the pace of a
// serial line; all off by default.
struct FaultOptions
{
    int burstSize = 0;     // > 0: each write goes out in pieces of this many bytes
    int coalesceCount = 1; // replies are held and written this many at a time
    bool junk = false;     // junk bytes go out before each frame
    int delayMs = 0;       // each line is carried out this long after it came in
    int dropAfter = -1;    // >= 0: the connection is closed after this many replies
    int muteAfter = -1;    // >= 0: no more replies after this many
    int baud = 0;          // > 0: replies leave at this 8N1 line's pace, 10 bits a byte
};
