#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// The simulator's log. A client that floods it with junk must not fill a disk or stall the
// simulator on a full pipe, so a report of a kind already shown within the current second
// is only counted, and the count is shown when the second is over; past a number of lines a
// second, even new kinds are only counted.
class ReportLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int WindowMs = 1000;
    static constexpr int MaxLinesPerWindow = 20;

    using Printer = std::function<void(const QString &line)>;

    explicit ReportLog(Printer printer, QObject *parent = nullptr);
    ~ReportLog() override;

    void report(const QString &message);

    // What makes two reports the same kind: their text without numbers and quoted parts,
    // so "ignored 'xx'" from one client and "ignored 'yy'" from another are one kind.
    static QString kindOf(const QString &message);

private:
    struct Repeats
    {
        int count = 0;
        QString last;
    };

    void endWindow();
    void print(const QString &line);

    Printer m_printer;
    QHash<QString, Repeats> m_shown;
    int m_lines = 0;
    int m_unshown = 0;
    QTimer m_window;
};
