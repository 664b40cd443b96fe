#pragma once

namespace App {

// The panel draws all its windows with Qt's raster engine and never uses OpenGL. On X11,
// Qt still sets up OpenGL when it makes the first window: it loads the system's GL driver
// (with Mesa's software renderer, LLVM too), which delays the first window by tens of
// milliseconds and maps a hundred megabytes for nothing. This leaves that out, unless the
// user chose a GL integration of their own (QT_XCB_GL_INTEGRATION). Call before the
// application object exists.
void drawWithoutOpenGl();

} // namespace App
