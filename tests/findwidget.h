#pragma once

#include <QObject>
#include <QString>

#include <cstdlib>

// The window's widget of that type and object name; a test that asks for one the form does
// not have is broken, so it stops at once.
template<typename T>
T *findWidget(const QObject *window, const char *name)
{
    auto *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return found;
}
