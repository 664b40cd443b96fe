#pragma once

#include <QAbstractSpinBox>
#include <QHash>
#include <QObject>

// The operator's changes to the setting controls that have not gone to the amplifier yet:
// digits still being typed, or a limit before its Set. A reply from the amplifier does not
// overwrite them; they show in italics until they are sent, and Escape gives the control
// the amplifier's value back. A typed text the amplifier would not take (out of range,
// between its steps) is kept as typed and marked, and is never sent.
class PendingEdits : public QObject
{
    Q_OBJECT

public:
    enum Sending {
        // Sent as soon as a step is taken or typed digits are committed (gains, linearity).
        OnCommit,
        // Sent by a button of its own; any change waits for it (the limits).
        ByButton,
    };

    explicit PendingEdits(QObject *parent = nullptr);

    // `box` must be a QSpinBox or a QDoubleSpinBox. `range` says what it takes, for the
    // operator ("Gain channel A: 0 to 31.5 dB in steps of 0.5").
    void watch(QAbstractSpinBox *box, Sending sending, const QString &range);
    bool isPending(const QAbstractSpinBox *box) const { return m_pending.value(box, false); }
    // Whether the box holds a value the amplifier takes, rather than a text being mended.
    static bool isAcceptable(const QAbstractSpinBox *box) { return box->hasAcceptableInput(); }
    QString range(const QAbstractSpinBox *box) const { return m_range.value(box); }
    // The control's value has gone to the amplifier.
    void sent(QAbstractSpinBox *box);
    // Gives the box the amplifier's value unless the operator has a change pending there,
    // and remembers it for Escape. False when the box kept the operator's value.
    bool takeAmplifierValue(QAbstractSpinBox *box, double value);
    // The last value the amplifier reported for the box (its starting value until then).
    double amplifierValue(const QAbstractSpinBox *box) const { return m_amplifier.value(box); }

signals:
    // Escape in a box with a pending change: it is to show the amplifier's value again.
    void revertRequested(QAbstractSpinBox *box);
    // Typed digits were committed (Return, the focus left) without changing the box's value,
    // which differs from what the amplifier has: the operator's value is to be sent.
    void committedUnchanged(QAbstractSpinBox *box);
    // The operator typed, or tried to commit, a text the amplifier would not take.
    void notAcceptable(QAbstractSpinBox *box, const QString &range);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setPending(QAbstractSpinBox *box, bool pending);
    // Marks the box while its text is one the amplifier would not take.
    void markAcceptable(QAbstractSpinBox *box);
    void changed(QAbstractSpinBox *box);
    void editingFinished(QAbstractSpinBox *box);
    static double valueOf(const QAbstractSpinBox *box);

    QHash<const QAbstractSpinBox *, bool> m_pending;
    QHash<const QAbstractSpinBox *, double> m_amplifier;
    QHash<const QAbstractSpinBox *, Sending> m_sending;
    QHash<const QAbstractSpinBox *, QString> m_typed;
    QHash<const QAbstractSpinBox *, QString> m_range;
    QHash<const QAbstractSpinBox *, bool> m_refused;
    // Set while a value from the amplifier is put into a box: that is no operator's change.
    bool m_applying = false;
};
