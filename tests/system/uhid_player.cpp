// Plays HID devices into the kernel through /dev/uhid, so that the programs under test meet real
// hidraw nodes, udev events and node permissions, and logs what the kernel hands each device.
//
// Commands, one per line on standard input (the guest script writes them into a pipe):
//   create NAME DESCRIPTOR [VID:PID]  plug in a device; DESCRIPTOR is arm, arm-input, arm-output,
//                                     mouse, gamepad (X Y Rz 0..255), gamepad-triggers (report ID
//                                     1, 16-bit signed X Y Rx Ry, Z Rz triggers 0..1023: see
//                                     tests/hid/support/TriggerPad.h), or a file (raw bytes, hex
//                                     text or a hid-recorder dump)
//   input NAME HEX                    send an input report
//   destroy NAME                      unplug it
//   quit
// Every device carries NAME as its unique id (HID_UNIQ), so the script can find its hidraw node.
//
// Log, one line per event on standard output: "SECONDS NAME EVENT [HEX]", SECONDS on the monotonic
// clock. Events: ready (NAME "-", once, as the player starts listening), created, start, open, close,
// output (the bytes as the kernel delivers them, report ID first), get-report, set-report, stop,
// destroyed, error.

#include "DescriptorFile.h"
#include "VirtualHidTransport.h"
#include "../hid/support/TriggerPad.h"

#include <linux/uhid.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void log(const std::string &name, const std::string &event, const std::string &detail = {})
{
    std::printf("%.6f %s %s%s%s\n", now(), name.c_str(), event.c_str(), detail.empty() ? "" : " ",
                detail.c_str());
    std::fflush(stdout);
}

std::string hex(const unsigned char *data, size_t size)
{
    std::string out;
    char byte[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
    }
    return out;
}

