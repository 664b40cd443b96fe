#pragma once

#include <QIcon>

// An icon read from its image file only when it is first drawn or measured: the form's
// large PNGs are decoded after the window is up, not while it is being built.
QIcon deferredFileIcon(const QString &path);
