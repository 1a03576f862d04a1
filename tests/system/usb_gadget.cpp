// Plays the arm's USB devices into the kernel as real USB devices, so that the programs under test meet
// them as they would on a desktop: a device on a USB bus (dummy_hcd), its usbfs node, udev events and
// node permissions. Each device is a gadget made through configfs with one function:
// - the interface kit: a FunctionFS function, a vendor interface whose control requests, the kit's
//   commands among them, come to this program on ep0;
// - the arm's HID board (1E6F:1113): a hid function with the arm's report descriptor, which the host's
//   usbhid driver takes up, so that the programs reach it through hidraw over usbhid. Its output
//   reports come to this program through the function's /dev/hidgN node.
//
// Needs dummy_hcd, libcomposite, usb_f_fs and usb_f_hid loaded and configfs mounted on
// /sys/kernel/config.
//
// Commands, one per line on standard input (the guest script writes them into a pipe):
//   create NAME [PRODUCT]  make a kit (product id in hex, 0000 when not given), not yet plugged in
//   create-hid NAME        make a HID board, not yet plugged in
//   connect NAME           plug it in: bind it to a free dummy_udc
//   disconnect NAME        unplug it
//   hold NAME              a kit takes no command until release: the host's transfers wait
//   release NAME
//   refuse NAME N          a kit stalls the N-th command transfer from now (1: the next; 0 refuses none),
//                          as a kit that fails a transfer does; the host's transfer fails, the rest go through
//   quit
// Every device carries NAME as its serial number, so that the script can find its USB device (and a
// HID board's hidraw node, whose HID_UNIQ is the serial number).
//
// Log, one line per event on standard output: "SECONDS NAME EVENT [DETAIL]", SECONDS on the monotonic
// clock. Events: created, connected UDC, disconnected, bind, unbind, enable, disable, suspend, resume,
// command HEX (the kit's command transfer: vendor request 6, value 0x0100, index 0, its data bytes),
// refused TYPE:REQUEST:VALUE:INDEX (a command stalled by `refuse`), request TYPE:REQUEST:VALUE:INDEX HEX
// (any other control request to a kit; refused), output HEX (an
// output report of a HID board, as the interrupt OUT endpoint brought it), error TEXT.

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <poll.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *GadgetRoot = "/sys/kernel/config/usb_gadget";
constexpr unsigned KitVendorId = 0x1267;
constexpr unsigned BoardVendorId = 0x1E6F;
constexpr unsigned BoardProductId = 0x1113;

// The arm's HID board: two input bytes (X, Y) and one output byte, the command code; no report IDs.
constexpr unsigned char BoardReportDescriptor[] = {
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x00,       // Usage (Undefined)
    0xA1, 0x01,       // Collection (Application)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x01,       //   Report Count (1)
    0x09, 0x30,       //   Usage (X)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x09, 0x31,       //   Usage (Y)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x09, 0x3E,       //   Usage (0x3E)
    0x91, 0x02,       //   Output (Data, Variable, Absolute)
    0xC0,             // End Collection
};

std::mutex g_logLock;

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void log(const std::string &name, const std::string &event, const std::string &detail = {})
{
    const std::lock_guard<std::mutex> guard(g_logLock);
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

std::string errorText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

bool writeFile(const std::string &path, const std::string &text, std::string *error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errorText("open " + path);
        return false;
    }
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int e = errno;
    ::close(fd);
    if (n != ssize_t(text.size())) {
        errno = e;
        *error = errorText("write " + path);
        return false;
    }
    return true;
}

bool makeDir(const std::string &path, std::string *error)
{
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    *error = errorText("mkdir " + path);
    return false;
}

bool readFile(const std::string &path, std::string *text, std::string *error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errorText("open " + path);
        return false;
    }
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    const int e = errno;
    ::close(fd);
    if (n < 0) {
        errno = e;
        *error = errorText("read " + path);
        return false;
    }
    text->assign(buf, size_t(n));
    return true;
}

// The function's descriptors: one vendor-specific interface with a bulk IN endpoint, at full and
// high speed. The kit is driven on ep0 alone; the endpoint is there as a kit has it.
struct Descriptors
{
    usb_functionfs_descs_head_v2 header;
    __le32 fsCount;
    __le32 hsCount;
    struct Set
    {
        usb_interface_descriptor intf;
        usb_endpoint_descriptor_no_audio bulkIn;
    } __attribute__((packed)) fs, hs;
} __attribute__((packed));

