#pragma once

#include <QString>
#include <QtPlugin>

class QWidget;
class TrendRecorder;

// Makes the trend window. It lives in a plugin of its own, loaded when the operator first
// opens the window, so that its plotting library costs the panel's start-up nothing.
class TrendWindowFactory
{
public:
    virtual ~TrendWindowFactory() = default;
    // A window of its own over the recorder's history, deleted with `owner`.
    virtual QWidget *createTrendWindow(TrendRecorder *recorder, QWidget *owner) = 0;
};

#define TrendWindowFactory_iid "example.orvane.KorvanePanel.TrendWindowFactory/1"
Q_DECLARE_INTERFACE(TrendWindowFactory, TrendWindowFactory_iid)

namespace TrendWindows {

// The plugin's file name, and where the panel looks for it: beside the program (the build
// tree), then in the installed tree.
constexpr char PluginName[] = "korvane-trends";
constexpr char InstalledDir[] = "../lib/korvane-amplifier/plugins";

// Looks in `dir` first: for tests and benchmarks, whose programs lie elsewhere.
void addSearchDir(const QString &dir);

// Finds the factory: one built into the program (tests), else the plugin. Null with the
// reason in `error` if there is none.
TrendWindowFactory *factory(QString *error);

} // namespace TrendWindows
