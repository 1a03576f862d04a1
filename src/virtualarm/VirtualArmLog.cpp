#include "VirtualArmLog.h"

#include "ProcessClock.h"
#include "VirtualArm.h"

VirtualArmLog::VirtualArmLog(VirtualArm &arm, QObject *parent) : QObject(parent)
{
    connect(&arm, &VirtualArm::commandReceived, this, &VirtualArmLog::write);
}

VirtualArmLog::~VirtualArmLog() = default;

bool VirtualArmLog::open(const QString &path, QString *error)
{
    if (m_file.isOpen())
        m_file.close();
    m_file.setFileName(path);
    // Unbuffered: every line reaches the file with its own write(), nothing waits in a buffer.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

QString VirtualArmLog::formatLine(qint64 monotonicNs, int code, const QByteArray &report)
{
    return QStringLiteral("%1 %2 %3\n")
        .arg(ProcessClock::secondsAt(monotonicNs), 0, 'f', 6)
        .arg(code)
        .arg(QString::fromLatin1(report.toHex()));
}

void VirtualArmLog::write(int code, qint64 monotonicNs, const QByteArray &report)
{
    if (!m_file.isOpen())
        return;
    const QByteArray line = formatLine(monotonicNs, code, report).toUtf8();
    if (m_file.write(line) != line.size())
        m_lastError = m_file.errorString();
    else
        m_file.flush();
}
