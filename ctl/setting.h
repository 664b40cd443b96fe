#pragma once

#include "replies.h"

#include <QString>
#include <QStringList>

// One value `set` changes: checked, sent and confirmed the way the panel's control is. The
// settings, their `set` names and their ranges are those of the table in protocol/fields.h.
class Setting
{
public:
    // The names `set` takes, in the table's order, each once.
    static QStringList names();

    // Reads `set`'s arguments without the word "set" ("gain", "A", "12.5"); false with a
    // message in *error when they are not a setting and a value the panel would take.
    static bool parse(const QStringList &words, Setting *setting, QString *error);

    // Whether this is the given setting; a Setting not parsed is none.
    bool is(Reply::StatusField field) const { return m_info && m_info->field == field; }
    // The command line that makes the change.
    QString commandText() const;
    // What the setting is called in messages: "gain A", "max power".
    QString label() const;
    // The value as the amplifier would report it, and as this setting wants it.
    QString reportedText(const Reply::Status &status) const;
    QString wantedText() const;
    bool isShownIn(const Reply::Status &status) const;

private:
    QString format(double value) const;

    const Reply::SettingInfo *m_info = nullptr;
    double m_value = 0;
};
