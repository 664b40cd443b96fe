#include "extension.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace Extension {

namespace {

constexpr char Mark = '@';

// JSON allows any character of a string as \uXXXX: the keywords a reader of the
// amplifier's frames searches for are written that way wherever a text holds them.
QByteArray hideKeywords(QByteArray json)
{
    json.replace("?", "\\u003f");
    json.replace("Status", "\\u0053tatus");
    json.replace("Meas", "\\u004deas");
    return json;
}

bool isVerbChar(char c)
{
    return (c >= 'a' && c <= 'z') || c == '-';
}

Message parse(const QByteArray &text)
{
    Message message;
    if (!text.startsWith(Mark))
        return message;
    int end = 1;
    while (end < text.size() && isVerbChar(text.at(end)))
        ++end;
    const QString verb = QString::fromLatin1(text.mid(1, end - 1));
    if (verb.isEmpty()) {
        message.error = QStringLiteral("no command after @");
        return message;
    }
    const QByteArray rest = text.mid(end).trimmed();
    if (end < text.size() && text.at(end) != ' ') {
        message.error = QStringLiteral("no blank after @%1").arg(verb);
        return message;
    }
    if (!rest.isEmpty()) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(rest, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            message.error = QStringLiteral("@%1: not a JSON object").arg(verb);
            return message;
        }
        message.body = document.object();
    }
    message.verb = verb;
    return message;
}

QByteArray text(const QString &verb, const QJsonObject &body)
{
    QByteArray bytes = Mark + verb.toLatin1();
    if (!body.isEmpty())
        bytes += ' ' + hideKeywords(QJsonDocument(body).toJson(QJsonDocument::Compact));
    return bytes;
}

} // namespace

bool isExtensionLine(const QByteArray &line)
{
    return line.startsWith(Mark);
}

QByteArray line(const QString &verb, const QJsonObject &body)
{
    return text(verb, body);
}

Message parseLine(const QByteArray &line)
{
    return parse(line.trimmed());
}

QByteArray frame(const QString &verb, const QJsonObject &body)
{
    return '\0' + text(verb, body.isEmpty() ? QJsonObject{} : body) + '\xff';
}

Message parseFrame(const QByteArray &frame)
{
    QByteArray content = frame;
    if (content.startsWith('\0'))
        content.remove(0, 1);
    if (content.endsWith('\xff'))
        content.chop(1);
    return parse(content);
}

} // namespace Extension

namespace Alarm {

namespace {
constexpr const char *Names[] = {"NO_ALARM", "MINOR", "MAJOR", "INVALID"};
}

const char *severityName(Severity severity)
{
    return Names[int(severity)];
}

bool severityFromName(const QString &name, Severity *severity)
{
    for (int i = 0; i < 4; ++i) {
        if (name == QLatin1String(Names[i])) {
            *severity = Severity(i);
            return true;
        }
    }
    return false;
}

} // namespace Alarm