bool parseHex(const std::string &text, std::vector<unsigned char> &bytes)
{
    bytes.clear();
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char *end = nullptr;
        const std::string pair = text.substr(i, 2);
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0')
            return false;
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

QByteArray descriptorFor(const std::string &kind, std::string *error)
{
    if (kind == "arm")
        return VirtualHidTransport::armReportDescriptor();
    if (kind == "arm-input")
        return VirtualHidTransport::armInputReportDescriptor();
    if (kind == "arm-output")
        return VirtualHidTransport::armOutputReportDescriptor();
    if (kind == "mouse")
        return VirtualHidTransport::mouseReportDescriptor();
    if (kind == "gamepad")
        return VirtualHidTransport::gamepadReportDescriptor();
    if (kind == "gamepad-triggers")
        return TriggerPad::descriptor();
    const DescriptorFile::Result loaded = DescriptorFile::load(QString::fromStdString(kind));
    if (!loaded.ok()) {
        *error = loaded.error.toStdString();
        return QByteArray();
    }
    return *loaded.bytes;
}

bool writeEvent(int fd, const uhid_event &event)
{
    return ::write(fd, &event, sizeof event) == ssize_t(sizeof event);
}

class Player
{
public:
    ~Player()
    {
        for (auto &[name, fd] : m_devices)
            destroy(name, fd);
    }

    // False once the script says quit.
    bool command(const std::string &line)
    {
        std::istringstream in(line);
        std::string verb, name, arg, ids;
        in >> verb >> name >> arg >> ids;
        if (verb.empty() || verb[0] == '#')
            return true;
        if (verb == "quit")
            return false;
        if (verb == "create")
            create(name, arg, ids);
        else if (verb == "input")
            input(name, arg);
        else if (verb == "destroy")
            destroy(name);
        else
            log("-", "error", "unknown command: " + line);
        return true;
    }

    // The device fds first, standard input last.
    std::vector<pollfd> pollSet() const
    {
        std::vector<pollfd> set;
        for (const auto &[name, fd] : m_devices)
            set.push_back({fd, POLLIN, 0});
        return set;
    }

    void readEvents(int fd)
    {
        const std::string name = nameOf(fd);
        uhid_event event{};
        while (::read(fd, &event, sizeof event) > 0) {
            switch (event.type) {
            case UHID_START:
                log(name, "start");
                break;
            case UHID_STOP:
                log(name, "stop");
                break;
            case UHID_OPEN:
                log(name, "open");
                break;
            case UHID_CLOSE:
                log(name, "close");
                break;
            case UHID_OUTPUT:
                log(name, "output", hex(event.u.output.data, event.u.output.size));
                break;
            case UHID_GET_REPORT: {
                // Answered at once with an error: the arm has no feature reports, and an unanswered
                // request holds the caller for the kernel's five-second timeout.
                log(name, "get-report", hex(&event.u.get_report.rnum, 1));
                uhid_event reply{};
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event.u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                writeEvent(fd, reply);
                break;
            }
            case UHID_SET_REPORT: {
                log(name, "set-report",
                    hex(event.u.set_report.data, event.u.set_report.size));
                uhid_event reply{};
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = event.u.set_report.id;
                reply.u.set_report_reply.err = EIO;
                writeEvent(fd, reply);
                break;
            }
            default:
                break;
            }
        }
    }

private:
    void create(const std::string &name, const std::string &kind, const std::string &ids)
    {
        if (name.empty() || kind.empty() || m_devices.count(name)) {
            log(name.empty() ? "-" : name, "error", "create needs a new NAME and a DESCRIPTOR");
            return;
        }
        std::string error;
        const QByteArray descriptor = descriptorFor(kind, &error);
        if (descriptor.isEmpty() || descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
            log(name, "error", error.empty() ? "descriptor too large" : error);
            return;
        }
        unsigned vendor = kind.rfind("arm", 0) == 0 ? 0x1E6F : 0x0001;
        unsigned product = kind.rfind("arm", 0) == 0 ? 0x1113 : 0x0002;
        if (!ids.empty() && std::sscanf(ids.c_str(), "%x:%x", &vendor, &product) != 2) {
            log(name, "error", "VID:PID expected, got " + ids);
            return;
        }
        const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            log(name, "error", std::string("/dev/uhid: ") + std::strerror(errno));
            return;
        }
        uhid_event event{};
        event.type = UHID_CREATE2;
        std::snprintf(reinterpret_cast<char *>(event.u.create2.name), sizeof event.u.create2.name,
                      "Test %s", name.c_str());
        std::snprintf(reinterpret_cast<char *>(event.u.create2.phys), sizeof event.u.create2.phys,
                      "uhid/%s", name.c_str());
        std::snprintf(reinterpret_cast<char *>(event.u.create2.uniq), sizeof event.u.create2.uniq, "%s",
                      name.c_str());
        event.u.create2.rd_size = static_cast<__u16>(descriptor.size());
        event.u.create2.bus = 0x03; // USB, as the arm's identifiers are USB ones
        event.u.create2.vendor = vendor;
        event.u.create2.product = product;
        std::memcpy(event.u.create2.rd_data, descriptor.constData(), size_t(descriptor.size()));
        if (!writeEvent(fd, event)) {
            log(name, "error", std::string("create: ") + std::strerror(errno));
            ::close(fd);
            return;
        }
        m_devices[name] = fd;
        log(name, "created");
    }

    void input(const std::string &name, const std::string &text)
    {
        const auto it = m_devices.find(name);
        std::vector<unsigned char> bytes;
        if (it == m_devices.end() || !parseHex(text, bytes) || bytes.empty() ||
            bytes.size() > UHID_DATA_MAX) {
            log(name.empty() ? "-" : name, "error", "input needs a device and a hex report");
            return;
        }
        uhid_event event{};
        event.type = UHID_INPUT2;
        event.u.input2.size = static_cast<__u16>(bytes.size());
        std::memcpy(event.u.input2.data, bytes.data(), bytes.size());
        if (!writeEvent(it->second, event))
            log(name, "error", std::string("input: ") + std::strerror(errno));
    }

    void destroy(const std::string &name)
    {
        const auto it = m_devices.find(name);
        if (it == m_devices.end()) {
            log(name.empty() ? "-" : name, "error", "no such device");
            return;
        }
        const int fd = it->second;
        m_devices.erase(it);
        destroy(name, fd);
    }

    static void destroy(const std::string &name, int fd)
    {
        uhid_event event{};
        event.type = UHID_DESTROY;
        writeEvent(fd, event);
        ::close(fd);
        log(name, "destroyed");
    }

    std::string nameOf(int fd) const
    {
        for (const auto &[name, deviceFd] : m_devices) {
            if (deviceFd == fd)
                return name;
        }
        return "-";
    }

    std::map<std::string, int> m_devices;
};

} // namespace

int main()
{
    Player player;
    std::string pending;
    log("-", "ready");
    for (;;) {
        std::vector<pollfd> set = player.pollSet();
        set.push_back({STDIN_FILENO, POLLIN, 0});
        if (::poll(set.data(), set.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        for (size_t i = 0; i + 1 < set.size(); ++i) {
            if (set[i].revents != 0)
                player.readEvents(set[i].fd);
        }
        if (set.back().revents == 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0)
            return 0; // the script is gone: the destructor unplugs what is left
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!player.command(line))
                return 0;
        }
    }
}
