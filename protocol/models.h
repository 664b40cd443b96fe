#pragma once

#include <QByteArray>
#include <QString>

// The amplifier's models and what each can do: the one place where the panel, the simulator,
// the console tool and the port scan learn whether RF switches by command and whether there is
// a linearity setting. Every model takes the same ranges (Command::Limits).
namespace Reply {

struct ModelInfo
{
    // As the identification reply and the port probe give it.
    const char *number;
    // RF switches by command ("SetRF"); on the others RF follows the fault state: on while no
    // fault is latched.
    bool rfByCommand;
    bool hasLinearity;
};

constexpr ModelInfo Models[] = {
    {"700115A", true, true},
    {"700122A", false, true},
    {"700136A", false, false},
};

// The model a model text names, by the six digits it starts with ("700136", whatever letter
// follows); null for a model this software does not know.
const ModelInfo *findModel(const QString &modelText);

// The identification reply, decoded.
struct Identity
{
    // As the reply gives it: the window title and messages show it.
    QString modelText;
    const ModelInfo *model = nullptr;

    // A model this software does not know is taken as most are: RF follows its fault state,
    // and it has a linearity setting.
    bool rfByCommand() const { return model && model->rfByCommand; }
    bool hasLinearity() const { return !model || model->hasLinearity; }
};
Identity decodeIdentity(const QByteArray &frame);

} // namespace Reply
