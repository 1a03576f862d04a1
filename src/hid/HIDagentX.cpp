#include "HIDagentX.h"

#include "ProcessClock.h"

#include "HidValues.h"

#include <QSet>

#include <cmath>
#include <limits>
#include <utility>

namespace {

QString src(const char *member)
{
    return QStringLiteral("HIDagentX:%1").arg(QLatin1String(member));
}

[[noreturn]] void raise(HIDagentX::Error number, const char *member, const QString &description)
{
    throw HidError(number, src(member), description);
}

// Every handler's outcome is accepted, failures included: one bad handler must not stop the agent
// half-way through opening or closing interfaces.
// How long closing waits for the last reports to go out.
constexpr int StopDrainMs = 250;

// Whether a raw value fits the variable: its width, and its logical range where it has a usable one.
bool fitsVariable(const HidVariable &v, qint64 raw)
{
    const int bits = qBound(1, v.bitSize, 32);
    const qint64 lowest = v.isSigned() ? -(qint64(1) << (bits - 1)) : 0;
    const qint64 highest = v.isSigned() ? (qint64(1) << (bits - 1)) - 1 : (qint64(1) << bits) - 1;
    if (raw < lowest || raw > highest)
        return false;
    return v.logicalMin >= v.logicalMax || (raw >= v.logicalMin && raw <= v.logicalMax);
}

template <typename Emit> void deliver(Emit &&emitEvent)
{
    try {
        emitEvent();
    } catch (...) {
    }
}

} // namespace

struct HIDagentX::Private
{
    struct Intf
    {
        HidInterfaceInfo info;
        std::unique_ptr<HidConnection> connection;
        HidReportLayout layout;
        qint32 handle = 0;
        QList<QByteArray> buffers; // per report, the data after the ID byte
        QStringList varNames;
        QList<int> scaleModes;
        int firstRpt = 0; // AllRptIndex of its first report
        int firstVar = 0; // AllVarIndex of its first variable
    };
    struct Ref
    {
        Intf *intf = nullptr;
        int local = -1;
    };

    mutable std::recursive_mutex mutex;
    HidTransport *transport = nullptr;
    QString logFile;
    bool logging = false;
    int timeOut = 3000;
    bool showOperations = false;
    bool verbose = false;
    int vidToMatch = 0;
    int pidToMatch = 0;
    bool searchOnVid = false;
    bool searchOnPid = false;
    QList<quint32> applicationsToMatch;
    bool started = false;

    std::vector<std::unique_ptr<Intf>> intfs; // opening order
    QList<Ref> allRpts;
    QList<Ref> allVars;
    qint32 currentHandle = 0; // 0: none
    int currentVar = -1;
    int currentRpt = -1;
    qint32 lastHandle = 0;
    QSet<QString> deniedReported;
    QList<OpenFailure> failures;
    QString lastIoError;
    bool lastIoGone = false; // the last failed transfer found its device gone
    QList<int> goneHandles; // failed for good, to be closed on the agent's thread
    // Stalled, told from a writer's thread, to be closed on the agent's.
    std::mutex stalledLock;
    QList<int> stalledHandles;

    // True when no applications are asked for, or the layout's top level names one of them.
    bool wantsApplications(const HidReportLayout &layout) const
    {
        if (applicationsToMatch.isEmpty())
            return true;
        for (quint32 usage : layout.applications) {
            if (applicationsToMatch.contains(usage))
                return true;
        }
        return false;
    }

    bool matches(const HidInterfaceInfo &info) const
    {
        if (searchOnVid && info.vendorId != vidToMatch)
            return false;
        if (searchOnPid && info.productId != pidToMatch)
            return false;
        return true;
    }

    int indexOfPath(const QString &path) const
    {
        for (size_t i = 0; i < intfs.size(); ++i) {
            if (intfs[i]->info.path == path)
                return int(i);
        }
        return -1;
    }

    int indexOfHandle(qint32 handle) const
    {
        for (size_t i = 0; i < intfs.size(); ++i) {
            if (intfs[i]->handle == handle)
                return int(i);
        }
        return -1;
    }