Descriptors descriptors()
{
    Descriptors d{};
    d.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    d.header.length = htole32(sizeof d);
    // Every control request reaches the function, those addressed to the device included: the kit's
    // commands go to the device.
    d.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP);
    d.fsCount = htole32(2);
    d.hsCount = htole32(2);
    for (Descriptors::Set *set : {&d.fs, &d.hs}) {
        set->intf.bLength = USB_DT_INTERFACE_SIZE;
        set->intf.bDescriptorType = USB_DT_INTERFACE;
        set->intf.bNumEndpoints = 1;
        set->intf.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
        set->intf.iInterface = 1;
        set->bulkIn.bLength = USB_DT_ENDPOINT_SIZE;
        set->bulkIn.bDescriptorType = USB_DT_ENDPOINT;
        set->bulkIn.bEndpointAddress = USB_DIR_IN | 1;
        set->bulkIn.bmAttributes = USB_ENDPOINT_XFER_BULK;
    }
    d.fs.bulkIn.wMaxPacketSize = htole16(64);
    d.hs.bulkIn.wMaxPacketSize = htole16(512);
    return d;
}

constexpr char InterfaceName[] = "Arm interface";

struct Strings
{
    usb_functionfs_strings_head header;
    struct
    {
        __le16 code;
        char name[sizeof InterfaceName];
    } __attribute__((packed)) lang0;
} __attribute__((packed));

Strings strings()
{
    Strings s{};
    s.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    s.header.length = htole32(sizeof s);
    s.header.str_count = htole32(1);
    s.header.lang_count = htole32(1);
    s.lang0.code = htole16(0x0409);
    std::memcpy(s.lang0.name, InterfaceName, sizeof InterfaceName);
    return s;
}

// A gadget made through configfs: one configuration with one function, named NAME throughout.
class Gadget
{
public:
    explicit Gadget(std::string name) : m_name(std::move(name)) {}
    virtual ~Gadget() = default;

    virtual bool connect(const std::string &udc, std::string *error)
    {
        return writeFile(gadgetPath() + "/UDC", udc, error);
    }
    virtual bool disconnect(std::string *error) { return writeFile(gadgetPath() + "/UDC", "\n", error); }
    // False for a device that cannot be held.
    virtual bool hold(bool) { return false; }
    virtual bool refuse(int) { return false; }

protected:
    std::string gadgetPath() const { return std::string(GadgetRoot) + "/" + m_name; }

    // The device's identity and strings, and its one configuration.
    bool makeDevice(unsigned vendorId, unsigned productId, const std::string &product, std::string *error)
    {
        const std::string g = gadgetPath();
        char productText[16];
        std::snprintf(productText, sizeof productText, "0x%04x", productId);
        char vendorText[16];
        std::snprintf(vendorText, sizeof vendorText, "0x%04x", vendorId);
        return makeDir(g, error) && writeFile(g + "/idVendor", vendorText, error) &&
               writeFile(g + "/idProduct", productText, error) &&
               writeFile(g + "/bcdDevice", "0x0100", error) && writeFile(g + "/bcdUSB", "0x0200", error) &&
               makeDir(g + "/strings/0x409", error) &&
               writeFile(g + "/strings/0x409/manufacturer", "Tessaro tests", error) &&
               writeFile(g + "/strings/0x409/product", product, error) &&
               writeFile(g + "/strings/0x409/serialnumber", m_name, error) &&
               makeDir(g + "/configs/c.1", error) && writeFile(g + "/configs/c.1/MaxPower", "100", error);
    }

    bool linkFunction(const std::string &function, const std::string &linkName, std::string *error)
    {
        const std::string link = gadgetPath() + "/configs/c.1/" + linkName;
        if (::symlink(function.c_str(), link.c_str()) != 0 && errno != EEXIST) {
            *error = errorText("symlink " + link);
            return false;
        }
        return true;
    }

    std::string m_name;
};

class Kit : public Gadget
{
public:
    using Gadget::Gadget;

