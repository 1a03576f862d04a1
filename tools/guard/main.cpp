// tessaro-guard: stops the arms of a program that has gone away.
//
// The program starts it with the read end of a pipe whose write end only the program holds, and tells it
// on that pipe which arms it has open (GuardProtocol). While the program lives the guard sends nothing and
// holds no device open. When the pipe reaches its end without a dismissal (the program crashed, was
// killed, or ended without confirming its own stop) the guard sends each arm its stop and exits.

#include "GuardProtocol.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

using GuardProtocol::Kind;
using GuardProtocol::Target;

namespace {

// How long one control transfer may take, and how long the guard waits for all its stops.
constexpr unsigned ControlTimeoutMs = 500;
constexpr auto AllStopsBound = std::chrono::seconds(2);

void say(const std::string &text)
{
    const std::string line = "tessaro-guard: " + text + "\n";
    const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool writeAll(int fd, const std::string &bytes)
{
    return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

// Sends one target its stop; false (with why) when it did not go out.
bool stop(const Target &t, std::string *why)
{
    int fd = -1;
    bool ok = false;
    switch (t.kind) {
    case Kind::Hid:
        // A second open of the hidraw node; the write takes the report ID byte first.
        fd = ::open(t.path.c_str(), O_WRONLY | O_CLOEXEC);
        ok = fd >= 0 && writeAll(fd, std::string(t.bytes.begin(), t.bytes.end()));
        break;
    case Kind::Kit: {
        // A second handle of the usbfs node: a vendor request to the device needs no claimed interface.
        GuardProtocol::ControlTransfer c;
        if (!GuardProtocol::decodeControl(t.bytes, &c)) {
            *why = "not a control transfer";
            return false;
        }
        fd = ::open(t.path.c_str(), O_RDWR | O_CLOEXEC);
        usbdevfs_ctrltransfer transfer{};
        transfer.bRequestType = c.requestType;
        transfer.bRequest = c.request;
        transfer.wValue = c.value;
        transfer.wIndex = c.index;
        transfer.wLength = std::uint16_t(c.data.size());
        transfer.timeout = ControlTimeoutMs;
        transfer.data = c.data.data();
        ok = fd >= 0 && ::ioctl(fd, USBDEVFS_CONTROL, &transfer) == int(c.data.size());
        break;
    }
    case Kind::Log:
        fd = ::open(t.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        ok = fd >= 0 && writeAll(fd, GuardProtocol::logLine(monotonicNs(), t.clockStartNs, t.bytes));
        break;
    }
    if (!ok)
        *why = std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Every target at once, each on a thread of its own, so that one device that hangs holds up no other.
// True when every stop went out within the bound.
bool stopAll(const std::vector<Target> &targets)
{
    std::mutex lock;
    std::condition_variable done;
    std::size_t finished = 0;
    std::atomic<bool> allOk{true};
    for (const Target &t : targets) {
        std::thread([&, t] {
            std::string why;
            if (!stop(t, &why)) {
                allOk = false;
                say("could not stop " + t.path + ": " + why);
            }
            const std::lock_guard<std::mutex> guard(lock);
            ++finished;
            done.notify_all();
        }).detach();
    }
    std::unique_lock<std::mutex> guard(lock);
    if (!done.wait_for(guard, AllStopsBound, [&] { return finished == targets.size(); })) {
        say("a device did not take its stop");
        // The threads still hang on to the lock and the targets: leave at once.
        ::_exit(1);
    }
    return allOk;
}

// Only the pipe and the standard streams stay; standard input and output go to /dev/null, so that the
// guard holds no end of the program's own pipes (a reader waiting for the program's output sees it end
// when the program ends).
void closeInherited(int keep)
{
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
    }
    if (keep > 3)
        ::close_range(3, unsigned(keep) - 1, 0);
    ::close_range(unsigned(keep) + 1, ~0U, 0);
}

// Out of the program's process group and session, deaf to what ends them. Where the system allows it,
// real-time scheduling (at its lowest priority, as the script's timing thread has it): the stops go out as
// soon as the program is gone, however busy the machine is with its end. Asleep in read(), it costs nothing.
void detach()
{
    ::setsid();
    for (int s : {SIGINT, SIGHUP, SIGQUIT, SIGTERM, SIGPIPE})
        ::signal(s, SIG_IGN);
    sched_param param{};
    param.sched_priority = ::sched_get_priority_min(SCHED_FIFO);
    ::sched_setscheduler(0, SCHED_FIFO, &param);
}

void usage(std::FILE *to)
{
    std::fputs("Usage: tessaro-guard --fd N\n"
               "Stops the robotic arms of the program that started it when that program goes away: a crash,\n"
               "a kill, a closed terminal, a broken pipe. The program starts it; it is not run by hand.\n"
               "\n"
               "  --fd N         the read end of the pipe from the program\n"
               "  -h, --help     show this help and exit\n"
               "  --version      show the version and exit\n",
               to);
}

} // namespace

int main(int argc, char *argv[])
{
    int fd = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("tessaro-guard %s\n", TESSARO_VERSION);
            return 0;
        }
        if (arg == "--fd" && i + 1 < argc) {
            char *end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end == '\0' && n >= 0 && n < 1 << 20)
                fd = int(n);
            continue;
        }
        usage(stderr);
        return 64;
    }
    if (fd < 0 || ::fcntl(fd, F_GETFD) < 0) {
        usage(stderr);
        return 64;
    }
    detach();
    closeInherited(fd);

    GuardProtocol::Reader reader;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        reader.feed(buffer, std::size_t(n));
        if (reader.dismissed())
            return 0;
    }
    // The program is gone and did not say goodbye.
    return stopAll(reader.targets()) ? 0 : 1;
}
