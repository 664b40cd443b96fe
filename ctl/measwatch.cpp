#include "measwatch.h"

#include "amplifierlink.h"
#include "commands.h"
#include "rowfile.h"
#include "exitstatus.h"
#include "output.h"
#include "replies.h"
#include "requester.h"

#include <QDateTime>

MeasWatch::MeasWatch(AmplifierLink *link, Requester *requester, RowFile *log, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_requester(requester)
    , m_log(log)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, m_link, &AmplifierLink::open);
    connect(&m_pollTimer, &QTimer::timeout, this, &MeasWatch::poll);
    connect(m_link, &AmplifierLink::opened, this, &MeasWatch::onOpened);
    connect(m_link, &AmplifierLink::openFailed, this, &MeasWatch::onOpenFailed);
    connect(m_link, &AmplifierLink::linkLost, this, &MeasWatch::onLinkLost);
    connect(m_requester, &Requester::answered, this, &MeasWatch::onAnswered);
    connect(m_requester, &Requester::timedOut, this, &MeasWatch::onTimedOut);
}

void MeasWatch::start()
{
    m_link->open();
}

void MeasWatch::stop()
{
    finish(ExitStatus::Success);
}

void MeasWatch::onOpened()
{
    m_wasOpen = true;
    m_pollTimer.start();
    poll();
}

void MeasWatch::onOpenFailed(const QString &reason)
{
    const QString message = tr("cannot open %1: %2").arg(m_link->target().text(), reason);
    // A bad address at the start is a mistake to report; later it is the device not back yet.
    if (!m_wasOpen) {
        Output::printError(message);
        finish(ExitStatus::Failure);
        return;
    }
    reconnectLater(message);
}

void MeasWatch::onLinkLost(const QString &reason)
{
    reconnectLater(tr("link to %1 lost: %2").arg(m_link->target().text(), reason));
}

void MeasWatch::onTimedOut(const QString &command)
{
    m_link->close();
    reconnectLater(tr("no reply to '%1' from %2 within %3 ms")
                       .arg(command, m_link->target().text())
                       .arg(m_requester->timeoutMs()));
}

void MeasWatch::poll()
{
    // A slow device makes some ticks find the last reading still on its way.
    if (!m_requester->isBusy() && m_link->isOpen())
        m_requester->ask(QLatin1String(Command::Meas), Reply::Kind::Measurement);
}

void MeasWatch::onAnswered(const QByteArray &frame)
{
    if (!record(frame))
        return;
    // Back only once the amplifier answers: a connection that opens and closes is not.
    if (m_reconnecting)
        Output::printError(tr("link to %1 is back").arg(m_link->target().text()));
    m_reconnecting = false;
    m_backoff.reset();
    if (m_wanted > 0 && m_readings >= m_wanted)
        finish(ExitStatus::Success);
}

void MeasWatch::reconnectLater(const QString &why)
{
    if (m_finished)
        return;
    m_pollTimer.stop();
    m_requester->cancel();
    m_reconnecting = true;
    const int waitMs = m_backoff.next();
    Output::printError(tr("%1; reconnecting in %2 s").arg(why).arg(waitMs / 1000.0));
    m_retryTimer.start(waitMs);
}

bool MeasWatch::record(const QByteArray &frame)
{
    const Reply::Measurement meas = Reply::decodeMeasurement(frame);
    if (meas.fieldCount < Reply::MeasFieldCount) {
        Output::printError(tr("incomplete reading skipped (%1 of %2 fields)")
                               .arg(meas.fieldCount)
                               .arg(Reply::MeasFieldCount));
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    if (m_log && !m_log->append(Output::csvRow(now, meas))) {
        Output::printError(tr("cannot write %1").arg(m_log->errorString()));
        finish(ExitStatus::Failure);
        return false;
    }
    if (m_json)
        Output::print(QString::fromUtf8(Output::json(Output::watchObject(now, meas), true)));
    else
        Output::print((m_readings == 0 ? Output::watchHeader() : QString())
                      + Output::watchLine(now, meas));
    ++m_readings;
    return true;
}

void MeasWatch::finish(int exitStatus)
{
    if (m_finished)
        return;
    m_finished = true;
    m_pollTimer.stop();
    m_retryTimer.stop();
    m_requester->cancel();
    m_link->close();
    emit finished(exitStatus);
}
