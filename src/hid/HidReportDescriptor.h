#pragma once

// Report-descriptor parsing: a pure function from the bytes a device sends to the table of its
// reports and variables, or to an error naming the offending byte. The bytes come from the device,
// so they are treated as untrusted input: every size is bounded before anything is allocated.

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

enum class HidReportType : int { Input = 0, Output = 1, Feature = 2 };

// Bits of the Input/Output/Feature item data (HID 1.11, 6.2.2.5).
struct HidMainItemFlags
{
    bool constant = false, array = false, relative = false, wrap = false, nonlinear = false,
         noPreferred = false, nullState = false, isVolatile = false, bufferedBytes = false;
};

// One entry of the variable list, in the order the items appear in the descriptor.
struct HidVariable
{
    int index = -1;       // position in HidReportLayout::variables
    int reportIndex = -1; // position in HidReportLayout::reports
    HidReportType type = HidReportType::Input;
    int reportId = 0; // 0 when the descriptor has no report IDs
    quint32 usagePage = 0, usage = 0;
    int bitOffset = 0; // counted from the first bit after the report-ID byte
    int bitSize = 0;
    int count = 1; // Report Count for an array item, 1 for a variable
    // A Maximum is signed only when its Minimum is negative; otherwise read it as quint32 (a field
    // of 0..0xFFFFFFFF keeps logicalMax == -1 here). Physical limits both 0 mean "as logical".
    qint32 logicalMin = 0, logicalMax = 0, physicalMin = 0, physicalMax = 0;
    quint32 unit = 0;
    qint32 unitExponent = 0;
    int stringIndex = 0; // String Index local item, 0 when none
    bool isButton = false;
    HidMainItemFlags flags;
    bool isSigned() const { return logicalMin < 0; }
};

struct HidReport
{
    HidReportType type = HidReportType::Input;
    int id = 0;
    int sizeBits = 0;  // data bits after the ID byte
    int sizeBytes = 0; // bytes on the wire incl. the ID byte when IDs are used
};

struct HidReportLayout
{
    bool usesReportIds = false;
    QList<HidReport> reports; // in order of first appearance
    QList<HidVariable> variables;
    // The usage of each top-level Application collection (page in the high 16 bits), in order: what
    // the device says it is (0x00010005 a game pad, 0x00010002 a mouse).
    QList<quint32> applications;
    int findReport(HidReportType type, int id) const; // -1 when absent
};

struct HidDescriptorError
{
    qsizetype offset = 0; // byte offset of the item at fault
    QString message;
    QString toString() const;
};

struct HidParseResult
{
    std::optional<HidReportLayout> layout;
    HidDescriptorError error;
    bool ok() const { return layout.has_value(); }
};

HidParseResult parseReportDescriptor(QByteArrayView bytes);

QString hidReportTypeName(HidReportType type); // "Input", "Output" or "Feature"
