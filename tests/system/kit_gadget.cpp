// Plays USB interface kits into the kernel as real USB devices, so that the programs under test meet a
// kit as they would on a desktop: a device on a USB bus (dummy_hcd), its usbfs node, udev events and
// node permissions. Each kit is a gadget made through configfs with one FunctionFS function: a vendor
// interface whose control requests, the kit's commands among them, come to this program on ep0.
//
// Needs dummy_hcd, libcomposite and usb_f_fs loaded and configfs mounted on /sys/kernel/config.
//
// Commands, one per line on standard input (the guest script writes them into a pipe):
//   create NAME [PRODUCT]  make a kit (product id in hex, 0000 when not given), not yet plugged in
//   connect NAME           plug it in: bind it to a free dummy_udc
//   disconnect NAME        unplug it
//   hold NAME              take no command until release: the host's transfers wait
//   release NAME
//   quit
// Every kit carries NAME as its serial number, so that the script can find its USB device.
//
// Log, one line per event on standard output: "SECONDS NAME EVENT [DETAIL]", SECONDS on the monotonic
// clock. Events: created, connected UDC, disconnected, bind, unbind, enable, disable, suspend, resume,
// command HEX (the kit's command transfer: vendor request 6, value 0x0100, index 0, its data bytes),
// request TYPE:REQUEST:VALUE:INDEX HEX (any other control request; refused), error TEXT.

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
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

class Kit
{
public:
    explicit Kit(std::string name) : m_name(std::move(name)) {}

    bool create(unsigned productId, std::string *error)
    {
        const std::string g = std::string(GadgetRoot) + "/" + m_name;
        char product[16];
        std::snprintf(product, sizeof product, "0x%04x", productId);
        char vendor[16];
        std::snprintf(vendor, sizeof vendor, "0x%04x", KitVendorId);
        const std::string function = g + "/functions/ffs." + m_name;
        if (!makeDir(g, error) || !writeFile(g + "/idVendor", vendor, error) ||
            !writeFile(g + "/idProduct", product, error) || !writeFile(g + "/bcdDevice", "0x0100", error) ||
            !writeFile(g + "/bcdUSB", "0x0200", error) || !makeDir(g + "/strings/0x409", error) ||
            !writeFile(g + "/strings/0x409/manufacturer", "Tessaro tests", error) ||
            !writeFile(g + "/strings/0x409/product", "Interface kit", error) ||
            !writeFile(g + "/strings/0x409/serialnumber", m_name, error) || !makeDir(g + "/configs/c.1", error) ||
            !writeFile(g + "/configs/c.1/MaxPower", "100", error) || !makeDir(function, error))
            return false;
        const std::string link = g + "/configs/c.1/ffs." + m_name;
        if (::symlink(function.c_str(), link.c_str()) != 0 && errno != EEXIST) {
            *error = errorText("symlink " + link);
            return false;
        }
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
        m_gadget = g;
        std::thread(&Kit::serve, this).detach();
        return true;
    }

    bool connect(const std::string &udc, std::string *error) { return writeFile(m_gadget + "/UDC", udc, error); }
    bool disconnect(std::string *error) { return writeFile(m_gadget + "/UDC", "\n", error); }

    void hold(bool on)
    {
        {
            const std::lock_guard<std::mutex> guard(m_holdLock);
            m_held = on;
        }
        m_holdChanged.notify_all();
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
            std::snprintf(buf, sizeof buf, "%02x:%02x:%04x:%04x", request.bRequestType, request.bRequest, value,
                          index);
            log(m_name, "request", buf);
            const ssize_t ignored = ::read(m_ep0, nullptr, 0);
            (void)ignored;
            return;
        }
        {
            std::unique_lock<std::mutex> guard(m_holdLock);
            m_holdChanged.wait(guard, [this] { return !m_held; });
        }
        std::vector<unsigned char> data(length);
        // Reading the data stage completes the request; the status stage follows.
        const ssize_t n = ::read(m_ep0, data.data(), data.size());
        if (n < 0) {
            log(m_name, "error", errorText("read the data stage"));
            return;
        }
        const std::string bytes = hex(data.data(), size_t(n));
        if (request.bRequestType == 0x40 && request.bRequest == 6 && value == 0x0100 && index == 0 && n == 3) {
            log(m_name, "command", bytes);
            return;
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "%02x:%02x:%04x:%04x %s", request.bRequestType, request.bRequest, value,
                      index, bytes.c_str());
        log(m_name, "request", buf);
    }

    std::string m_name;
    std::string m_gadget;
    std::string m_mount;
    int m_ep0 = -1;
    std::mutex m_holdLock;
    std::condition_variable m_holdChanged;
    bool m_held = false;
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
    std::map<std::string, std::unique_ptr<Kit>> kits;
    std::map<std::string, std::string> boundTo; // kit -> its UDC while connected
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
        const auto found = kits.find(name);
        if (command == "create") {
            std::string product = "0000";
            in >> product;
            auto kit = std::make_unique<Kit>(name);
            if (found != kits.end() || !kit->create(unsigned(std::stoul(product, nullptr, 16)), &error)) {
                log(name, "error", error.empty() ? "already made" : error);
                continue;
            }
            kits.emplace(name, std::move(kit));
            log(name, "created");
        } else if (found == kits.end()) {
            log(name, "error", "no such kit: " + line);
        } else if (command == "connect") {
            std::set<std::string> busy;
            for (const auto &[kit, udc] : boundTo)
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
            found->second->hold(command == "hold");
            log(name, command == "hold" ? "held" : "released");
        } else {
            log(name, "error", "unknown command: " + line);
        }
    }
    return 0;
}
