// The trends: the recorder that keeps the last hour of readings from the first connect on.
#include "mainwindow.h"

#include "appstate.h"
#include "trendrecorder.h"

void MainWindow::setUpTrends()
{
    m_trends = new TrendRecorder(this);
    // A lost or closed link breaks the line; the readings of the next one start a new one.
    connect(&m_socket, &QTcpSocket::disconnected, m_trends, &TrendRecorder::breakLine);
    connect(m_serial, &QSerialPort::aboutToClose, m_trends, [this] {
        if (App::serialLinkUp)
            m_trends->breakLine();
    });
}
