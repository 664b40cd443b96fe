#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QStringList>

class QComboBox;
class QDialogButtonBox;
class QLineEdit;
class QSpinBox;

// Asks which alarm of an amplifier to shelve, for how long and why: the agent takes one
// alarm at a time, for a time it bounds, with a reason it journals.
class ShelveDialog : public QDialog
{
    Q_OBJECT

public:
    ShelveDialog(const QString &amplifier, const QStringList &alarms, QWidget *parent = nullptr);

    // The body of the agent's @shelve.
    QJsonObject request() const;

private:
    void check();

    QComboBox *m_alarm;
    QSpinBox *m_minutes;
    QLineEdit *m_reason;
    QDialogButtonBox *m_buttons;
};
