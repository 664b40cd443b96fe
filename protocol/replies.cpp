#include "replies.h"

#include "commands.h"
#include "frameassembler.h"
#include "models.h"

namespace Reply {

namespace {

// A field is a number only as an optional minus sign and decimal digits; anything else
// ("nan", "inf", "9e99", "0x1f", "12a") is a value the amplifier did not send, and gives 0.
bool isNumber(const QByteArray &field)
{
    const int digitsFrom = field.startsWith('-') ? 1 : 0;
    if (field.size() <= digitsFrom)
        return false;
    for (int i = digitsFrom; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int fieldNumber(const QByteArray &field)
{
    return isNumber(field) ? field.toInt() : 0;
}

QString utf8UpToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul >= 0 ? bytes.left(nul) : bytes);
}

// The frame's content: everything before its closing 0xFF.
QByteArray contentOf(const QByteArray &frame)
{
    return frame.endsWith(FrameAssembler::End) ? frame.left(frame.size() - 1) : frame;
}

// Decimal text of exactly `width` bytes, clamped to what the width can carry; a negative
// value takes the first byte for its sign ("-100" for -100 in four bytes).
QByteArray padded(int value, int width)
{
    int top = 1;
    for (int i = 0; i < width; ++i)
        top *= 10;
    if (value < 0 && width > 1)
        return '-' + padded(qMin(-value, top / 10 - 1), width - 1);
    value = qBound(0, value, top - 1);
    return QByteArray::number(value).rightJustified(width, '0');
}

QByteArray framed(const QByteArray &content)
{
    QByteArray frame;
    frame.reserve(content.size() + 2);
    frame.append(FrameAssembler::Start);
    frame.append(content);
    frame.append(FrameAssembler::End);
    return frame;
}

} // namespace

Kind kindOf(const QByteArray &frame)
{
    if (frame.contains('?'))
        return Kind::Identification;
    if (frame.contains("Status"))
        return Kind::Status;
    if (frame.contains("Meas"))
        return Kind::Measurement;
    return Kind::Unknown;
}

QVector<QByteArray> readFields(const QByteArray &frame, const int *widths, int count)
{
    const QByteArray content = contentOf(frame);
    QVector<QByteArray> fields;
    fields.reserve(count);
    int pos = 0;
    for (int i = 0; i < count; ++i) {
        const int comma = content.indexOf(',', pos);
        if (comma < 0)
            break;
        pos = comma + 2;
        if (pos >= content.size())
            break;
        fields.append(content.mid(pos, widths[i]));
    }
    return fields;
}

QString modelText(const QByteArray &frame)
{
    // The text ends where a NUL, a line end or the frame's closing byte does: none of them
    // is part of a model number, and none may show in the title.
    QByteArray text = frame.mid(ModelOffset, ModelTextLength);
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\0' || c == '\r' || c == '\n' || c == FrameAssembler::End) {
            text.truncate(i);
            break;
        }
    }
    return QString::fromUtf8(text);
}

QString windowTitle(const QByteArray &frame)
{
    return QLatin1String(TitlePrefix) + modelText(frame);
}

Status decodeStatus(const QByteArray &frame)
{
    const QVector<QByteArray> f = readFields(frame, StatusWidths, StatusFieldCount);
    Status s;
    s.fieldCount = f.size();
    const auto number = [&f](StatusField field) {
        return fieldNumber(f[int(field)]) / settingInfo(field).scale;
    };
    if (s.has(StatusField::MaxPower))
        s.maxPowerW = number(StatusField::MaxPower);
    if (s.has(StatusField::MaxCellTemp))
        s.maxCellTempC = int(number(StatusField::MaxCellTemp));
    if (s.has(StatusField::MaxDriverTemp))
        s.maxDrvTempC = int(number(StatusField::MaxDriverTemp));
    if (s.has(StatusField::Rf))
        s.rfOn = f[int(StatusField::Rf)].at(0) != '0';
    if (s.has(StatusField::Linearity))
        s.linearityPct = int(number(StatusField::Linearity));
    for (int channel = 0; channel < Command::ChannelCount; ++channel) {
        if (s.has(GainFields[channel]))
            s.gainDb[channel] = number(GainFields[channel]);
    }
    return s;
}

