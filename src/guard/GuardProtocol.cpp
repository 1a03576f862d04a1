#include "GuardProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace GuardProtocol {

namespace {

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Hid:
        return "hid";
    case Kind::Kit:
        return "kit";
    case Kind::Log:
        return "log";
    }
    return "";
}

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool fromHex(const std::string &text, std::vector<std::uint8_t> *bytes)
{
    if (text.size() % 2 != 0)
        return false;
    const auto nibble = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    bytes->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes->push_back(std::uint8_t(high << 4 | low));
    }
    return true;
}

// The next blank-separated word of text from pos; pos ends past the blank after it.
std::string word(const std::string &text, std::size_t &pos)
{
    const std::size_t blank = text.find(' ', pos);
    const std::string w = text.substr(pos, blank == std::string::npos ? std::string::npos : blank - pos);
    pos = blank == std::string::npos ? text.size() : blank + 1;
    return w;
}

} // namespace

std::string formatTargets(const std::vector<Target> &targets)
{
    std::string message = "targets\n";
    for (const Target &t : targets) {
        if (t.path.empty() || t.path.find('\n') != std::string::npos)
            continue;
        message += kindName(t.kind);
        message += ' ';
        message += hex(t.bytes);
        if (t.kind == Kind::Log)
            message += ' ' + std::to_string(t.clockStartNs);
        message += ' ' + t.path + '\n';
    }
    return message + "end\n";
}

void Reader::feed(const char *data, std::size_t size)
{
    m_partial.append(data, size);
    std::size_t start = 0;
    for (std::size_t nl; (nl = m_partial.find('\n', start)) != std::string::npos; start = nl + 1)
        line(m_partial.substr(start, nl - start));
    m_partial.erase(0, start);
}

void Reader::line(const std::string &text)
{
    if (text == "dismiss") {
        m_dismissed = true;
    } else if (text == "targets") {
        m_inSet = true;
        m_pending.clear();
    } else if (text == "end") {
        if (m_inSet)
            m_targets = m_pending;
        m_inSet = false;
    } else if (m_inSet) {
        std::size_t pos = 0;
        const std::string kind = word(text, pos);
        Target t;
        if (kind == "hid")
            t.kind = Kind::Hid;
        else if (kind == "kit")
            t.kind = Kind::Kit;
        else if (kind == "log")
            t.kind = Kind::Log;
        else
            return;
        if (!fromHex(word(text, pos), &t.bytes))
            return;
        if (t.kind == Kind::Log) {
            const std::string start = word(text, pos);
            char *endp = nullptr;
            t.clockStartNs = std::strtoll(start.c_str(), &endp, 10);
            if (start.empty() || *endp != '\0')
                return;
        }
        t.path = text.substr(pos);
        if (!t.path.empty())
            m_pending.push_back(t);
    }
}

std::vector<std::uint8_t> encodeControl(const ControlTransfer &c)
{
    const auto length = std::uint16_t(c.data.size());
    std::vector<std::uint8_t> bytes(8 + c.data.size());
    bytes[0] = c.requestType;
    bytes[1] = c.request;
    bytes[2] = std::uint8_t(c.value & 0xff);
    bytes[3] = std::uint8_t(c.value >> 8);
    bytes[4] = std::uint8_t(c.index & 0xff);
    bytes[5] = std::uint8_t(c.index >> 8);
    bytes[6] = std::uint8_t(length & 0xff);
    bytes[7] = std::uint8_t(length >> 8);
    std::copy(c.data.begin(), c.data.end(), bytes.begin() + 8);
    return bytes;
}

bool decodeControl(const std::vector<std::uint8_t> &bytes, ControlTransfer *c)
{
    if (bytes.size() < 8)
        return false;
    const std::size_t length = std::size_t(bytes[6] | bytes[7] << 8);
    if (bytes.size() != 8 + length)
        return false;
    c->requestType = bytes[0];
    c->request = bytes[1];
    c->value = std::uint16_t(bytes[2] | bytes[3] << 8);
    c->index = std::uint16_t(bytes[4] | bytes[5] << 8);
    c->data.assign(bytes.begin() + 8, bytes.end());
    return true;
}

std::string logLine(std::int64_t nowNs, std::int64_t clockStartNs, const std::vector<std::uint8_t> &bytes)
{
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, "%.6f", double(nowNs - clockStartNs) / 1e9);
    return std::string(seconds) + " 0 " + hex(bytes) + ' ' + LogMark + '\n';
}

} // namespace GuardProtocol
