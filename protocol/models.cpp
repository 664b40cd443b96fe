#include "models.h"

#include "replies.h"

namespace Reply {

namespace {

// The digits that tell the models apart; the letter after them is a revision.
constexpr int ModelDigits = 6;

} // namespace

const ModelInfo *findModel(const QString &modelText)
{
    for (const ModelInfo &info : Models) {
        if (modelText.startsWith(QLatin1String(info.number, ModelDigits)))
            return &info;
    }
    return nullptr;
}

Identity decodeIdentity(const QByteArray &frame)
{
    Identity identity;
    identity.modelText = modelText(frame);
    identity.model = findModel(identity.modelText);
    return identity;
}

} // namespace Reply