    bool create(unsigned productId, std::string *error)
    {
        const std::string function = gadgetPath() + "/functions/ffs." + m_name;
        if (!makeDevice(KitVendorId, productId, "Interface kit", error) || !makeDir(function, error) ||
            !linkFunction(function, "ffs." + m_name, error))
            return false;
        m_mount = "/dev/ffs-" + m_name;
        if (!makeDir(m_mount, error))
            return false;
        if (::mount(m_name.c_str(), m_mount.c_str(), "functionfs", 0, nullptr) != 0 && errno != EBUSY) {
            *error = errorText("mount functionfs on " + m_mount);
            return false;
        }
        m_ep0 = ::open((m_mount + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
        if (m_ep0 < 0) {
            *error = errorText("open ep0");
            return false;
        }
        const Descriptors d = descriptors();
        if (::write(m_ep0, &d, sizeof d) != ssize_t(sizeof d)) {
            *error = errorText("write the descriptors");
            return false;
        }
        const Strings s = strings();
        if (::write(m_ep0, &s, sizeof s) != ssize_t(sizeof s)) {
            *error = errorText("write the strings");
            return false;
        }
        std::thread(&Kit::serve, this).detach();
        return true;
    }

    bool hold(bool on) override
    {
        {
            const std::lock_guard<std::mutex> guard(m_holdLock);
            m_held = on;
        }
        m_holdChanged.notify_all();
        return true;
    }

    bool refuse(int nth) override
    {
        m_refuseIn = nth;
        return nth >= 0;
    }

private:
    // ep0: the function's events, and the data stage of each control request.
    void serve()
    {
        for (;;) {
            usb_functionfs_event events[4];
            const ssize_t n = ::read(m_ep0, events, sizeof events);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                log(m_name, "error", errorText("read ep0"));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            for (size_t i = 0; i < size_t(n) / sizeof events[0]; ++i)
                handle(events[i]);
        }
    }

    void handle(const usb_functionfs_event &event)
    {
        switch (event.type) {
        case FUNCTIONFS_BIND:
            log(m_name, "bind");
            return;
        case FUNCTIONFS_UNBIND:
            log(m_name, "unbind");
            return;
        case FUNCTIONFS_ENABLE:
            log(m_name, "enable");
            return;
        case FUNCTIONFS_DISABLE:
            log(m_name, "disable");
            return;
        case FUNCTIONFS_SUSPEND:
            log(m_name, "suspend");
            return;
        case FUNCTIONFS_RESUME:
            log(m_name, "resume");
            return;
        case FUNCTIONFS_SETUP:
            setup(event.u.setup);
            return;
        default:
            return;
        }
    }

    void setup(const usb_ctrlrequest &request)
    {
        const unsigned length = le16toh(request.wLength);
        const unsigned value = le16toh(request.wValue);
        const unsigned index = le16toh(request.wIndex);
        if (request.bRequestType & USB_DIR_IN) {
            // Nothing to answer with: a read in the wrong direction stalls the request.
            char buf[64];
            std::snprintf(buf, sizeof buf, "%02x:%02x:%04x:%04x", request.bRequestType, request.bRequest,
                          value, index);
            log(m_name, "request", buf);
            const ssize_t ignored = ::read(m_ep0, nullptr, 0);
            (void)ignored;
            return;
        }
        {
            std::unique_lock<std::mutex> guard(m_holdLock);
            m_holdChanged.wait(guard, [this] { return !m_held; });
        }
        const bool command = request.bRequestType == 0x40 && request.bRequest == 6 && value == 0x0100 &&
                             index == 0 && length == 3;
        if (command && m_refuseIn > 0 && --m_refuseIn == 0) {
            // A write on ep0 against an OUT request's direction stalls it, data stage unread.
            char buf[64];
            std::snprintf(buf, sizeof buf, "%02x:%02x:%04x:%04x", request.bRequestType, request.bRequest, value,
                          index);
            log(m_name, "refused", buf);
            const ssize_t ignored = ::write(m_ep0, nullptr, 0);
            (void)ignored;
            return;
        }
        std::vector<unsigned char> data(length);
        // Reading the data stage completes the request; the status stage follows.
        const ssize_t n = ::read(m_ep0, data.data(), data.size());
        if (n < 0) {
            log(m_name, "error", errorText("read the data stage"));
            return;
        }
        const std::string bytes = hex(data.data(), size_t(n));
        if (request.bRequestType == 0x40 && request.bRequest == 6 && value == 0x0100 && index == 0 &&
            n == 3) {
            log(m_name, "command", bytes);
            return;
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "%02x:%02x:%04x:%04x %s", request.bRequestType, request.bRequest,
                      value, index, bytes.c_str());
        log(m_name, "request", buf);
    }

    std::string m_mount;
    int m_ep0 = -1;
    std::mutex m_holdLock;
    std::condition_variable m_holdChanged;
    bool m_held = false;
    std::atomic<int> m_refuseIn{0};
};

// The arm's HID board as a USB HID device. The host's usbhid sends each output report over the
// interrupt OUT endpoint; this program reads it from the function's node while the board is plugged in.
class HidBoard : public Gadget
{
public:
    using Gadget::Gadget;

    bool create(std::string *error)
    {
        const std::string function = gadgetPath() + "/functions/hid." + m_name;
        const std::string descriptor(reinterpret_cast<const char *>(BoardReportDescriptor),
                                     sizeof BoardReportDescriptor);
        if (!makeDevice(BoardVendorId, BoardProductId, "Robotic arm", error) || !makeDir(function, error) ||
            !writeFile(function + "/protocol", "0", error) ||
            !writeFile(function + "/subclass", "0", error) ||
            !writeFile(function + "/report_length", "8", error) ||
            !writeFile(function + "/report_desc", descriptor, error) ||
            !linkFunction(function, "hid." + m_name, error))
            return false;
        // "MAJOR:MINOR": the node is /dev/hidgMINOR, made as the board is bound to a controller.
        std::string dev;
        if (!readFile(function + "/dev", &dev, error))
            return false;
        const size_t colon = dev.find(':');
        if (colon == std::string::npos) {
            *error = "no minor number in " + function + "/dev: " + dev;
            return false;
        }
        m_node = "/dev/hidg" + std::to_string(std::stoul(dev.substr(colon + 1)));
        return true;
    }

    bool connect(const std::string &udc, std::string *error) override
    {
        if (!Gadget::connect(udc, error))
            return false;
        m_connected = true;
        if (m_reader.joinable())
            m_reader.join();
        m_reader = std::thread(&HidBoard::read, this);
        return true;
    }

    bool disconnect(std::string *error) override
    {
        m_connected = false;
        if (m_reader.joinable())
            m_reader.join();
        return Gadget::disconnect(error);
    }

private:
    void read()
    {
        int fd = -1;
        // The node comes with the function's binding, a moment after the controller takes the gadget.
        for (int i = 0; i < 100 && m_connected && fd < 0; ++i) {
            fd = ::open(m_node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (fd < 0) {
            log(m_name, "error", errorText("open " + m_node));
            return;
        }
        while (m_connected) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN))
                continue;
            unsigned char report[64];
            const ssize_t n = ::read(fd, report, sizeof report);
            if (n > 0)
                log(m_name, "output", hex(report, size_t(n)));
        }
        ::close(fd);
    }

    std::string m_node;
    std::atomic<bool> m_connected{false};
    std::thread m_reader;
};

std::vector<std::string> udcs()
{
    std::vector<std::string> names;
    if (DIR *dir = ::opendir("/sys/class/udc")) {
        while (const dirent *e = ::readdir(dir)) {
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

int main()
{
    std::map<std::string, std::unique_ptr<Gadget>> devices;
    std::map<std::string, std::string> boundTo; // device -> its UDC while connected
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        std::string name;
        in >> command >> name;
        if (command == "quit")
            break;
        if (command.empty())
            continue;
        std::string error;
        const auto found = devices.find(name);
        if (command == "create") {
            std::string product = "0000";
            in >> product;
            auto kit = std::make_unique<Kit>(name);
            if (found != devices.end() || !kit->create(unsigned(std::stoul(product, nullptr, 16)), &error)) {
                log(name, "error", error.empty() ? "already made" : error);
                continue;
            }
            devices.emplace(name, std::move(kit));
            log(name, "created");
        } else if (command == "create-hid") {
            auto board = std::make_unique<HidBoard>(name);
            if (found != devices.end() || !board->create(&error)) {
                log(name, "error", error.empty() ? "already made" : error);
                continue;
            }
            devices.emplace(name, std::move(board));
            log(name, "created");
        } else if (found == devices.end()) {
            log(name, "error", "no such device: " + line);
        } else if (command == "connect") {
            std::set<std::string> busy;
            for (const auto &[device, udc] : boundTo)
                busy.insert(udc);
            std::string free;
            for (const std::string &udc : udcs()) {
                if (!busy.count(udc)) {
                    free = udc;
                    break;
                }
            }
            if (boundTo.count(name) || free.empty() || !found->second->connect(free, &error)) {
                log(name, "error", error.empty() ? "no free UDC, or connected already" : error);
                continue;
            }
            boundTo[name] = free;
            log(name, "connected", free);
        } else if (command == "disconnect") {
            if (!boundTo.count(name) || !found->second->disconnect(&error)) {
                log(name, "error", error.empty() ? "not connected" : error);
                continue;
            }
            boundTo.erase(name);
            log(name, "disconnected");
        } else if (command == "hold" || command == "release") {
            if (found->second->hold(command == "hold"))
                log(name, command == "hold" ? "held" : "released");
            else
                log(name, "error", "only a kit can be held");
        } else if (command == "refuse") {
            int nth = 1;
            in >> nth;
            if (found->second->refuse(nth))
                log(name, "refusing", std::to_string(nth));
            else
                log(name, "error", "only a kit refuses, a count from 0");
        } else {
            log(name, "error", "unknown command: " + line);
        }
    }
    return 0;
}
