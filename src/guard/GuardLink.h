#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/types.h>

// What the guard is to stop: a HID arm's hidraw node and the output report that carries code 0, an
// interface kit's usbfs node and the control transfer that stops it, or a virtual arm's log, which gets
// the line the arm would have logged for the stop, marked as the guard's.
struct GuardTarget
{
    enum class Kind { Hid, Kit, Log };

    Kind kind = Kind::Hid;
    QString path;
    // Hid: the report, ID byte first. Kit: the setup packet and the data (see controlTransfer). Log: the
    // bytes the arm logs.
    QByteArray stop;
    // Log: the program's start on the monotonic clock, which the log's times count from.
    qint64 clockStartNs = 0;

    bool operator==(const GuardTarget &) const = default;

    // A kit's target: the vendor control transfer with this request and data.
    static GuardTarget controlTransfer(const QString &path, quint8 requestType, quint8 request, quint16 value,
                                       quint16 index, const QByteArray &data);
};

// The program's side of its guard, tessaro-guard: a process of its own, in a session of its own, that
// stops the arms the program has open when the program goes away for any reason, SIGKILL and the
// out-of-memory killer included.
//
// The guard learns that the program is gone when the pipe between them ends: only the program holds its
// write end (closed on exec), so the kernel closes it however the program ends. Closing the link without
// dismissing it, by hand or by destroying it, is the same: the guard sends its stops. A normal close
// dismisses the guard first, once the program's own stop went out, and the guard exits without sending.
class GuardLink
{
public:
    GuardLink();
    ~GuardLink();
    GuardLink(const GuardLink &) = delete;
    GuardLink &operator=(const GuardLink &) = delete;

    // $TESSARO_GUARD when set, else tessaro-guard beside the running executable.
    static QString programPath();

    // Starts the guard (programPath() unless a program is named); false, with error set, when it cannot.
    bool start(QString *error, const QString &program = QString());
    bool running() const { return m_fd >= 0; }
    pid_t pid() const { return m_pid; }

    // Replaces the guard's targets; nothing is said when the set has not changed. False, with error set,
    // when the guard could not be told (it has gone: the link is closed then).
    bool setTargets(const QList<GuardTarget> &targets, QString *error = nullptr);
    QList<GuardTarget> targets() const { return m_targets; }

    // A normal close: the guard exits without sending anything. The link is closed.
    void dismiss();
    // Closes the link without dismissing: the guard stops its targets now.
    void close();

private:
    bool say(const std::string &message, QString *error);
    void reap(int waitMs);

    int m_fd = -1;
    pid_t m_pid = -1;
    QList<GuardTarget> m_targets;
};