double Status::value(StatusField field) const
{
    switch (field) {
    case StatusField::MaxPower:
        return maxPowerW;
    case StatusField::MaxCellTemp:
        return maxCellTempC;
    case StatusField::MaxDriverTemp:
        return maxDrvTempC;
    case StatusField::Rf:
        return rfOn ? 1 : 0;
    case StatusField::Linearity:
        return linearityPct;
    case StatusField::GainA:
    case StatusField::GainB:
    case StatusField::GainC:
        return gainDb[int(field) - int(StatusField::GainA)];
    }
    return 0;
}

QJsonValue Status::jsonValue(StatusField field) const
{
    if (field == StatusField::Rf)
        return rfOn;
    return value(field);
}

double Measurement::tenths(MeasField field) const
{
    switch (field) {
    case MeasField::StatusChar:
        break;
    case MeasField::Cell1Temp:
        return cellTenths[0];
    case MeasField::Cell2Temp:
        return cellTenths[1];
    case MeasField::DriverTemp:
        return driverTenths;
    case MeasField::PowerA:
    case MeasField::PowerB:
    case MeasField::PowerC:
        return powerTenths[int(field) - int(MeasField::PowerA)];
    }
    return 0;
}

bool Measurement::isReadable(MeasField field) const
{
    return has(field) && field != MeasField::StatusChar && !(unreadable & (1u << int(field)));
}

Measurement decodeMeasurement(const QByteArray &frame)
{
    const QVector<QByteArray> f = readFields(frame, MeasWidths, MeasFieldCount);
    Measurement m;
    m.fieldCount = f.size();
    double *values[] = {nullptr,
                        &m.cellTenths[0],
                        &m.cellTenths[1],
                        &m.driverTenths,
                        &m.powerTenths[0],
                        &m.powerTenths[1],
                        &m.powerTenths[2]};
    for (int i = 0; i < f.size(); ++i) {
        if (i == 0)
            m.statusChar = qint8(f[0].at(0));
        else if (isNumber(f[i]))
            *values[i] = fieldNumber(f[i]);
        else
            m.unreadable |= 1u << i;
    }
    return m;
}

QString displayTenths(double tenths)
{
    return QString::asprintf("%0.1f", tenths / 10);
}

bool overLimit(double tenths, int limit)
{
    return tenths > 10.0 * limit;
}

QByteArray identificationFrame(const QByteArray &model)
{
    return framed(QByteArray("?\r\n") + model);
}

QByteArray statusFrame(const StatusValues &v)
{
    const int values[StatusFieldCount] = {v.maxPowerTenths,
                                          v.maxCellTempC,
                                          v.maxDrvTempC,
                                          v.rfOn ? 1 : 0,
                                          v.linearityPct,
                                          v.gainHalfDb[0],
                                          v.gainHalfDb[1],
                                          v.gainHalfDb[2]};
    QByteArray content("Status");
    for (int i = 0; i < StatusFieldCount; ++i)
        content += ", " + padded(values[i], StatusWidths[i]);
    return framed(content);
}

QByteArray measFrame(const MeasValues &v)
{
    const int values[MeasFieldCount] = {0,
                                        v.cellTenths[0],
                                        v.cellTenths[1],
                                        v.driverTenths,
                                        v.powerTenths[0],
                                        v.powerTenths[1],
                                        v.powerTenths[2]};
    QByteArray content("Meas, ");
    content.append(v.statusChar);
    for (int i = 1; i < MeasFieldCount; ++i)
        content += ", " + padded(values[i], MeasWidths[i]);
    return framed(content);
}

bool probeMatches(const QByteArray &received)
{
    for (const ModelInfo &model : Models) {
        if (received.contains(model.number))
            return true;
    }
    return false;
}

QString probeModelText(const QByteArray &received)
{
    return utf8UpToNul(received.mid(ProbeModelOffset, ProbeModelLength));
}

QString probeReport(const QString &portName, const QByteArray &received)
{
    if (!probeMatches(received))
        return portName + QStringLiteral(": OK, NoMatch");
    return portName + QStringLiteral(": OK, Match: ") + probeModelText(received);
}

QString probeErrorReport(const QString &portName)
{
    return portName + QStringLiteral(": Error");
}

} // namespace Reply