    // Renumbers the global lists after an interface came or went. The current report and variable
    // follow their interface when it is still open. Called while a closed interface's object still
    // exists, so its address cannot have been taken by a newer one.
    void rebuild()
    {
        const Ref oldVar = currentVar >= 0 ? allVars.value(currentVar) : Ref{};
        const Ref oldRpt = currentRpt >= 0 ? allRpts.value(currentRpt) : Ref{};
        allRpts.clear();
        allVars.clear();
        currentVar = -1;
        currentRpt = -1;
        for (const auto &owned : intfs) {
            Intf *intf = owned.get();
            intf->firstRpt = int(allRpts.size());
            intf->firstVar = int(allVars.size());
            for (int r = 0; r < intf->layout.reports.size(); ++r) {
                if (intf == oldRpt.intf && r == oldRpt.local)
                    currentRpt = int(allRpts.size());
                allRpts.append(Ref{intf, r});
            }
            for (int v = 0; v < intf->layout.variables.size(); ++v) {
                if (intf == oldVar.intf && v == oldVar.local)
                    currentVar = int(allVars.size());
                allVars.append(Ref{intf, v});
            }
        }
        if (indexOfHandle(currentHandle) < 0)
            currentHandle = 0;
    }

    Intf &currentIntf(const char *member)
    {
        const int i = indexOfHandle(currentHandle);
        if (currentHandle == 0 || i < 0)
            raise(NoCurrentIntf, member, QStringLiteral("No interface is selected"));
        return *intfs[size_t(i)];
    }

    const Ref &var(int allVarIndex, const char *member) const
    {
        if (allVarIndex < 0 || allVarIndex >= allVars.size())
            raise(BadVarIndex, member, QStringLiteral("Variable index %1 is out of range").arg(allVarIndex));
        return allVars[allVarIndex];
    }

    const HidVariable &variable(const Ref &r) const { return r.intf->layout.variables[r.local]; }

    const HidVariable &current(const char *member) const
    {
        if (currentVar < 0)
            raise(NoCurrentVar, member, QStringLiteral("No variable is selected"));
        return variable(allVars[currentVar]);
    }

    const Ref &rpt(int rptIndex, const char *member) const
    {
        if (rptIndex < 0 || rptIndex >= allRpts.size())
            raise(BadRptIndex, member, QStringLiteral("Report index %1 is out of range").arg(rptIndex));
        return allRpts[rptIndex];
    }

    const Ref &currentReport(const char *member) const
    {
        if (currentRpt < 0)
            raise(NoCurrentRpt, member, QStringLiteral("No report is selected"));
        return allRpts[currentRpt];
    }

    void requireStarted(const char *member) const
    {
        if (!started)
            raise(NotStarted, member, QStringLiteral("The agent has not been started"));
    }
};

HIDagentX::HIDagentX(HidTransport *transport, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->transport = transport;
    connect(transport, &HidTransport::interfaceArrived, this, [this](const HidInterfaceInfo &info) {
        const auto guard = lock();
        if (!d->started)
            return;
        // A new device under the path of one still open: that one went without a word and its handle
        // is dead.
        const int stale = d->indexOfPath(info.path);
        if (stale >= 0)
            closeInterface(stale);
        const QString name = info.deviceName();
        deliver([&] { Q_EMIT OnDeviceArrival(0, name); });
    });
    connect(transport, &HidTransport::interfaceRemoved, this, [this](const HidInterfaceInfo &info) {
        const auto guard = lock();
        if (!d->started)
            return;
        // A replugged arm that is still refused is worth telling about again.
        d->deniedReported.remove(info.path);
        const int i = d->indexOfPath(info.path);
        if (i >= 0)
            closeInterface(i);
        const QString name = info.deviceName();
        deliver([&] { Q_EMIT OnDeviceRemoval(0, name); });
    });
}

HIDagentX::~HIDagentX()
{
    // No events from a dying object: the receivers may be half destroyed already.
    blockSignals(true);
    if (d->started)
        d->transport->stopMonitoring();
}

std::unique_lock<std::recursive_mutex> HIDagentX::lock() const
{
    return std::unique_lock<std::recursive_mutex>(d->mutex);
}

