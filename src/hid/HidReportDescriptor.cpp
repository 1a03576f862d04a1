#include "HidReportDescriptor.h"

#include <array>

// Item references below are to "Device Class Definition for HID 1.11" (HID 1.11).

namespace {

// Bounds for untrusted descriptors. A report may use at most 16 KiB on the wire including its ID
// byte; a data field is at most 32 bits wide because values travel as 32-bit integers.
constexpr int MaxReportBytes = 16384;
constexpr qint64 MaxReportDataBits = qint64(MaxReportBytes - 1) * 8;
constexpr int MaxFieldBits = 32;
constexpr quint32 MaxReportCount = 16384;
constexpr int MaxGlobalStackDepth = 16;
constexpr qsizetype MaxVariables = 65536;

// Short item prefix (6.2.2.2): bits 7..4 bTag, bits 3..2 bType, bits 1..0 bSize (0, 1, 2, 4 bytes).
// The constants are the prefix with bSize masked out.
enum ItemTag : quint8 {
    // Main items, bType 00 (6.2.2.4)
    TagInput = 0x80,         // 1000 00nn
    TagOutput = 0x90,        // 1001 00nn
    TagFeature = 0xB0,       // 1011 00nn
    TagCollection = 0xA0,    // 1010 00nn
    TagEndCollection = 0xC0, // 1100 00nn
    // Global items, bType 01 (6.2.2.7)
    TagUsagePage = 0x04,       // 0000 01nn
    TagLogicalMinimum = 0x14,  // 0001 01nn
    TagLogicalMaximum = 0x24,  // 0010 01nn
    TagPhysicalMinimum = 0x34, // 0011 01nn
    TagPhysicalMaximum = 0x44, // 0100 01nn
    TagUnitExponent = 0x54,    // 0101 01nn
    TagUnit = 0x64,            // 0110 01nn
    TagReportSize = 0x74,      // 0111 01nn
    TagReportId = 0x84,        // 1000 01nn
    TagReportCount = 0x94,     // 1001 01nn
    TagPush = 0xA4,            // 1010 01nn
    TagPop = 0xB4,             // 1011 01nn
    // Local items, bType 10 (6.2.2.8)
    TagUsage = 0x08,          // 0000 10nn
    TagUsageMinimum = 0x18,   // 0001 10nn
    TagUsageMaximum = 0x28,   // 0010 10nn
    TagStringIndex = 0x78,    // 0111 10nn
    TagStringMinimum = 0x88,  // 1000 10nn
    TagDelimiter = 0xA8,      // 1010 10nn
    // Long item prefix, 1111 1110 (6.2.2.3)
    TagLongItem = 0xFE,
};

qint32 signExtend(quint32 data, int size)
{
    switch (size) {
    case 1:
        return qint8(data);
    case 2:
        return qint16(data);
    case 4:
        return qint32(data);
    default:
        return 0;
    }
}

// A signed global item whose interpretation depends on another item; kept as sent.
struct RawNumber
{
    quint32 data = 0;
    int size = 0; // 0 when the item never appeared
};

struct GlobalState
{
    quint32 usagePage = 0;
    RawNumber logicalMin, logicalMax, physicalMin, physicalMax;
    qint32 unitExponent = 0;
    quint32 unit = 0;
    quint32 reportSize = 0;
    quint32 reportCount = 0;
    bool reportSizeSet = false;
    bool reportCountSet = false;
    int reportId = 0;
};

// A run of usages on one page; a single Usage item is a run of one.
struct UsageRun
{
    quint32 page = 0;
    quint32 first = 0;
    quint32 last = 0;
    bool extended = false; // declared with a 4-byte item that carries its own page
    quint32 length() const { return last - first + 1; }
};

struct PendingBound
{
    quint32 id = 0;
    quint32 page = 0;
    bool extended = false;
    bool set = false;
    qsizetype offset = 0;
};

struct LocalState
{
    QList<UsageRun> usages;
    PendingBound usageMin, usageMax;
    int stringIndex = 0;
    int stringMinimum = 0;
    int delimiterDepth = 0;
    bool delimiterUsageTaken = false;
};

struct Item
{
    qsizetype offset = 0;
    quint8 tag = 0; // prefix with bSize masked out
    int size = 0;   // data bytes
    quint32 data = 0;
};

struct Resolved
{
    qint64 min = 0;
    qint64 max = 0;
};

// 6.2.2.7: a Minimum is signed. A Maximum is read as signed only when its Minimum is negative,
// which is what hosts do in practice: "15 00 26 FF 00" means 0..255, not 0..-1.
Resolved resolveRange(const RawNumber &min, const RawNumber &max)
{
    Resolved r;
    r.min = min.size ? signExtend(min.data, min.size) : 0;
    if (max.size)
        r.max = r.min < 0 ? qint64(signExtend(max.data, max.size)) : qint64(max.data);
    return r;
}

QString hex(quint32 value, int width = 2)
{
    return QStringLiteral("0x%1").arg(value, width, 16, QLatin1Char('0'));
}

QString mainItemName(quint8 tag)
{
    switch (tag) {
    case TagInput:
        return QStringLiteral("Input");
    case TagOutput:
        return QStringLiteral("Output");
    default:
        return QStringLiteral("Feature");
    }
}

class Parser
{
public:
    explicit Parser(QByteArrayView bytes) : m_bytes(bytes) { m_reportIndex.fill(-1); }

