#include "trendwindowfactory.h"

#include <QCoreApplication>
#include <QDir>
#include <QPluginLoader>
#include <QStringList>

namespace TrendWindows {

namespace {

QStringList &extraDirs()
{
    static QStringList dirs;
    return dirs;
}

} // namespace

void addSearchDir(const QString &dir)
{
    extraDirs().prepend(dir);
}

TrendWindowFactory *factory(QString *error)
{
    for (QObject *instance : QPluginLoader::staticInstances()) {
        if (auto *found = qobject_cast<TrendWindowFactory *>(instance))
            return found;
    }
    const QDir programDir(QCoreApplication::applicationDirPath());
    QStringList failures;
    const QStringList dirs = extraDirs()
                             + QStringList{programDir.path(),
                                           programDir.filePath(QLatin1String(InstalledDir))};
    for (const QString &dir : dirs) {
        QPluginLoader loader(QDir(dir).filePath(QLatin1String(PluginName)));
        if (auto *found = qobject_cast<TrendWindowFactory *>(loader.instance()))
            return found;
        failures << loader.errorString();
    }
    *error = failures.last();
    return nullptr;
}

} // namespace TrendWindows
