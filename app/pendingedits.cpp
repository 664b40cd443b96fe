#include "pendingedits.h"

#include <QDoubleSpinBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QSpinBox>

PendingEdits::PendingEdits(QObject *parent)
    : QObject(parent)
{}

void PendingEdits::watch(QAbstractSpinBox *box, Sending sending, const QString &range)
{
    m_sending.insert(box, sending);
    m_range.insert(box, range);
    m_amplifier.insert(box, valueOf(box));
    m_pending.insert(box, false);
    box->installEventFilter(this);
    // The spin box's own editor: textEdited() comes for the operator's typing only.
    if (auto *editor = box->findChild<QLineEdit *>()) {
        connect(editor, &QLineEdit::textEdited, this, [this, box](const QString &text) {
            if (m_applying)
                return;
            m_typed.insert(box, text);
            setPending(box, true);
            markAcceptable(box);
        });
    }
    connect(box, &QAbstractSpinBox::editingFinished, this, [this, box] { editingFinished(box); });
    if (auto *real = qobject_cast<QDoubleSpinBox *>(box))
        connect(real, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [this, box] {
            changed(box);
        });
    else if (auto *whole = qobject_cast<QSpinBox *>(box))
        connect(whole, qOverload<int>(&QSpinBox::valueChanged), this, [this, box] { changed(box); });
}

void PendingEdits::sent(QAbstractSpinBox *box)
{
    setPending(box, false);
}

bool PendingEdits::takeAmplifierValue(QAbstractSpinBox *box, double value)
{
    if (isPending(box)) {
        m_amplifier.insert(box, value);
        return false;
    }
    m_applying = true;
    if (auto *real = qobject_cast<QDoubleSpinBox *>(box))
        real->setValue(value);
    else if (auto *whole = qobject_cast<QSpinBox *>(box))
        whole->setValue(int(value));
    m_applying = false;
    // As the box shows it, within its range and decimals.
    m_amplifier.insert(box, valueOf(box));
    return true;
}

bool PendingEdits::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *box = static_cast<QAbstractSpinBox *>(watched);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Escape && isPending(box)) {
        setPending(box, false);
        emit revertRequested(box);
        markAcceptable(box);
        return true;
    }
    // The box itself keeps Return from taking such a text; the operator is told why.
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !isAcceptable(box))
        emit notAcceptable(box, m_range.value(box));
    return QObject::eventFilter(watched, event);
}

void PendingEdits::markAcceptable(QAbstractSpinBox *box)
{
    const bool refused = !isAcceptable(box);
    if (refused == m_refused.value(box, false))
        return;
    m_refused.insert(box, refused);
    // Red text reads on light and dark backgrounds alike; the words are for those who do
    // not see it. Unmarked, the box takes its palette from the window again.
    if (refused) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Text, QColor(Qt::red));
        box->setPalette(palette);
    } else {
        box->setPalette(QPalette());
    }
    box->setAccessibleDescription(refused          ? tr("Not sent: %1").arg(m_range.value(box))
                                  : isPending(box) ? tr("Changed, not sent yet")
                                                   : QString());
    if (refused)
        emit notAcceptable(box, m_range.value(box));
}

void PendingEdits::setPending(QAbstractSpinBox *box, bool pending)
{
    if (isPending(box) == pending)
        return;
    m_pending.insert(box, pending);
    QFont font = box->font();
    font.setItalic(pending);
    box->setFont(font);
    box->setAccessibleDescription(pending ? tr("Changed, not sent yet") : QString());
}

void PendingEdits::changed(QAbstractSpinBox *box)
{
    if (m_applying)
        return;
    // A gain's change is sent at once; a limit's waits for its button.
    setPending(box, m_sending.value(box) == ByButton);
}

void PendingEdits::editingFinished(QAbstractSpinBox *box)
{
    if (m_sending.value(box) != OnCommit || !isPending(box))
        return;
    setPending(box, false);
    if (valueOf(box) == m_amplifier.value(box))
        return;
    // The box kept the value it had before the typing, which a reply meanwhile may have
    // left behind: typed as such it is the operator's choice, but a text the box refused
    // chose nothing, and the amplifier's value is shown again.
    // An acceptable text was taken as the value, so it is the value the box kept.
    QString typed = m_typed.value(box);
    int position = 0;
    if (box->validate(typed, position) == QValidator::Acceptable)
        emit committedUnchanged(box);
    else
        emit revertRequested(box);
}

double PendingEdits::valueOf(const QAbstractSpinBox *box)
{
    if (auto *real = qobject_cast<const QDoubleSpinBox *>(box))
        return real->value();
    if (auto *whole = qobject_cast<const QSpinBox *>(box))
        return whole->value();
    return 0;
}
