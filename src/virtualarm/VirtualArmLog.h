#pragma once

#include <QFile>
#include <QObject>
#include <QString>

class VirtualArm;

// Appends one line per output report the virtual arm receives: seconds since the program started on the
// monotonic clock with six decimals, a blank, the command code in decimal, a blank, the report bytes in
// lower-case hex ("12.345678 3 03"). Each line is flushed as it is written, so another process can
// follow the file while the program runs.
class VirtualArmLog : public QObject
{
    Q_OBJECT
public:
    explicit VirtualArmLog(VirtualArm &arm, QObject *parent = nullptr);
    ~VirtualArmLog() override;

    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    QString lastError() const { return m_lastError; } // a write that failed after opening

    static QString formatLine(qint64 monotonicNs, int code, const QByteArray &report);

private:
    void write(int code, qint64 monotonicNs, const QByteArray &report);

    QFile m_file;
    QString m_lastError;
};
