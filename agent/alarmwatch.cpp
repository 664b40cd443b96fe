#include "alarmwatch.h"

#include "devicesession.h"
#include "journal.h"
#include "smallfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTextStream>

namespace {

Event eventOf(AlarmEngine::Change::Kind kind)
{
    using Kind = AlarmEngine::Change::Kind;
    switch (kind) {
    case Kind::Raised:
        return Event::AlarmRaised;
    case Kind::Cleared:
        return Event::AlarmCleared;
    case Kind::Acknowledged:
        return Event::AlarmAcknowledged;
    case Kind::Shelved:
        return Event::AlarmShelved;
    case Kind::Unshelved:
        break;
    }
    return Event::AlarmUnshelved;
}

} // namespace

AlarmWatch::AlarmWatch(const AlarmConfig &config,
                       DeviceSession *device,
                       Journal *journal,
                       QObject *parent)
    : QObject(parent)
    , m_engine(config)
    , m_journal(journal)
    , m_clock(systemClock())
{
    connect(device, &DeviceSession::up, this, [this] { apply(m_engine.linkUp(now())); });
    connect(device, &DeviceSession::down, this, [this] { apply(m_engine.linkDown(now())); });
    connect(device, &DeviceSession::openFailed, this, [this] { apply(m_engine.linkDown(now())); });
    connect(device, &DeviceSession::settingsRead, this, [this](const Reply::Status &status) {
        if (status.has(Reply::StatusField::MaxDriverTemp))
            m_engine.setLimits(status.maxCellTempC, status.maxDrvTempC);
    });
    connect(device, &DeviceSession::measured, this, [this](const Reply::Measurement &meas) {
        apply(m_engine.measured(meas, now()));
    });
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &AlarmWatch::tick);
    m_tick.start();
}

QString AlarmWatch::statePathFor(const QString &eventsPath)
{
    const QFileInfo events(eventsPath);
    return events.absoluteDir().filePath(events.completeBaseName() + QStringLiteral(".alarms.json"));
}

bool AlarmWatch::useStateFile(const QString &path, QString *error)
{
    m_statePath = path;
    if (!QFileInfo::exists(path))
        return true;
    QByteArray contents;
    if (!SmallFile::read(path, &contents, error))
        return false;
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(contents, &parseError);
    QString why;
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        why = QStringLiteral("not a JSON object");
    else if (!m_engine.restore(document.object(), &why))
        ;
    else
        return true;
    *error = QStringLiteral("%1: %2; move it aside to start without the acknowledgements and "
                            "shelves it holds")
                 .arg(path, why);
    return false;
}

AlarmEngine::Result AlarmWatch::acknowledge(const QString &name,
                                            const QString &who,
                                            const QString &comment)
{
    AlarmEngine::Result result = m_engine.acknowledge(name, who, comment, now());
    apply(result.changes);
    return result;
}

AlarmEngine::Result AlarmWatch::shelve(const QString &name,
                                       const QString &who,
                                       const QString &reason,
                                       int seconds)
{
    if (seconds < 0 || seconds > m_maxShelveS) {
        AlarmEngine::Result refused;
        refused.error = QStringLiteral("a shelve lasts at most %1 s").arg(m_maxShelveS);
        return refused;
    }
    const qint64 at = now();
    AlarmEngine::Result result = m_engine.shelve(name,
                                                 who,
                                                 reason,
                                                 seconds == 0 ? 0 : at + qint64(seconds) * 1000,
                                                 at);
    apply(result.changes);
    return result;
}

AlarmEngine::Result AlarmWatch::unshelve(const QString &name, const QString &who)
{
    AlarmEngine::Result result = m_engine.unshelve(name, who, now());
    apply(result.changes);
    return result;
}

void AlarmWatch::tick()
{
    apply(m_engine.tick(now()));
}

void AlarmWatch::apply(const AlarmEngine::Changes &changes)
{
    if (changes.isEmpty())
        return;
    for (const AlarmEngine::Change &change : changes) {
        QJsonObject details = change.details;
        if (change.kind == AlarmEngine::Change::Kind::Raised)
            details.insert(QStringLiteral("level"),
                           Events::levelName(change.severity == Alarm::Severity::Minor
                                                 ? Events::Level::Warning
                                                 : Events::Level::Error));
        m_journal->record(eventOf(change.kind), details);
    }
    save();
    emit changed();
}

void AlarmWatch::save()
{
    if (m_statePath.isEmpty())
        return;
    QSaveFile file(m_statePath);
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(m_engine.saved()).toJson()) >= 0
        && file.commit())
        return;
    QTextStream(stderr) << "korvane-agent: cannot keep the alarms' state in " << m_statePath << ": "
                        << file.errorString() << '\n';
}
