#include "journal.h"

#include "readingformat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

bool Journal::open(const QString &path, QString *error)
{
    if (m_file.open(path, QByteArray()))
        return true;
    *error = m_file.errorString();
    return false;
}

namespace {

// A value as the text line shows it: a name or a certificate's common name comes from a
// peer, and a line end, a control or a direction override in it would forge or hide a line.
QString escaped(const QString &text, bool backslashes = true)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (c == QLatin1Char('\\') && backslashes)
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (category == QChar::Other_Control || category == QChar::Other_Format
                 || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString plain(const QJsonValue &value)
{
    if (value.isString())
        return escaped(value.toString());
    if (value.isBool())
        return QLatin1String(value.toBool() ? "true" : "false");
    if (value.isObject() || value.isArray()) {
        const QJsonDocument document = value.isObject() ? QJsonDocument(value.toObject())
                                                        : QJsonDocument(value.toArray());
        return escaped(QString::fromUtf8(document.toJson(QJsonDocument::Compact)), false);
    }
    return QString::number(value.toDouble());
}

} // namespace

QString Journal::now()
{
    return ReadingFormat::timeText(QDateTime::currentDateTime());
}

void Journal::recordLast(Event event, const QJsonObject &details)
{
    for (const CountHolder &holder : m_countHolders) {
        if (holder.context)
            holder.writeCounts();
    }
    record(event, details);
    m_closed = true;
}

void Journal::record(Event event, const QJsonObject &given)
{
    if (m_closed)
        return;
    const QString time = now();
    QJsonObject details = given;
    if (!details.contains(QLatin1String("level")))
        details.insert(QStringLiteral("level"), Events::levelName(event));
    if (m_file.isOpen()) {
        const QByteArray row = line(time, event, details) + '\n';
        // Said once when it starts failing (a full disk fails every row) and once when
        // rows go in again.
        const bool written = m_file.append(row);
        if (written == m_writeFailed) {
            m_writeFailed = !written;
            if (m_writeFailed)
                QTextStream(stderr)
                    << "korvane-agent: cannot write the journal: " << m_file.errorString()
                    << "; its rows are lost until it can\n";
            else
                QTextStream(stderr) << "korvane-agent: the journal is written again\n";
        }
    }
    QString text = time + QLatin1Char(' ') + Events::name(event);
    for (auto it = details.begin(); it != details.end(); ++it)
        text += QLatin1Char(' ') + it.key() + QLatin1Char('=') + plain(it.value());
    QTextStream(stderr) << text << '\n';
    for (const Subscription &subscription : m_listeners) {
        if (subscription.context)
            subscription.listener(time, event, details);
    }
}

QByteArray Journal::line(const QString &time, Event event, const QJsonObject &details)
{
    // Time and event first, for the reader's eye; the details follow.
    auto quoted = [](const QString &text) {
        const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        return json.mid(1, json.size() - 2);
    };
    const QByteArray row = "{\"time\":" + quoted(time)
                           + ",\"event\":" + quoted(Events::name(event));
    if (details.isEmpty())
        return row + '}';
    return row + ',' + QJsonDocument(details).toJson(QJsonDocument::Compact).mid(1);
}
