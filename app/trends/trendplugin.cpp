// The trend window as a plugin: the panel loads it, and the plotting library with it, when
// the operator first opens the trends.
#include "trendwindow.h"
#include "trendwindowfactory.h"

#include <QObject>

class TrendWindowPlugin : public QObject, public TrendWindowFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TrendWindowFactory_iid)
    Q_INTERFACES(TrendWindowFactory)

public:
    QWidget *createTrendWindow(TrendRecorder *recorder, QWidget *owner) override
    {
        return new TrendWindow(recorder, owner);
    }
};

#include "trendplugin.moc"