QString HIDagentX::LogFile() const
{
    return d->logFile;
}
void HIDagentX::SetLogFile(const QString &path)
{
    d->logFile = path;
}
bool HIDagentX::Logging() const
{
    return d->logging;
}
void HIDagentX::SetLogging(bool on)
{
    d->logging = on;
}
int HIDagentX::TimeOut() const
{
    return d->timeOut;
}
void HIDagentX::SetTimeOut(int milliseconds)
{
    d->timeOut = qMax(0, milliseconds);
}
bool HIDagentX::ShowOperations() const
{
    return d->showOperations;
}
void HIDagentX::SetShowOperations(bool on)
{
    d->showOperations = on;
}
bool HIDagentX::Verbose() const
{
    return d->verbose;
}
void HIDagentX::SetVerbose(bool on)
{
    d->verbose = on;
}
int HIDagentX::VID_To_Match() const
{
    return d->vidToMatch;
}
void HIDagentX::SetVID_To_Match(int vid)
{
    d->vidToMatch = vid;
}
int HIDagentX::PID_To_Match() const
{
    return d->pidToMatch;
}
void HIDagentX::SetPID_To_Match(int pid)
{
    d->pidToMatch = pid;
}
bool HIDagentX::SearchOnVID() const
{
    return d->searchOnVid;
}
void HIDagentX::SetSearchOnVID(bool on)
{
    d->searchOnVid = on;
}
QList<quint32> HIDagentX::ApplicationsToMatch() const
{
    return d->applicationsToMatch;
}

void HIDagentX::SetApplicationsToMatch(const QList<quint32> &usages)
{
    d->applicationsToMatch = usages;
}

bool HIDagentX::SearchOnPID() const
{
    return d->searchOnPid;
}
void HIDagentX::SetSearchOnPID(bool on)
{
    d->searchOnPid = on;
}

void HIDagentX::StartAgent()
{
    const auto guard = lock();
    if (d->started)
        return;
    d->started = true;
    // Without hot-plug the agent still works; arrivals and removals just go unnoticed.
    d->transport->startMonitoring();
}

void HIDagentX::StopAgent()
{
    const auto guard = lock();
    if (!d->started)
        return;
    // The last reports asked for (a stop, as a rule) go out before their interfaces close, unless a
    // device does not take them within the bound; its writer then finishes them as it can.
    const qint64 deadline = ProcessClock::monotonicNs() + qint64(StopDrainMs) * 1'000'000;
    for (const auto &intf : d->intfs)
        intf->connection->drain(deadline);
    while (!d->intfs.empty())
        closeInterface(int(d->intfs.size()) - 1);
    d->transport->stopMonitoring();
    d->started = false;
}

bool HIDagentX::IsStarted() const
{
    return d->started;
}

bool HIDagentX::OpenMatchingIntfs()
{
    const auto guard = lock();
    d->requireStarted("OpenMatchingIntfs");
    d->failures.clear();
    const QList<HidInterfaceInfo> present = d->transport->enumerate();
    for (const HidInterfaceInfo &info : present) {
        if (!d->matches(info) || d->indexOfPath(info.path) >= 0)
            continue;
        std::unique_ptr<HidConnection> connection = openOfTheKind(info);
        if (!connection)
            continue;
        addInterface(info, std::move(connection));
        // A handler may have stopped the agent.
        if (!d->started)
            break;
    }
    for (const auto &intf : d->intfs) {
        if (d->matches(intf->info))
            return true;
    }
    return false;
}

std::unique_ptr<HidConnection> HIDagentX::openOfTheKind(const HidInterfaceInfo &info)
{
    // Looking for a kind of device: the others are not opened at all where their descriptor can be read
    // without it, and a refusal is only news when the device is known to be of the kind.
    bool ofTheKind = d->applicationsToMatch.isEmpty();
    const QByteArray peekedBytes = ofTheKind ? QByteArray() : d->transport->peekReportDescriptor(info);
    if (!peekedBytes.isEmpty()) {
        // An empty descriptor would parse as a layout with nothing in it: that is "cannot tell".
        const HidParseResult peeked = parseReportDescriptor(peekedBytes);
        if (peeked.ok()) {
            if (!d->wantsApplications(*peeked.layout))
                return nullptr;
            ofTheKind = true;
        }
    }
    QString error;
    HidTransport::OpenFailure failure = HidTransport::OpenFailure::None;
    std::unique_ptr<HidConnection> connection = d->transport->open(info, &error, &failure);
    if (connection)
        return connection;
    if (failure == HidTransport::OpenFailure::None)
        failure = HidTransport::OpenFailure::Other;
    d->failures.append(OpenFailure{info, failure, error});
    if (failure == HidTransport::OpenFailure::PermissionDenied && ofTheKind && !d->deniedReported.contains(info.path)) {
        d->deniedReported.insert(info.path);
        deliver([&] { Q_EMIT OnOpenDenied(info, error); });
    }
    return nullptr;
}

