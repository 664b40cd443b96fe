#include "wheelguard.h"

#include <QEvent>
#include <QWidget>

WheelGuard::WheelGuard(QObject *parent)
    : QObject(parent)
{}

void WheelGuard::guard(QWidget *control)
{
    // Clicked or tabbed into, not wheeled into.
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(this);
}

bool WheelGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && !static_cast<QWidget *>(watched)->hasFocus())
        return true;
    return QObject::eventFilter(watched, event);
}
