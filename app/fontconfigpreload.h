#pragma once

#include <thread>

namespace App {

// Reads the system's font configuration (fontconfig's files and caches) on a thread of
// its own while the application connects to the display, so that the first widget that
// needs a font does not wait for it. finish() waits for the thread; call it before the
// first window is made, as two first readings at once would both do the whole work.
class FontConfigPreload
{
public:
    FontConfigPreload();
    ~FontConfigPreload();

    void finish();

private:
    std::thread m_thread;
};

} // namespace App