void HIDagentX::addInterface(const HidInterfaceInfo &info, std::unique_ptr<HidConnection> connection)
{
    const HidParseResult parsed = parseReportDescriptor(connection->reportDescriptor());
    if (!parsed.ok()) {
        d->failures.append(OpenFailure{info, HidTransport::OpenFailure::None,
                                       QStringLiteral("report descriptor refused: %1").arg(parsed.error.toString())});
        return;
    }
    // Not one of ours: not a failure either, it just is some other kind of device.
    if (!d->wantsApplications(*parsed.layout))
        return;
    if (d->lastHandle == std::numeric_limits<qint32>::max())
        raise(HandlesExhausted, "OpenMatchingIntfs", QStringLiteral("No handle left"));

    auto intf = std::make_unique<Private::Intf>();
    intf->info = info;
    intf->connection = std::move(connection);
    intf->layout = *parsed.layout;
    intf->handle = ++d->lastHandle;
    for (const HidReport &r : intf->layout.reports)
        intf->buffers.append(QByteArray((r.sizeBits + 7) / 8, '\0'));
    for (qsizetype v = 0; v < intf->layout.variables.size(); ++v) {
        intf->varNames.append(QString());
        intf->scaleModes.append(0);
    }
    const qint32 handle = intf->handle;
    // Told on the writer's own thread: the interface is given up on the agent's.
    intf->connection->setStallHandler([this, handle] {
        {
            const std::lock_guard<std::mutex> guard(d->stalledLock);
            d->stalledHandles.append(handle);
        }
        // By name: the handle goes through the mutex, the queued call carries no data of its own.
        QMetaObject::invokeMethod(this, "closeStalledInterfaces", Qt::QueuedConnection);
    });
    const qint32 vidPid = qint32((quint32(info.vendorId) << 16) | info.productId);
    const QString name = info.deviceName();
    d->intfs.push_back(std::move(intf));
    d->rebuild();
    const int index = int(d->intfs.size()) - 1;
    deliver([&] { Q_EMIT OnIntfOpened(index, handle, vidPid, name); });
}

QList<HIDagentX::OpenFailure> HIDagentX::LastOpenFailures() const
{
    return d->failures;
}

void HIDagentX::closeInterface(int index)
{
    std::unique_ptr<Private::Intf> gone = std::move(d->intfs[size_t(index)]);
    d->intfs.erase(d->intfs.begin() + index);
    d->rebuild();
    gone->connection.reset();
    const int stillOpen = int(d->intfs.size());
    const QString name = gone->info.deviceName();
    const qint32 handle = gone->handle;
    deliver([&] { Q_EMIT OnIntfClosed(stillOpen, name, handle); });
}

int HIDagentX::IntfCount() const
{
    return int(d->intfs.size());
}

int HIDagentX::SelectIntf(int index)
{
    if (index < 0 || index >= IntfCount())
        raise(BadIntfIndex, "SelectIntf", QStringLiteral("Interface index %1 is out of range").arg(index));
    d->currentHandle = d->intfs[size_t(index)]->handle;
    return d->currentHandle;
}

void HIDagentX::SelectIntfByHandle(int handle)
{
    if (handle == 0 || d->indexOfHandle(handle) < 0)
        raise(BadHandle, "SelectIntfByHandle", QStringLiteral("No open interface has handle %1").arg(handle));
    d->currentHandle = handle;
}

