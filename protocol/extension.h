#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The agent's own lines and frames, beside the amplifier's protocol. A client opts in with
// "@hello"; until then the agent treats these lines as the junk they are to an amplifier
// and sends no frame of its own. A line is "@" and a verb, then optionally one blank and
// a JSON object; a frame is NUL, "@", a verb, one blank, a JSON object, 0xFF. No frame
// holds "?", "Status" or "Meas", so a reader of the amplifier's replies skips it.
namespace Extension {

// Where the agent's frames may be longer than the amplifier's (the alarm list).
constexpr int MaxFrameSize = 16 * 1024;
// The version a client can expect in the answer to "@hello".
constexpr int Version = 1;

namespace Verb {
constexpr char Hello[] = "hello";
constexpr char Alarms[] = "alarms";
constexpr char Ack[] = "ack";
constexpr char Shelve[] = "shelve";
constexpr char Unshelve[] = "unshelve";
constexpr char Lease[] = "lease";
constexpr char LeaseTake[] = "lease-take";
constexpr char LeaseRenew[] = "lease-renew";
constexpr char LeaseRelease[] = "lease-release";
constexpr char LeaseBreak[] = "lease-break";
constexpr char LeaseUse[] = "lease-use";
// Answers: done, or not, and why.
constexpr char Ok[] = "ok";
constexpr char Error[] = "error";
// A setting of this client's that the agent did not pass on.
constexpr char Refused[] = "refused";
} // namespace Verb

struct Message
{
    QString verb; // empty: no message of ours
    QJsonObject body;
    QString error; // why a line that starts as ours is not one
};

bool isExtensionLine(const QByteArray &line);
// A line as a client sends it, without its line end.
QByteArray line(const QString &verb, const QJsonObject &body = {});
Message parseLine(const QByteArray &line);

// A whole frame on the wire, NUL and 0xFF included.
QByteArray frame(const QString &verb, const QJsonObject &body = {});
// `frame` as a FrameAssembler hands it out (without its NUL, with its 0xFF).
Message parseFrame(const QByteArray &frame);

} // namespace Extension

// Alarm severities, as EPICS names them, in rising order: the metrics give their numbers.
namespace Alarm {

enum class Severity { None = 0, Minor = 1, Major = 2, Invalid = 3 };

const char *severityName(Severity severity);
// False if `name` is none of "NO_ALARM", "MINOR", "MAJOR", "INVALID".
bool severityFromName(const QString &name, Severity *severity);

} // namespace Alarm
