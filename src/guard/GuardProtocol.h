#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a program tells its guard (tessaro-guard) on the pipe between them, as lines of text. Plain C++,
// so that the guard itself needs nothing but the C library.
//
//   targets                                   a new set of targets follows, replacing the last one
//   hid 0100 /dev/hidraw2                     write these bytes to the node (report ID byte first)
//   kit 4006000100000300000000 /dev/bus/usb/001/004
//                                             a control transfer on the usbfs node: the 8-byte setup
//                                             packet (wLength little-endian) then the data stage
//   log 000000 8123456789 /tmp/arm.log        append a virtual arm's log line with these bytes, its
//                                             time in seconds from the given monotonic nanosecond
//   end                                       the set is complete and takes effect
//   dismiss                                   a normal close: exit without sending anything
//
// A path is the rest of its line. A set cut short by the program's death never takes effect: the last
// complete one does.
namespace GuardProtocol {

enum class Kind { Hid, Kit, Log };

struct Target
{
    Kind kind = Kind::Hid;
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::int64_t clockStartNs = 0; // log targets only

    bool operator==(const Target &) const = default;
};

inline constexpr char DismissLine[] = "dismiss\n";
// The mark at the end of a log line the guard appends.
inline constexpr char LogMark[] = "guard";

// The message that hands over a set; a target whose path holds a line break cannot be told and is left
// out.
std::string formatTargets(const std::vector<Target> &targets);

// The guard's side: takes the pipe's bytes as they come.
class Reader
{
public:
    void feed(const char *data, std::size_t size);
    const std::vector<Target> &targets() const { return m_targets; }
    bool dismissed() const { return m_dismissed; }

private:
    void line(const std::string &text);

    std::string m_partial;
    std::vector<Target> m_targets;
    std::vector<Target> m_pending;
    bool m_inSet = false;
    bool m_dismissed = false;
};

// A USB control transfer laid out as `kit` bytes: setup packet, then data.
struct ControlTransfer
{
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::vector<std::uint8_t> data;
};
std::vector<std::uint8_t> encodeControl(const ControlTransfer &transfer);
// False when the bytes are not a setup packet followed by exactly wLength bytes.
bool decodeControl(const std::vector<std::uint8_t> &bytes, ControlTransfer *transfer);

// The line the virtual arm's log gets from the guard: "12.345678 0 0000 guard".
std::string logLine(std::int64_t nowNs, std::int64_t clockStartNs, const std::vector<std::uint8_t> &bytes);

} // namespace GuardProtocol
