#include "csvlog.h"

bool CsvLog::open(const QString &path, const QByteArray &header)
{
    m_file.setFileName(path);
    // Unbuffered: every write() below is one write to the file, nothing waits in memory.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    return m_file.size() > 0 || writeWhole(header);
}

bool CsvLog::append(const QByteArray &row)
{
    return writeWhole(row);
}

QString CsvLog::errorString() const
{
    return QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
}

bool CsvLog::writeWhole(const QByteArray &bytes)
{
    return m_file.write(bytes) == bytes.size() && m_file.flush();
}