    HidParseResult run();

private:
    bool fail(qsizetype offset, const QString &message)
    {
        m_error.offset = offset;
        m_error.message = message;
        return false;
    }

    bool readItem(qsizetype offset, Item &item, qsizetype &next);
    bool mainItem(const Item &item);
    bool dataItem(const Item &item);
    bool globalItem(const Item &item);
    bool localItem(const Item &item);
    bool addUsageBound(const Item &item, PendingBound &bound);
    bool closeUsageRange(qsizetype offset);
    void finishUsages();
    int reportFor(HidReportType type, int id);

    QByteArrayView m_bytes;
    HidDescriptorError m_error;
    HidReportLayout m_layout;
    GlobalState m_global;
    QList<GlobalState> m_globalStack;
    LocalState m_local;
    QList<qsizetype> m_openCollections;
    std::array<int, 3 * 256> m_reportIndex; // (type, id) -> position in m_layout.reports
    qsizetype m_firstUnnumberedItem = -1;   // a data item seen before any Report ID
};

HidParseResult Parser::run()
{
    qsizetype offset = 0;
    while (offset < m_bytes.size()) {
        Item item;
        qsizetype next = 0;
        if (!readItem(offset, item, next))
            return {std::nullopt, m_error};
        bool ok = true;
        if (item.tag == TagLongItem) {
            // No long item tags are defined; their data is skipped.
        } else {
            switch (item.tag & 0x0C) {
            case 0x00:
                ok = mainItem(item);
                break;
            case 0x04:
                ok = globalItem(item);
                break;
            case 0x08:
                ok = localItem(item);
                break;
            default:
                break; // bType 11 is reserved; skipped like an unknown tag
            }
        }
        if (!ok)
            return {std::nullopt, m_error};
        offset = next;
    }
    if (!m_openCollections.isEmpty()) {
        fail(m_openCollections.last(), QStringLiteral("Collection is never closed by an End Collection"));
        return {std::nullopt, m_error};
    }
    for (HidReport &report : m_layout.reports)
        report.sizeBytes = (report.sizeBits + 7) / 8 + (m_layout.usesReportIds ? 1 : 0);
    return {std::move(m_layout), HidDescriptorError{}};
}

bool Parser::readItem(qsizetype offset, Item &item, qsizetype &next)
{
    const auto byteAt = [this](qsizetype i) { return quint8(m_bytes[i]); };
    const qsizetype remaining = m_bytes.size() - offset - 1;
    item.offset = offset;
    const quint8 prefix = byteAt(offset);
    if (prefix == TagLongItem) {
        // 6.2.2.3 long item: FE, bDataSize, bLongItemTag, data.
        if (remaining < 2)
            return fail(offset, QStringLiteral("truncated long item: its size and tag bytes are missing"));
        const int dataSize = byteAt(offset + 1);
        if (remaining - 2 < dataSize)
            return fail(offset, QStringLiteral("truncated long item: %1 data bytes announced, %2 present")
                                    .arg(dataSize)
                                    .arg(remaining - 2));
        item.tag = TagLongItem;
        item.size = dataSize;
        next = offset + 3 + dataSize;
        return true;
    }
    static constexpr int sizes[4] = {0, 1, 2, 4};
    item.tag = prefix & 0xFC;
    item.size = sizes[prefix & 0x03];
    if (remaining < item.size)
        return fail(offset, QStringLiteral("truncated item %1: %2 data bytes announced, %3 present")
                                .arg(hex(prefix))
                                .arg(item.size)
                                .arg(remaining));
    // Item data is little-endian (5.8).
    item.data = 0;
    for (int i = 0; i < item.size; ++i)
        item.data |= quint32(byteAt(offset + 1 + i)) << (8 * i);
    next = offset + 1 + item.size;
    return true;
}

bool Parser::mainItem(const Item &item)
{
    bool ok = true;
    switch (item.tag) {
    case TagInput:
    case TagOutput:
    case TagFeature:
        ok = dataItem(item);
        break;
    case TagCollection:
        if (m_openCollections.isEmpty() && item.data == 0x01) {
            finishUsages();
            const quint32 usage = m_local.usages.isEmpty()
                                      ? 0
                                      : (m_local.usages.first().page << 16) | (m_local.usages.first().first & 0xFFFF);
            m_layout.applications.append(usage);
        }
        m_openCollections.append(item.offset);
        break;
    case TagEndCollection:
        if (m_openCollections.isEmpty())
            return fail(item.offset, QStringLiteral("End Collection without an open Collection"));
        m_openCollections.removeLast();
        break;
    default:
        break; // reserved main item tags carry nothing we use
    }
    // 6.2.2.8: local items only describe the next main item.
    m_local = LocalState{};
    return ok;
}

int Parser::reportFor(HidReportType type, int id)
{
    int &slot = m_reportIndex[int(type) * 256 + id];
    if (slot < 0) {
        slot = int(m_layout.reports.size());
        m_layout.reports.append(HidReport{type, id, 0, 0});
    }
    return slot;
}

// Input, Output and Feature items (6.2.2.4, 6.2.2.5): each adds Report Size x Report Count bits to
// the report named by the current Report ID; going back to an earlier ID continues that report.
bool Parser::dataItem(const Item &item)
{
    const QString name = mainItemName(item.tag);
    HidMainItemFlags flags;
    flags.constant = item.data & 0x001;      // bit 0: Data(0) / Constant(1)
    flags.array = !(item.data & 0x002);      // bit 1: Array(0) / Variable(1)
    flags.relative = item.data & 0x004;      // bit 2: Absolute(0) / Relative(1)
    flags.wrap = item.data & 0x008;          // bit 3: No Wrap(0) / Wrap(1)
    flags.nonlinear = item.data & 0x010;     // bit 4: Linear(0) / Non Linear(1)
    flags.noPreferred = item.data & 0x020;   // bit 5: Preferred State(0) / No Preferred(1)
    flags.nullState = item.data & 0x040;     // bit 6: No Null position(0) / Null state(1)
    flags.bufferedBytes = item.data & 0x100; // bit 8: Bit Field(0) / Buffered Bytes(1)
    // Bit 7 is Volatile for Output and Feature items and reserved for Input items.
    flags.isVolatile = item.tag != TagInput && (item.data & 0x080);

    finishUsages();
    const bool padding = flags.constant && m_local.usages.isEmpty();

    if (!m_global.reportSizeSet || !m_global.reportCountSet) {
        // A constant item without a size fills nothing; a data item without one cannot be placed.
        if (flags.constant)
            return true;
        return fail(item.offset, QStringLiteral("%1 item before any %2")
                                     .arg(name, m_global.reportSizeSet ? QStringLiteral("Report Count")
                                                                       : QStringLiteral("Report Size")));
    }
    const qint64 bits = qint64(m_global.reportSize) * m_global.reportCount;
    if (bits == 0)
        return true;
    if (!padding && m_global.reportSize > MaxFieldBits)
        return fail(item.offset, QStringLiteral("%1 item with Report Size %2: data fields are at most %3 bits")
                                     .arg(name)
                                     .arg(m_global.reportSize)
                                     .arg(MaxFieldBits));

    const Resolved logical = resolveRange(m_global.logicalMin, m_global.logicalMax);
    const Resolved physical = resolveRange(m_global.physicalMin, m_global.physicalMax);
    if (!padding && logical.max < logical.min)
        return fail(item.offset, QStringLiteral("%1 item with Logical Maximum %2 below Logical Minimum %3")
                                     .arg(name)
                                     .arg(logical.max)
                                     .arg(logical.min));

    // A Pop can bring back the state from before the first Report ID.
    if (m_layout.usesReportIds && m_global.reportId == 0)
        return fail(item.offset, QStringLiteral("%1 item without a Report ID in a descriptor that uses them")
                                     .arg(name));

    const auto type = HidReportType(item.tag == TagInput ? 0 : item.tag == TagOutput ? 1 : 2);
    const int reportIndex = reportFor(type, m_global.reportId);
    HidReport &report = m_layout.reports[reportIndex];
    const qint64 startBit = report.sizeBits;
    if (startBit + bits > MaxReportDataBits)
        return fail(item.offset, QStringLiteral("%1 item makes report %2 longer than %3 bytes")
                                     .arg(name)
                                     .arg(m_global.reportId)
                                     .arg(MaxReportBytes));
    report.sizeBits = int(startBit + bits);
    if (m_global.reportId == 0 && m_firstUnnumberedItem < 0)
        m_firstUnnumberedItem = item.offset;
    if (padding)
        return true;

    const int count = flags.array ? 1 : int(m_global.reportCount);
    if (m_layout.variables.size() + count > MaxVariables)
        return fail(item.offset, QStringLiteral("more than %1 variables").arg(MaxVariables));

    HidVariable v;
    v.reportIndex = reportIndex;
    v.type = type;
    v.reportId = m_global.reportId;
    v.bitSize = int(m_global.reportSize);
    // A Maximum above 0x7FFFFFFF with a non-negative Minimum keeps its 32 bits, as a LONG would.
    v.logicalMin = qint32(logical.min);
    v.logicalMax = qint32(logical.max);
    v.physicalMin = qint32(physical.min);
    v.physicalMax = qint32(physical.max);
    v.unit = m_global.unit;
    v.unitExponent = m_global.unitExponent;
    v.stringIndex = m_local.stringIndex ? m_local.stringIndex : m_local.stringMinimum;
    v.flags = flags;
    v.isButton = flags.array || v.bitSize == 1;
    // Without any usage the field is usage 0 of the current page, so that a vendor field can
    // still be found by its page.
    v.usagePage = m_global.usagePage;

    if (flags.array) {
        // An array field holds indexes into its usage list; the variable names the list's start.
        if (!m_local.usages.isEmpty()) {
            v.usagePage = m_local.usages.first().page;
            v.usage = m_local.usages.first().first;
        }
        v.count = int(m_global.reportCount);
        v.bitOffset = int(startBit);
        v.index = int(m_layout.variables.size());
        m_layout.variables.append(v);
        return true;
    }

    // 6.2.2.8: with more fields than usages, the last usage applies to the remaining fields.
    qsizetype run = 0;
    quint32 inRun = 0;
    for (int k = 0; k < count; ++k) {
        if (run < m_local.usages.size()) {
            const UsageRun &u = m_local.usages[run];
            v.usagePage = u.page;
            v.usage = u.first + inRun;
            if (++inRun == u.length()) {
                inRun = 0;
                if (run + 1 < m_local.usages.size())
                    ++run;
                else
                    inRun = u.length() - 1; // stay on the last usage
            }
        }
        v.bitOffset = int(startBit + qint64(k) * v.bitSize);
        v.index = int(m_layout.variables.size());
        m_layout.variables.append(v);
    }
    return true;
}

bool Parser::globalItem(const Item &item)
{
    switch (item.tag) {
    case TagUsagePage:
        if (item.data > 0xFFFF)
            return fail(item.offset, QStringLiteral("Usage Page %1 does not fit in 16 bits").arg(hex(item.data, 8)));
        m_global.usagePage = item.data;
        break;
    case TagLogicalMinimum:
        m_global.logicalMin = RawNumber{item.data, item.size};
        break;
    case TagLogicalMaximum:
        m_global.logicalMax = RawNumber{item.data, item.size};
        break;
    case TagPhysicalMinimum:
        m_global.physicalMin = RawNumber{item.data, item.size};
        break;
    case TagPhysicalMaximum:
        m_global.physicalMax = RawNumber{item.data, item.size};
        break;
    case TagUnitExponent: {
        // 6.2.2.7: the exponent is a signed 4-bit nibble; 0x0F and 0xFF both mean -1.
        const qint32 nibble = qint32(item.data & 0x0F);
        m_global.unitExponent = nibble >= 8 ? nibble - 16 : nibble;
        break;
    }
    case TagUnit:
        m_global.unit = item.data;
        break;
    case TagReportSize:
        m_global.reportSize = item.data;
        m_global.reportSizeSet = true;
        break;
    case TagReportCount:
        if (item.data > MaxReportCount)
            return fail(item.offset,
                        QStringLiteral("Report Count %1 above the limit of %2").arg(item.data).arg(MaxReportCount));
        m_global.reportCount = item.data;
        m_global.reportCountSet = true;
        break;
    case TagReportId:
        // 6.2.2.7: ID 0 is reserved and the ID travels in one byte.
        if (item.data == 0)
            return fail(item.offset, QStringLiteral("Report ID 0 is reserved"));
        if (item.data > 255)
            return fail(item.offset, QStringLiteral("Report ID %1 does not fit in one byte").arg(item.data));
        // Once IDs are in use every report starts with one, so an earlier report without an ID
        // could not be told apart on the wire.
        if (m_firstUnnumberedItem >= 0)
            return fail(item.offset, QStringLiteral("Report ID after a data item without one (at offset %1)")
                                         .arg(m_firstUnnumberedItem));
        m_global.reportId = int(item.data);
        m_layout.usesReportIds = true;
        break;
    case TagPush:
        if (m_globalStack.size() >= MaxGlobalStackDepth)
            return fail(item.offset, QStringLiteral("Push nested deeper than %1 levels").arg(MaxGlobalStackDepth));
        m_globalStack.append(m_global);
        break;
    case TagPop:
        if (m_globalStack.isEmpty())
            return fail(item.offset, QStringLiteral("Pop without a matching Push"));
        m_global = m_globalStack.takeLast();
        break;
    default:
        break; // reserved global tags
    }
    return true;
}

bool Parser::addUsageBound(const Item &item, PendingBound &bound)
{
    bound.set = true;
    bound.offset = item.offset;
    bound.extended = item.size == 4;
    bound.id = bound.extended ? (item.data & 0xFFFF) : item.data;
    bound.page = bound.extended ? (item.data >> 16) : m_global.usagePage;
    if (m_local.usageMin.set && m_local.usageMax.set)
        return closeUsageRange(item.offset);
    return true;
}

// 6.2.2.8 Usage Minimum/Maximum: the pair stands for every usage between the two, inclusive.
bool Parser::closeUsageRange(qsizetype offset)
{
    const PendingBound min = m_local.usageMin;
    const PendingBound max = m_local.usageMax;
    m_local.usageMin = PendingBound{};
    m_local.usageMax = PendingBound{};
    quint32 page = min.page;
    if (min.extended || max.extended) {
        if (min.extended && max.extended && min.page != max.page)
            return fail(offset, QStringLiteral("Usage Minimum and Usage Maximum on different usage pages"));
        page = min.extended ? min.page : max.page;
    }
    if (max.id < min.id)
        return fail(offset, QStringLiteral("Usage Maximum %1 below Usage Minimum %2")
                                .arg(hex(max.id, 4), hex(min.id, 4)));
    m_local.usages.append(UsageRun{page, min.id, max.id, min.extended || max.extended});
    return true;
}

// Called at the main item: completes the usage list the item will use.
void Parser::finishUsages()
{
    // A lone Minimum or Maximum names just that usage.
    for (PendingBound *b : {&m_local.usageMin, &m_local.usageMax}) {
        if (b->set)
            m_local.usages.append(UsageRun{b->page, b->id, b->id, b->extended});
        *b = PendingBound{};
    }
    // 6.2.2.7: short usages take the current Usage Page. Some descriptors put the Usage Page after
    // the usages of a main item; the trailing usages declared under an older page then take the page
    // in effect at the main item, as hosts do.
    for (qsizetype i = m_local.usages.size() - 1; i >= 0; --i) {
        UsageRun &u = m_local.usages[i];
        if (u.extended)
            continue;
        if (u.page == m_global.usagePage)
            break;
        u.page = m_global.usagePage;
    }
}

bool Parser::localItem(const Item &item)
{
    switch (item.tag) {
    case TagUsage: {
        // 6.2.2.8 Delimiter: of a set of alternative usages only the first is used.
        if (m_local.delimiterDepth > 0) {
            if (m_local.delimiterUsageTaken)
                break;
            m_local.delimiterUsageTaken = true;
        }
        const bool extended = item.size == 4;
        const quint32 id = extended ? (item.data & 0xFFFF) : item.data;
        m_local.usages.append(UsageRun{extended ? item.data >> 16 : m_global.usagePage, id, id, extended});
        break;
    }
    case TagUsageMinimum:
        return addUsageBound(item, m_local.usageMin);
    case TagUsageMaximum:
        return addUsageBound(item, m_local.usageMax);
    case TagStringIndex:
        m_local.stringIndex = int(item.data & 0xFF);
        break;
    case TagStringMinimum:
        m_local.stringMinimum = int(item.data & 0xFF);
        break;
    case TagDelimiter:
        if (item.data == 1) {
            if (m_local.delimiterDepth > 0)
                return fail(item.offset, QStringLiteral("Delimiter opened inside another Delimiter set"));
            m_local.delimiterDepth = 1;
            m_local.delimiterUsageTaken = false;
        } else if (item.data == 0) {
            if (m_local.delimiterDepth == 0)
                return fail(item.offset, QStringLiteral("Delimiter closed without being opened"));
            m_local.delimiterDepth = 0;
        } else {
            return fail(item.offset, QStringLiteral("Delimiter value %1 is neither 0 nor 1").arg(item.data));
        }
        break;
    default:
        break; // designators, String Maximum and reserved tags add nothing to the layout
    }
    return true;
}

} // namespace

int HidReportLayout::findReport(HidReportType type, int id) const
{
    for (qsizetype i = 0; i < reports.size(); ++i) {
        if (reports[i].type == type && reports[i].id == id)
            return int(i);
    }
    return -1;
}

QString HidDescriptorError::toString() const
{
    return QStringLiteral("offset %1 (0x%2): %3").arg(offset).arg(offset, 4, 16, QLatin1Char('0')).arg(message);
}

HidParseResult parseReportDescriptor(QByteArrayView bytes)
{
    return Parser(bytes).run();
}

QString hidReportTypeName(HidReportType type)
{
    switch (type) {
    case HidReportType::Input:
        return QStringLiteral("Input");
    case HidReportType::Output:
        return QStringLiteral("Output");
    case HidReportType::Feature:
        return QStringLiteral("Feature");
    }
    return QString();
}
