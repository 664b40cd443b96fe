#include "readingformat.h"

#include <cmath>

namespace ReadingFormat {

namespace {

// How many bytes the UTF-8 character at `pos` takes; 0 when the bytes there are not one.
int utf8SequenceLength(const char *pos, const char *end)
{
    const uchar lead = uchar(*pos);
    int length = 0;
    uint code = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (end - pos < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        const uchar next = uchar(pos[i]);
        if ((next & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogates and code points past Unicode are not text either.
    const uint smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
        return 0;
    return length;
}

} // namespace

QString csvField(const QString &text)
{
    for (const char reserved : {',', '"', '\r', '\n'}) {
        if (text.contains(QLatin1Char(reserved)))
            return QLatin1Char('"')
                   + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\""))
                   + QLatin1Char('"');
    }
    return text;
}

QString printable(const QByteArray &bytes)
{
    QString text;
    const char *pos = bytes.constData();
    const char *const end = pos + bytes.size();
    while (pos < end) {
        const int length = utf8SequenceLength(pos, end);
        const QString character = QString::fromUtf8(pos, length);
        const uint code = character.toUcs4().value(0);
        const bool control = code < 0x20 || (code >= 0x7f && code < 0xa0);
        if (length > 0 && !control && code != '\\') {
            text += character;
            pos += length;
            continue;
        }
        if (code == '\\') {
            text += QStringLiteral("\\\\");
            ++pos;
            continue;
        }
        // Each byte of a control character's sequence, so that none is lost.
        for (const char *last = pos + qMax(length, 1); pos < last; ++pos)
            text += QStringLiteral("\\x%1").arg(uchar(*pos), 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString timeText(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray csvHeader()
{
    QByteArray header("time");
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        header += QByteArray(",") + reading.ctlKey;
    return header + ",status\n";
}

QByteArray csvRow(const QDateTime &time, const Reply::Measurement &meas)
{
    double tenths[Reply::ReadingCount];
    for (int i = 0; i < Reply::ReadingCount; ++i)
        tenths[i] = meas.tenths(Reply::Readings[i].field);
    return csvRow(time, tenths, meas.statusChar);
}

QByteArray csvRow(const QDateTime &time, const double *tenths, qint8 statusChar)
{
    QString row = timeText(time);
    for (int i = 0; i < Reply::ReadingCount; ++i) {
        row += QLatin1Char(',');
        if (!std::isnan(tenths[i]))
            row += Reply::displayTenths(tenths[i]);
    }
    row += QLatin1Char(',') + csvField(printable(QByteArray(1, char(statusChar))))
           + QLatin1Char('\n');
    return row.toUtf8();
}

} // namespace ReadingFormat
