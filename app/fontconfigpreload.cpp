#include "fontconfigpreload.h"

#include <fontconfig/fontconfig.h>

namespace App {

FontConfigPreload::FontConfigPreload()
    : m_thread([] { FcInit(); })
{}

FontConfigPreload::~FontConfigPreload()
{
    finish();
}

void FontConfigPreload::finish()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace App
