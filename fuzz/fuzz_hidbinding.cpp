// Plugs a device with an arbitrary report descriptor into the virtual transport as an arm, lets the
// component open it and the device list bind on it, then binds a variable object to every variable
// of the layout and reads and writes each one and each report.
//
// Input: the descriptor, then the bytes the device answers reads with, then one byte giving how many
// bytes the answer takes from the end.

#include "ArmUsbIds.h"
#include "ArmDeviceList.h"
#include "HIDagentX.h"
#include "HidError.h"
#include "HidValues.h"
#include "TOneHidVar.h"
#include "TVantor.h"
#include "VirtualHidTransport.h"
#include "mdlKORIV.h"

#include <QObject>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <vector>

namespace {

// Names the broken expectation before aborting, so a crash report says what went wrong.
#define check(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "expectation failed at line %d: %s\n", __LINE__, #condition);                    \
            abort();                                                                                         \
        }                                                                                                    \
    } while (false)

// What the device answers a read of report `report` with: its ID, then the answer bytes.
QByteArray answer(const HidReport &report, const QByteArray &payload)
{
    return char(report.id) + payload.left((report.sizeBits + 7) / 8);
}

void exerciseVariable(HIDagentX &agent, VirtualHidInterface &device, const HidReportLayout &layout,
                      const HidVariable &v, const QByteArray &payload)
{
    TOneHidVar var;
    var.DoCreate(qint32(v.type), qint32(v.usagePage), qint32(v.usage), 1, QStringLiteral("V"));
    // Every variable of the layout can be found by its usage and report type.
    check(var.Bind(&agent));
    check(var.IsBound() && var.VarIndex() >= 0 && var.VarIndex() < agent.VarCount());
    check(var.RptIndex() >= 0 && var.RptIndex() < agent.RptCount());
    // FindVar picks the first variable with this usage and type, which may be an earlier one.
    const HidVariable &bound = layout.variables[var.VarIndex()];
    check(bound.index <= v.index && bound.type == v.type && bound.usagePage == v.usagePage &&
          bound.usage == v.usage);
    check(var.LogicalMinimum() == bound.logicalMin && var.LogicalMaximum() == bound.logicalMax);
    const HidReport &report = layout.reports[bound.reportIndex];

    for (const double value : {double(bound.logicalMin), double(bound.logicalMax), 0.0, 1.0, -1.0}) {
        bool stored = false;
        try {
            var.SetUnScaledValue(value);
            stored = true;
        } catch (const HidError &) {
        }
        if (stored) {
            const qint32 back = var.UnScaledValue();
            // The field keeps the low bitSize bits; an unsigned field of 32 bits reads back as the same bits.
            const qint64 mask = bound.bitSize >= 32 ? -1 : (qint64(1) << bound.bitSize) - 1;
            check((qint64(back) & mask) == (qint64(value) & mask));
        }
        try {
            (void)var.ScaledValue();
        } catch (const HidError &) {
        }
    }

    const int before = int(device.written.size());
    if (report.type == HidReportType::Input) {
        device.queueInputReport(answer(report, payload));
        check(var.Update(true));
        const QByteArray data = payload.left((report.sizeBits + 7) / 8);
        const qint64 expected = HidValues::getRaw(data, bound.bitOffset, bound.bitSize, bound.isSigned());
        check(var.UnScaledValue() == qint32(quint32(expected)));
    } else if (report.type == HidReportType::Output) {
        check(var.Update(false));
        check(device.written.size() == before + 1);
        const QByteArray &sent = device.written.last().bytes;
        check(sent.size() == 1 + (report.sizeBits + 7) / 8 && quint8(sent.at(0)) == report.id);
        const qint64 field = HidValues::getRaw(QByteArrayView(sent).sliced(1), bound.bitOffset, bound.bitSize,
                                               bound.isSigned());
        check(qint32(quint32(field)) == var.UnScaledValue());
    } else {
        check(var.Update(false));
        check(device.written.size() == before + 1);
        device.setFeatureReport(answer(report, payload));
        check(var.Update(true));
    }
    var.UnBind();
    check(!var.IsBound());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t answerSize = std::min<size_t>(data[size - 1], size - 1);
    const size_t descriptorSize = size - 1 - answerSize;
    const QByteArray descriptor(reinterpret_cast<const char *>(data), qsizetype(descriptorSize));
    const QByteArray payload(reinterpret_cast<const char *>(data) + descriptorSize, qsizetype(answerSize));

    const HidParseResult parsed = parseReportDescriptor(descriptor);
    mdlKORIV::SetClassDebugCounterForTest(0);

    VirtualHidTransport transport;
    HIDagentX agent(&transport);
    QObject window;
    ArmDeviceList devices(agent, &window);
    QObject::connect(&agent, &HIDagentX::OnIntfOpened, &window, [&] {
        try {
            devices.OnIntfOpened();
        } catch (const std::exception &) {
        }
    });
    QObject::connect(&agent, &HIDagentX::OnIntfClosed, &window,
                     [&](int still, const QString &name, int handle) {
                         try {
                             devices.OnIntfClosed(still, name, handle);
                         } catch (const std::exception &) {
                         }
                     });
    VirtualHidInterface *device =
        transport.addInterface(VirtualHidTransport::armInfo(QStringLiteral("virtual/fuzz")), descriptor);
    agent.StartAgent();
    agent.SetVID_To_Match(ArmUsbIds::HidVendorId);
    agent.SetSearchOnVID(true);
    const bool opened = agent.OpenMatchingIntfs();
    check(opened == parsed.ok());
    check(agent.IntfCount() == (parsed.ok() ? 1 : 0));
    if (!parsed.ok()) {
        check(devices.Count() == 0 && agent.LastOpenFailures().size() == 1);
        return 0;
    }
    const HidReportLayout &layout = *parsed.layout;
    check(agent.VarCount() == layout.variables.size() && agent.RptCount() == layout.reports.size());

    // The device list binds the arm's variables where the layout has them.
    check(devices.Count() == 1);
    TVantor &arm = *devices.Item(1);
    check(arm.UnboundVarCount() >= 0 && arm.UnboundVarCount() <= TVantor::SlotCount);
    bool boundAny = false;
    for (const TVantor::VarRef &var : arm.VarSlots())
        boundAny = boundAny || var->IsBound();
    const int before = int(device->written.size());
    // A code the variable refuses is not sent at all: a report carrying the previous code would lie.
    const bool sent = devices.SendToAll(5);
    check(!sent || arm.RptIndexB() >= 0);
    check(int(device->written.size()) == before + (sent ? 1 : 0));
    if (arm.RptIndexA() >= 0) {
        device->queueInputReport(answer(layout.reports[arm.RptIndexA()], payload));
        check(arm.ReadAllReports());
    }

    // A descriptor may declare thousands of variables; the first and last few take every path the
    // rest would, at a fraction of the time.
    constexpr qsizetype Ends = 24;
    for (qsizetype i = 0; i < layout.variables.size(); ++i) {
        if (i < Ends || i >= layout.variables.size() - Ends)
            exerciseVariable(agent, *device, layout, layout.variables[i], payload);
    }

    transport.unplug(device->info.path);
    check(agent.IntfCount() == 0 && !device->isOpen());
    // An object that bound nothing holds no handle, so no close ever finds it: it stays.
    check(devices.Count() == (boundAny ? 0 : 1));
    agent.StopAgent();
    return 0;
}
