#include "shelvedialog.h"

#include "fleetmodel.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace {

// The agent's line holds 256 bytes in all.
constexpr int MaxReasonLength = 120;

} // namespace

ShelveDialog::ShelveDialog(const QString &amplifier, const QStringList &alarms, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Shelve an alarm of %1").arg(FleetModel::printable(amplifier)));
    auto *form = new QFormLayout(this);
    m_alarm = new QComboBox(this);
    for (const QString &alarm : alarms)
        m_alarm->addItem(FleetModel::printable(alarm), alarm);
    m_minutes = new QSpinBox(this);
    m_minutes->setRange(1, 8 * 60);
    m_minutes->setValue(60);
    m_minutes->setSuffix(tr(" min"));
    m_reason = new QLineEdit(this);
    m_reason->setMaxLength(MaxReasonLength);
    form->addRow(tr("&Alarm:"), m_alarm);
    form->addRow(tr("&For:"), m_minutes);
    form->addRow(tr("&Reason:"), m_reason);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setText(tr("Shelve"));
    form->addRow(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_reason, &QLineEdit::textChanged, this, &ShelveDialog::check);
    check();
}

void ShelveDialog::check()
{
    // The agent journals why: a shelve without a reason is refused there too.
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!m_reason->text().trimmed().isEmpty());
}

QJsonObject ShelveDialog::request() const
{
    return {{QStringLiteral("alarm"), m_alarm->currentData().toString()},
            {QStringLiteral("for"), m_minutes->value() * 60},
            {QStringLiteral("reason"), m_reason->text().trimmed()}};
}
