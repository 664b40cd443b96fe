// The trends: the recorder that keeps the last hour of readings from the first connect on
// (readingsLost breaks its lines), and the window that shows them, made when the operator
// first asks for it.
#include "mainwindow.h"

#include "mainwindowform.h"
#include "trendrecorder.h"
#include "trendwindowfactory.h"

#include <QStatusBar>

namespace {

constexpr int TrendsMessageMs = 10000;

QString trendTitle(const QString &mainTitle)
{
    return MainWindow::tr("Trends \u2013 %1").arg(mainTitle);
}

} // namespace

void MainWindow::setUpTrends()
{
    m_trends = new TrendRecorder(this);
    connect(m_form->actionTrends, &QAction::triggered, this, &MainWindow::openTrends);
}

void MainWindow::openTrends()
{
    if (!m_trendWindow) {
        QString error;
        TrendWindowFactory *factory = TrendWindows::factory(&error);
        if (!factory) {
            statusBar()->showMessage(tr("Cannot open the trends: %1").arg(error), TrendsMessageMs);
            return;
        }
        m_trendWindow = factory->createTrendWindow(m_trends, this);
        m_trendWindow->setWindowTitle(trendTitle(windowTitle()));
        connect(this, &QWidget::windowTitleChanged, m_trendWindow, [this](const QString &title) {
            m_trendWindow->setWindowTitle(trendTitle(title));
        });
    }
    if (m_trendWindow->isMinimized())
        m_trendWindow->showNormal();
    else
        m_trendWindow->show();
    m_trendWindow->raise();
    m_trendWindow->activateWindow();
}
