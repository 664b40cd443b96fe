#pragma once

namespace App {

// Scales the whole fixed form with the screen's resolution (by 1.5 at 144 dpi, by 2 at
// 192 dpi, unrounded): its places are pixels at 96 dpi, and without scaling the fonts alone
// would grow at a higher resolution and no longer fit them. Call before the application
// object exists.
void enableHighDpiScaling();

} // namespace App
