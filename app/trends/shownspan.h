#pragma once

#include <QtGlobal>

// Which of the recorder's samples a plot shows, and where on the wall clock they lie.
struct ShownSpan
{
    int first = 0;
    int count = 0;
    // Added to a sample's steady time to place it on the time axis.
    qint64 wallOffsetMs = 0;
};
