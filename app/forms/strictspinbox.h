#pragma once

#include <QAbstractSpinBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <cmath>

// A spin box that keeps what the operator typed. The toolkit's boxes drop a keystroke that
// would leave the range, in silence, and round a value between steps: "300" in a 0 to 255
// box becomes "30", "12.3" in a half-step box goes out as 12.5. Here such a text stays as
// typed and is not acceptable, so it never becomes the box's value: Return, a step and the
// focus leaving all keep it, for the operator to mend or take back with Escape.
// No new signals, so no meta-object of its own: to everyone else it is the box it derives
// from.
template<class Base>
class StrictSpinBox : public Base
{
public:
    using Base::Base;

    // The steps the amplifier takes; values between them are not acceptable.
    void setStrictStep(double step) { m_step = step; }
    double strictStep() const { return m_step; }

    bool hasAcceptableText() const
    {
        QString text = this->lineEdit()->displayText();
        int position = this->lineEdit()->cursorPosition();
        return validate(text, position) == QValidator::Acceptable;
    }

    QValidator::State validate(QString &text, int &position) const override
    {
        const QValidator::State state = Base::validate(text, position);
        if (state == QValidator::Acceptable)
            return onStep(this->valueFromText(text)) ? state : QValidator::Intermediate;
        if (state == QValidator::Invalid && looksLikeANumber(text))
            return QValidator::Intermediate;
        return state;
    }

    void stepBy(int steps) override
    {
        if (hasAcceptableText())
            Base::stepBy(steps);
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool commit = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (commit && !hasAcceptableText()) {
            event->accept();
            return;
        }
        Base::keyPressEvent(event);
    }

    void focusOutEvent(QFocusEvent *event) override
    {
        // The toolkit would put the value back in place of a text it cannot take, and take an
        // acceptable one as the value even when the focus leaves because the box was
        // disabled: neither is the operator's commit.
        if (this->isEnabled() && hasAcceptableText()) {
            Base::focusOutEvent(event);
            return;
        }
        QCoreApplication::sendEvent(this->lineEdit(), event);
        this->QWidget::focusOutEvent(event);
    }

private:
    bool onStep(double value) const
    {
        if (m_step <= 0)
            return true;
        const double steps = value / m_step;
        return std::fabs(steps - std::round(steps)) < 1e-6;
    }

    // Digits with at most one sign in front and one decimal point: what an operator types
    // for a value, whatever the range.
    bool looksLikeANumber(const QString &text) const
    {
        const QString body = text.trimmed();
        if (body.isEmpty() || body.size() > MaxTypedLength)
            return false;
        int points = 0;
        int digits = 0;
        for (int i = 0; i < body.size(); ++i) {
            const QChar c = body.at(i);
            if (c.isDigit())
                ++digits;
            else if (c == this->locale().decimalPoint() || c == QLatin1Char('.'))
                ++points;
            else if (i != 0 || (c != QLatin1Char('-') && c != QLatin1Char('+')))
                return false;
        }
        return points <= 1 && (digits > 0 || body.size() == 1);
    }

    static constexpr int MaxTypedLength = 8;
    double m_step = 0;
};
