#pragma once

#include <QByteArray>
#include <QVector>

// Cuts the bytes a client sends into command lines, dropping empty and overlong ones.
class LineSplitter
{
public:
    // A longer line is thrown away up to its line end.
    static constexpr int MaxLineLength = 256;

    struct Line
    {
        QByteArray text;       // for an overlong line: its first MaxLineLength bytes
        bool overlong = false; // reported once, when the line outgrows the bound
    };

    // CR, LF and CR LF all end a line and empty lines vanish, so the panel's port probe
    // ("?" and a run of CR LF) reads as a single "?".
    QVector<Line> feed(const QByteArray &data);
    // Bytes of a line have come whose end has not.
    bool inLine() const { return !m_line.isEmpty() || m_discarding; }

private:
    QByteArray m_line;
    bool m_discarding = false;
};
