#pragma once

#include <QHash>
#include <QObject>

class QTextEdit;
class QWidget;

// How a value display shows its reading. Live is the palette's own look, alike for all six
// displays; over its limit is red behind black; stale is the palette's text dimmed toward
// its background, so that a reading the amplifier has not confirmed fades in light and dark
// palettes alike. A look is set only when it changes (the poll draws ten times a second),
// and the stale look is made again when the window's palette changes.
class DisplayLooks : public QObject
{
    Q_OBJECT

public:
    enum class Look { Unset, Live, OverLimit, Stale };

    // Follows the palette of `window`, the displays' window.
    explicit DisplayLooks(QWidget *window);

    void show(QTextEdit *display, Look look);
    Look look(QTextEdit *display) const { return m_looks.value(display, Look::Unset); }
    QString styleSheet(Look look) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply(QTextEdit *display, Look look);

    QWidget *m_window;
    QHash<QTextEdit *, Look> m_looks;
};
