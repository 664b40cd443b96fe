#pragma once

#include "fields.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVector>

// Decoding and encoding of the amplifier's reply frames. A frame here is what the
// FrameAssembler hands out: the bytes after the opening NUL, up to and with the 0xFF.
namespace Reply {

enum class Kind { Identification, Status, Measurement, Unknown };

// The keyword decides, searched anywhere in the frame in this order: "?", "Status", "Meas".
Kind kindOf(const QByteArray &frame);

// --- Fields --------------------------------------------------------------------------
// A field starts two bytes after a comma (the comma and the blank behind it) and is a
// fixed number of bytes wide. The search for the next comma starts at the previous
// field's first byte, so only a field's first bytes count.
constexpr int StatusWidths[] = {3, 3, 3, 1, 3, 3, 3, 3};
constexpr int MeasWidths[] = {1, 4, 4, 4, 3, 3, 3};
constexpr int StatusFieldCount = int(sizeof(StatusWidths) / sizeof(StatusWidths[0]));
constexpr int MeasFieldCount = int(sizeof(MeasWidths) / sizeof(MeasWidths[0]));

// Reads the fields in order; stops at the first one that is missing (no comma left, or
// nothing behind it), so a short frame yields fewer fields than asked for.
QVector<QByteArray> readFields(const QByteArray &frame, const int *widths, int count);

// --- Identification ------------------------------------------------------------------
// The model text starts at the fourth byte of the frame: "?", CR, LF, then the model.
constexpr int ModelOffset = 3;
constexpr int ModelTextLength = 16;
constexpr char TitlePrefix[] = "Korvane Amplifier ";

// Up to 16 bytes from the model offset, cut at the first NUL, CR, LF or 0xFF, as UTF-8
// (other invalid bytes become U+FFFD).
QString modelText(const QByteArray &frame);
QString windowTitle(const QByteArray &frame);

// --- Status --------------------------------------------------------------------------
// The amplifier's settings in the panel's units. fieldCount says how many fields the
// frame held; the later members keep their defaults and must not be applied.
struct Status
{
    int fieldCount = 0;
    double maxPowerW = 0;
    int maxCellTempC = 0;
    int maxDrvTempC = 0;
    bool rfOn = false;
    int linearityPct = 0;
    double gainDb[3] = {0, 0, 0};

    // Whether the frame held the field, and its value in the panel's units (RF: 0 or 1).
    bool has(StatusField field) const { return int(field) < fieldCount; }
    double value(StatusField field) const;
    // The value for JSON: the RF switch as true or false, the others as numbers.
    QJsonValue jsonValue(StatusField field) const;
};
Status decodeStatus(const QByteArray &frame);

// --- Measurement ---------------------------------------------------------------------
// Temperatures in tenths of a degree C and powers in tenths of a watt, as on the wire.
struct Measurement
{
    int fieldCount = 0;
    qint8 statusChar = 0;
    double cellTenths[2] = {0, 0};
    double driverTenths = 0;
    double powerTenths[3] = {0, 0, 0};

    // Whether the frame held the field, and a reading as on the wire, in tenths.
    bool has(MeasField field) const { return int(field) < fieldCount; }
    double tenths(MeasField field) const;
    // A reading in its unit, watts or degrees C.
    double value(MeasField field) const { return tenths(field) / ReadingScale; }
    // Readings whose text was no number (shown as 0), one bit per field of the frame.
    quint8 unreadable = 0;
    // Whether the reading came in the frame as a number.
    bool isReadable(MeasField field) const;
};
Measurement decodeMeasurement(const QByteArray &frame);

constexpr char NoFault = '0';

// A reading in tenths shown as units with one decimal ("25.3").
QString displayTenths(double tenths);
// Over the limit means strictly above it; equal is still within.
bool overLimit(double tenths, int limit);

// --- Encoding, for the simulator and tests --------------------------------------------
// Each builder returns the whole frame on the wire: NUL, content, 0xFF.
QByteArray identificationFrame(const QByteArray &model);
struct StatusValues
{
    int maxPowerTenths = 0;
    int maxCellTempC = 0;
    int maxDrvTempC = 0;
    bool rfOn = false;
    int linearityPct = 0;
    int gainHalfDb[3] = {0, 0, 0};
};
QByteArray statusFrame(const StatusValues &values);
struct MeasValues
{
    char statusChar = NoFault;
    int cellTenths[2] = {0, 0};
    int driverTenths = 0;
    int powerTenths[3] = {0, 0, 0};
};
QByteArray measFrame(const MeasValues &values);

// --- Serial probe ----------------------------------------------------------------------
// The port scan recognises the model numbers of the table of models (models.h).
constexpr int ProbeModelOffset = 4;
constexpr int ProbeModelLength = 7;
// Whether the bytes a port sent back hold a known model number anywhere.
bool probeMatches(const QByteArray &received);
// The model text reported for a matched port: 7 bytes from offset 4, cut at NUL, as UTF-8.
QString probeModelText(const QByteArray &received);
// The scan's report line for a port that was opened and probed: its name and
// ": OK, Match: " with the model text, or ": OK, NoMatch".
QString probeReport(const QString &portName, const QByteArray &received);
// The report line for a port that was not probed (not an amplifier's adapter) or would
// not open.
QString probeErrorReport(const QString &portName);

} // namespace Reply