int HIDagentX::IntfHandle() const
{
    return d->currentIntf("IntfHandle").handle;
}
int HIDagentX::IntfVID() const
{
    return d->currentIntf("IntfVID").info.vendorId;
}
int HIDagentX::IntfPID() const
{
    return d->currentIntf("IntfPID").info.productId;
}
QString HIDagentX::IntfName() const
{
    return d->currentIntf("IntfName").info.deviceName();
}
const HidInterfaceInfo &HIDagentX::IntfInfo() const
{
    return d->currentIntf("IntfInfo").info;
}
const HidInterfaceInfo &HIDagentX::IntfInfoAt(int index) const
{
    if (index < 0 || index >= IntfCount())
        raise(BadIntfIndex, "IntfInfoAt", QStringLiteral("Interface index %1 is out of range").arg(index));
    return d->intfs[size_t(index)]->info;
}
const HidReportLayout &HIDagentX::IntfLayout() const
{
    return d->currentIntf("IntfLayout").layout;
}

int HIDagentX::FindVar(int usagePage, int usage, int rptType, bool)
{
    const Private::Intf &intf = d->currentIntf("FindVar");
    for (int v = 0; v < intf.layout.variables.size(); ++v) {
        const HidVariable &var = intf.layout.variables[v];
        if (int(var.type) == rptType && var.usagePage == quint32(usagePage) && var.usage == quint32(usage))
            return intf.firstVar + v;
    }
    return -1;
}

int HIDagentX::VarCount() const
{
    return int(d->allVars.size());
}

void HIDagentX::SelectVar(int allVarIndex)
{
    d->var(allVarIndex, "SelectVar");
    d->currentVar = allVarIndex;
}

int HIDagentX::CurrentVar() const
{
    return d->currentVar;
}

bool HIDagentX::AbsoluteNotRelative() const
{
    return !d->current("AbsoluteNotRelative").flags.relative;
}
bool HIDagentX::ArrayNotVariable() const
{
    return d->current("ArrayNotVariable").flags.array;
}
bool HIDagentX::BitsNotBuffer() const
{
    return !d->current("BitsNotBuffer").flags.bufferedBytes;
}
bool HIDagentX::HasNullState() const
{
    return d->current("HasNullState").flags.nullState;
}
bool HIDagentX::Linear() const
{
    return !d->current("Linear").flags.nonlinear;
}
bool HIDagentX::NoPrefState() const
{
    return d->current("NoPrefState").flags.noPreferred;
}
bool HIDagentX::NoWrap() const
{
    return !d->current("NoWrap").flags.wrap;
}
bool HIDagentX::Volatile() const
{
    return d->current("Volatile").flags.isVolatile;
}
int HIDagentX::LogicalMinimum() const
{
    return d->current("LogicalMinimum").logicalMin;
}
int HIDagentX::LogicalMaximum() const
{
    return d->current("LogicalMaximum").logicalMax;
}
int HIDagentX::PhysicalMinimum() const
{
    return d->current("PhysicalMinimum").physicalMin;
}
int HIDagentX::PhysicalMaximum() const
{
    return d->current("PhysicalMaximum").physicalMax;
}

int HIDagentX::SizeInBits() const
{
    const HidVariable &v = d->current("SizeInBits");
    return v.bitSize * qMax(1, v.count);
}

QString HIDagentX::StringDescriptor() const
{
    const HidVariable &v = d->current("StringDescriptor");
    if (v.stringIndex <= 0)
        return QString();
    return d->allVars[d->currentVar].intf->connection->indexedString(v.stringIndex);
}

int HIDagentX::ScaleMode() const
{
    d->current("ScaleMode");
    const Private::Ref &r = d->allVars[d->currentVar];
    return r.intf->scaleModes[r.local];
}

void HIDagentX::SetScaleMode(int mode)
{
    d->current("ScaleMode");
    if (mode < 0 || mode > 2)
        raise(BadScaleMode, "ScaleMode", QStringLiteral("Scale mode %1 is not 0, 1 or 2").arg(mode));
    const Private::Ref &r = d->allVars[d->currentVar];
    r.intf->scaleModes[r.local] = mode;
}

bool HIDagentX::VarIsButton(int allVarIndex) const
{
    return d->variable(d->var(allVarIndex, "VarIsButton")).isButton;
}

int HIDagentX::VarRptIndex(int allVarIndex) const
{
    const Private::Ref &r = d->var(allVarIndex, "VarRptIndex");
    return r.intf->firstRpt + d->variable(r).reportIndex;
}

void HIDagentX::SetVarName(int allVarIndex, const QString &name)
{
    const Private::Ref &r = d->var(allVarIndex, "VarName");
    r.intf->varNames[r.local] = name;
}

