#pragma once

#include "replies.h"

#include <QString>
#include <QStringList>

// One value `set` changes: checked, sent and confirmed the way the panel's control is.
class Setting
{
public:
    enum Field { None, Gain, Rf, Linearity, MaxPower, MaxCellTemp, MaxDriverTemp };

    // The names `set` takes, in the order the help lists them.
    static QStringList names();

    // Reads `set`'s arguments without the word "set" ("gain", "A", "12.5"); false with a
    // message in *error when they are not a setting and a value the panel would take.
    static bool parse(const QStringList &words, Setting *setting, QString *error);

    Field field() const { return m_field; }
    // The command line that makes the change.
    QString commandText() const;
    // What the setting is called in messages: "gain A", "max power".
    QString label() const;
    // The value as the amplifier would report it, and as this setting wants it.
    QString reportedText(const Reply::Status &status) const;
    QString wantedText() const;
    bool isShownIn(const Reply::Status &status) const;

private:
    double valueIn(const Reply::Status &status) const;
    QString format(double value) const;
    // Index of the setting's field in the Status frame.
    int statusField() const;

    Field m_field = None;
    int m_channel = 0;
    double m_value = 0;
};
