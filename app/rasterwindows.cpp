#include "rasterwindows.h"

#include <QByteArray>
#include <QtGlobal>

namespace App {

void drawWithoutOpenGl()
{
    const char variable[] = "QT_XCB_GL_INTEGRATION";
    if (!qEnvironmentVariableIsSet(variable))
        qputenv(variable, QByteArray("none"));
}

} // namespace App