QString HIDagentX::VarName(int allVarIndex) const
{
    const Private::Ref &r = d->var(allVarIndex, "VarName");
    return r.intf->varNames[r.local];
}

int HIDagentX::VarUnScaledValue(int allVarIndex) const
{
    const Private::Ref &r = d->var(allVarIndex, "VarUnScaledValue");
    const HidVariable &v = d->variable(r);
    const QByteArray &buffer = r.intf->buffers[v.reportIndex];
    // A 32-bit unsigned field above 0x7FFFFFFF reads back as the same bits, like the Long it goes into.
    return qint32(quint32(HidValues::getRaw(buffer, v.bitOffset, v.bitSize, v.isSigned())));
}

int HIDagentX::VarScaledValue(int allVarIndex) const
{
    const Private::Ref &r = d->var(allVarIndex, "VarScaledValue");
    const HidValues::Result scaled = HidValues::toScaled(d->variable(r), VarUnScaledValue(allVarIndex));
    if (!scaled.ok)
        raise(ScalingFailed, "VarScaledValue", scaled.error);
    return scaled.value;
}

void HIDagentX::SetVarUnScaledValue(int allVarIndex, double value)
{
    const Private::Ref &r = d->var(allVarIndex, "VarUnScaledValue");
    if (!std::isfinite(value) || value < -2147483648.5 || value >= 2147483647.5)
        throw HidError::overflow(src("VarUnScaledValue"));
    // Rounding half to even, as an assignment to a Long does.
    const qint64 raw = qint64(std::nearbyint(value));
    const HidVariable &v = d->variable(r);
    if (!fitsVariable(v, raw))
        raise(ValueOutOfRange, "VarUnScaledValue",
              QStringLiteral("%1 does not fit variable %2 (logical %3..%4, %5 bits)")
                  .arg(raw)
                  .arg(allVarIndex)
                  .arg(v.logicalMin)
                  .arg(v.logicalMax)
                  .arg(v.bitSize));
    QByteArray &buffer = r.intf->buffers[v.reportIndex];
    if (!HidValues::setRaw(buffer, v.bitOffset, v.bitSize, raw))
        raise(ValueOutOfRange, "VarUnScaledValue",
              QStringLiteral("Variable %1 lies outside its report").arg(allVarIndex));
}

QByteArray HIDagentX::ReportWithValue(int allVarIndex, qint64 value, QString *intfPath, bool *usesReportIds) const
{
    const auto guard = lock();
    if (allVarIndex < 0 || allVarIndex >= d->allVars.size())
        return QByteArray();
    const Private::Ref &r = d->allVars[allVarIndex];
    const HidVariable &v = d->variable(r);
    if (!fitsVariable(v, value))
        return QByteArray();
    QByteArray buffer = r.intf->buffers.value(v.reportIndex);
    if (!HidValues::setRaw(buffer, v.bitOffset, v.bitSize, value))
        return QByteArray();
    if (intfPath)
        *intfPath = r.intf->info.path;
    if (usesReportIds)
        *usesReportIds = r.intf->layout.usesReportIds;
    return char(r.intf->layout.reports[v.reportIndex].id) + buffer;
}

void HIDagentX::SetVarScaledValue(int allVarIndex, int value)
{
    const Private::Ref &r = d->var(allVarIndex, "VarScaledValue");
    const HidValues::Result raw = HidValues::fromScaled(d->variable(r), value);
    if (!raw.ok)
        raise(ScalingFailed, "VarScaledValue", raw.error);
    SetVarUnScaledValue(allVarIndex, raw.value);
}

int HIDagentX::RptCount() const
{
    return int(d->allRpts.size());
}

void HIDagentX::SelectRpt(int rptIndex)
{
    d->rpt(rptIndex, "SelectRpt");
    d->currentRpt = rptIndex;
}

int HIDagentX::CurrentRptNum() const
{
    return d->currentRpt;
}

void HIDagentX::SetCurrentRptNum(int rptIndex)
{
    d->rpt(rptIndex, "CurrentRptNum");
    d->currentRpt = rptIndex;
}

