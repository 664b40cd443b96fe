#include "fileicon.h"

#include <QIconEngine>
#include <QImageReader>
#include <QPainter>

namespace {

class DeferredFileIconEngine : public QIconEngine
{
public:
    explicit DeferredFileIconEngine(const QString &path)
        : m_path(path)
    {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        loaded().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return loaded().actualSize(size, mode, state);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return loaded().pixmap(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) const override
    {
        return loaded().availableSizes(mode, state);
    }

    QIconEngine *clone() const override { return new DeferredFileIconEngine(*this); }

    void virtual_hook(int id, void *data) override
    {
        if (id != IsNullHook) {
            QIconEngine::virtual_hook(id, data);
            return;
        }
        // Whether there is an image at all is told by the file's header, without decoding.
        *static_cast<bool *>(data) = m_loaded ? m_icon.isNull() : !QImageReader(m_path).canRead();
    }

private:
    QIcon &loaded() const
    {
        if (!m_loaded) {
            m_icon.addFile(m_path, QSize(), QIcon::Normal, QIcon::Off);
            m_loaded = true;
        }
        return m_icon;
    }

    QString m_path;
    mutable QIcon m_icon;
    mutable bool m_loaded = false;
};

} // namespace

QIcon deferredFileIcon(const QString &path)
{
    return QIcon(new DeferredFileIconEngine(path));
}
