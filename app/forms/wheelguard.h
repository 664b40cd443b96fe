#pragma once

#include <QObject>

// Keeps the mouse wheel from changing a control that does not have the keyboard focus: a
// wheel turned to scroll past a spin box must not send the amplifier a new setting.
class WheelGuard : public QObject
{
    Q_OBJECT

public:
    explicit WheelGuard(QObject *parent = nullptr);

    void guard(QWidget *control);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