bool HIDagentX::ReadRpt()
{
    const auto guard = lock();
    const Private::Ref r = d->currentReport("ReadRpt");
    const int allRptIndex = d->currentRpt;
    Private::Intf &intf = *r.intf;
    const HidReport &report = intf.layout.reports[r.local];
    QByteArray wire(1 + intf.buffers[r.local].size(), '\0');
    wire[0] = char(report.id);
    QString error;
    bool ok = false;
    switch (report.type) {
    case HidReportType::Input:
        ok = intf.connection->readInputReport(wire, d->timeOut, &error);
        break;
    case HidReportType::Feature:
        ok = intf.connection->getFeatureReport(wire, &error);
        break;
    case HidReportType::Output:
        d->lastIoError = QStringLiteral("an output report cannot be read");
        d->lastIoGone = false;
        return false; // an output report cannot be read back from the device
    }
    if (!ok || wire.isEmpty() || quint8(wire.at(0)) != report.id) {
        d->lastIoError = ok ? QStringLiteral("report %1 answered with another report").arg(report.id) : error;
        d->lastIoGone = false;
        if (!ok)
            noteFailedTransfer(intf.handle, *intf.connection);
        return false;
    }
    d->lastIoError.clear();
    d->lastIoGone = false;
    QByteArray &buffer = intf.buffers[r.local];
    const QByteArray data = wire.mid(1, buffer.size());
    buffer.fill('\0');
    buffer.replace(0, data.size(), data);
    deliver([&] { Q_EMIT OnRptArrived(r.local, allRptIndex); });
    return true;
}

bool HIDagentX::WriteRpt()
{
    const auto guard = lock();
    const Private::Ref r = d->currentReport("WriteRpt");
    Private::Intf &intf = *r.intf;
    const HidReport &report = intf.layout.reports[r.local];
    const QByteArray wire = char(report.id) + intf.buffers[r.local];
    QString error;
    bool ok = false;
    switch (report.type) {
    case HidReportType::Output:
        ok = intf.connection->writeOutputReport(wire, &error);
        break;
    case HidReportType::Feature:
        ok = intf.connection->sendFeatureReport(wire, &error);
        break;
    case HidReportType::Input:
        error = QStringLiteral("an input report cannot be written");
        break;
    }
    d->lastIoError = ok ? QString() : error;
    d->lastIoGone = false;
    if (!ok)
        noteFailedTransfer(intf.handle, *intf.connection);
    return ok;
}

QString HIDagentX::LastIoError() const
{
    return d->lastIoError;
}

bool HIDagentX::LastIoDeviceGone() const
{
    return d->lastIoGone;
}

void HIDagentX::noteFailedTransfer(int handle, const HidConnection &connection)
{
    d->lastIoGone = connection.deviceGone();
    if (!d->lastIoGone)
        return;
    // Called under the lock, perhaps on another thread: the handle waits in a list the lock guards, and
    // the queued call carries no data of its own.
    d->goneHandles.append(handle);
    QMetaObject::invokeMethod(this, "closeGoneInterfaces", Qt::QueuedConnection);
}

void HIDagentX::closeGoneInterfaces()
{
    const auto guard = lock();
    const QList<int> handles = std::exchange(d->goneHandles, {});
    for (const int handle : handles)
        closeGone(handle);
}

void HIDagentX::closeStalledInterfaces()
{
    QList<int> handles;
    {
        const std::lock_guard<std::mutex> guard(d->stalledLock);
        handles = std::exchange(d->stalledHandles, {});
    }
    for (const int handle : handles)
        closeStalled(handle);
}

void HIDagentX::closeStalled(int handle)
{
    const auto guard = lock();
    const int i = d->indexOfHandle(handle);
    if (!d->started || i < 0)
        return;
    const QString name = d->intfs[size_t(i)]->info.deviceName();
    // Told while the interface is still open, so that a handler can still hand it a last report (a
    // stop) to go out should the device ever take the one it is stuck on.
    deliver([&] { Q_EMIT OnWriteStalled(handle, name); });
    closeGone(handle);
}

void HIDagentX::closeGone(int handle)
{
    const int i = d->indexOfHandle(handle);
    if (!d->started || i < 0)
        return;
    const HidInterfaceInfo info = d->intfs[size_t(i)]->info;
    closeInterface(i);
    const QString name = info.deviceName();
    deliver([&] { Q_EMIT OnDeviceRemoval(0, name); });
}
