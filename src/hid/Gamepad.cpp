#include "Gamepad.h"

#include "HidError.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

constexpr quint32 GenericDesktop = 0x01;
constexpr quint32 ButtonPage = 0x09;
constexpr quint32 UsageX = 0x30, UsageY = 0x31, UsageRy = 0x34, UsageRz = 0x35, UsageHat = 0x39,
                  UsageStart = 0x3D;
// Pads with more buttons than this exist, but none whose stop button would lie further out.
constexpr int MaxButtons = 32;
// Reports waiting at one look are read up to this many; the last one is where the pad stands now.
constexpr int MaxReadsPerPoll = 64;

} // namespace

struct Gamepad::Bound
{
    struct Axis
    {
        std::unique_ptr<TOneHidVar> var;
        // Seen inside StopZone of its centre since the pad was bound; until then it drives nothing.
        bool rested = false;

        double deflection() const
        {
            return var ? Gamepad::deflection(var->UnScaledValue(), var->LogicalMinimum(), var->LogicalMaximum())
                       : 0.0;
        }
        void noteRest()
        {
            if (var && !rested)
                rested = std::abs(deflection()) < StopZone;
        }
        double reading() const { return rested ? deflection() : 0.0; }
    };

    Axis x, y, rightY;
    std::unique_ptr<TOneHidVar> hat, button1, button2, stop;
    // One variable per input report, whose Update reads that report.
    std::vector<TOneHidVar *> readers;
    QString name;

    std::unique_ptr<TOneHidVar> bind(HIDagentX &agent, quint32 page, quint32 usage, const char *varName)
    {
        auto var = std::make_unique<TOneHidVar>();
        var->DoCreate(TOneHidVar::Input, qint32(page), qint32(usage), 0, QString::fromLatin1(varName));
        if (!var->Bind(&agent))
            return nullptr;
        return var;
    }

    std::vector<TOneHidVar *> all() const
    {
        std::vector<TOneHidVar *> vars;
        for (const auto *var : {&x.var, &y.var, &rightY.var, &hat, &button1, &button2, &stop}) {
            if (*var)
                vars.push_back(var->get());
        }
        return vars;
    }
};

Gamepad::Gamepad(HidTransport *transport, QObject *parent) : QObject(parent), m_agent(transport)
{
    m_agent.SetLogging(false);
    // The poll only looks: what has not arrived yet is read at the next one.
    m_agent.SetTimeOut(0);
    m_agent.SetSearchOnVID(false);
    m_agent.SetSearchOnPID(false);
    m_agent.SetApplicationsToMatch({JoystickUsage, GamePadUsage});
    m_poll.setInterval(PollIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &Gamepad::poll);
    connect(&m_agent, &HIDagentX::OnIntfOpened, this,
            [this](int intfIndex, int handle, int, const QString &) { bindOpened(intfIndex, handle); });
    connect(&m_agent, &HIDagentX::OnIntfClosed, this, [this](int, const QString &, int handle) { onClosed(handle); });
    connect(&m_agent, &HIDagentX::OnOpenDenied, this, [this](const HidInterfaceInfo &info, const QString &reason) {
        Q_EMIT openDenied(info.path, reason);
    });
    connect(&m_agent, &HIDagentX::OnDeviceArrival, this, [this] {
        try {
            m_agent.OpenMatchingIntfs();
        } catch (const std::exception &) {
        }
    });
}

Gamepad::~Gamepad()
{
    m_agent.disconnect(this);
}

void Gamepad::start()
{
    try {
        if (!m_agent.IsStarted())
            m_agent.StartAgent();
        m_agent.OpenMatchingIntfs();
    } catch (const std::exception &) {
    }
}

void Gamepad::stop()
{
    try {
        m_agent.StopAgent();
    } catch (const std::exception &) {
    }
}

QString Gamepad::name() const
{
    return m_vars ? m_vars->name : QString();
}

void Gamepad::bindOpened(int intfIndex, int handle)
{
    if (m_bound)
        return;
    try {
        m_agent.SelectIntf(intfIndex);
        auto vars = std::make_unique<Bound>();
        vars->name = m_agent.IntfInfo().product.isEmpty() ? m_agent.IntfName() : m_agent.IntfInfo().product;
        vars->x.var = vars->bind(m_agent, GenericDesktop, UsageX, "X");
        vars->y.var = vars->bind(m_agent, GenericDesktop, UsageY, "Y");
        // Ry is the right stick's Y. Older pads without Ry put it on Rz, but many newer ones have an
        // analogue trigger there (Z and Rz at rest at one end), which the rest rule keeps from driving.
        vars->rightY.var = vars->bind(m_agent, GenericDesktop, UsageRy, "Ry");
        if (!vars->rightY.var)
            vars->rightY.var = vars->bind(m_agent, GenericDesktop, UsageRz, "Rz");
        vars->hat = vars->bind(m_agent, GenericDesktop, UsageHat, "Hat");
        vars->button1 = vars->bind(m_agent, ButtonPage, 1, "Button 1");
        vars->button2 = vars->bind(m_agent, ButtonPage, 2, "Button 2");
        vars->stop = vars->bind(m_agent, GenericDesktop, UsageStart, "Start");
        if (!vars->stop) {
            // Without a Start the highest-numbered button stops, as long as it is not a gripper button.
            int highest = 0;
            for (int usage = 3; usage <= MaxButtons; ++usage) {
                if (m_agent.FindVar(int(ButtonPage), usage, int(HidReportType::Input), false) >= 0)
                    highest = usage;
            }
            if (highest > 0)
                vars->stop = vars->bind(m_agent, ButtonPage, quint32(highest), "Stop");
        }
        QSet<qint32> reports;
        for (TOneHidVar *var : vars->all()) {
            if (!reports.contains(var->RptIndex())) {
                reports.insert(var->RptIndex());
                vars->readers.push_back(var);
            }
        }
        if (vars->readers.empty())
            return;
        m_vars = std::move(vars);
        m_bound = handle;
    } catch (const std::exception &) {
        return;
    }
    m_quietPolls = 0;
    m_poll.start(PollIntervalMs);
    Q_EMIT attachedChanged(true);
}

void Gamepad::onClosed(int handle)
{
    if (!m_bound || *m_bound != handle)
        return;
    m_poll.stop();
    m_vars.reset();
    m_bound.reset();
    // Unplugged while it drove a motion: nothing holds the motion any more.
    setState(GamepadState{});
    Q_EMIT attachedChanged(false);
    // Another pad that is still attached takes over.
    try {
        if (m_agent.IntfCount() > 0) {
            const int next = m_agent.SelectIntf(0);
            bindOpened(0, next);
        }
    } catch (const std::exception &) {
    }
}

void Gamepad::poll()
{
    if (!m_vars)
        return;
    bool fresh = false;
    try {
        for (TOneHidVar *reader : m_vars->readers) {
            for (int i = 0; i < MaxReadsPerPoll && reader->Update(true); ++i) {
                fresh = true;
                // Only the last report of a look is acted on, but a rest in any of them counts.
                for (Bound::Axis *axis : {&m_vars->x, &m_vars->y, &m_vars->rightY})
                    axis->noteRest();
            }
        }
    } catch (const std::exception &) {
    }
    if (!m_vars)
        return;
    if (fresh)
        readState();
    // Rest is judged by the motion, not by reports: some pads report all the time and a stick wobbles
    // inside the dead zone, while a held stick sends nothing new and its release must be seen at once.
    const bool atRest = m_motion < 0 && !m_state.stop;
    m_quietPolls = atRest ? m_quietPolls + 1 : 0;
    const int interval = m_quietPolls >= PollsBeforeRest ? RestPollIntervalMs : PollIntervalMs;
    if (m_poll.interval() != interval)
        m_poll.setInterval(interval);
}

void Gamepad::readState()
{
    GamepadState state;
    try {
        const auto pressed = [](const std::unique_ptr<TOneHidVar> &var) {
            return var && var->UnScaledValue() != 0;
        };
        state.x = m_vars->x.reading();
        state.y = m_vars->y.reading();
        state.rightY = m_vars->rightY.reading();
        if (m_vars->hat) {
            state.hatDegrees =
                hatDegrees(m_vars->hat->UnScaledValue(), m_vars->hat->LogicalMinimum(), m_vars->hat->LogicalMaximum());
        }
        state.button1 = pressed(m_vars->button1);
        state.button2 = pressed(m_vars->button2);
        state.stop = pressed(m_vars->stop);
    } catch (const std::exception &) {
        return;
    }
    setState(state);
}

void Gamepad::setState(const GamepadState &state)
{
    const bool stopWentDown = state.stop && !m_state.stop;
    m_state = state;
    if (stopWentDown)
        Q_EMIT stopPressed();
    const int motion = motionFor(state, m_motion);
    if (motion != m_motion) {
        m_motion = motion;
        Q_EMIT motionChanged(motion);
    }
}

double Gamepad::deflection(qint32 value, qint32 logicalMin, qint32 logicalMax)
{
    if (logicalMax <= logicalMin)
        return 0.0;
    const double span = double(logicalMax) - double(logicalMin);
    const double d = 2.0 * (double(value) - double(logicalMin)) / span - 1.0;
    return std::clamp(d, -1.0, 1.0);
}

std::optional<double> Gamepad::hatDegrees(qint32 value, qint32 logicalMin, qint32 logicalMax)
{
    if (logicalMax <= logicalMin || value < logicalMin || value > logicalMax)
        return std::nullopt;
    const double positions = double(logicalMax) - double(logicalMin) + 1.0;
    return (double(value) - double(logicalMin)) * 360.0 / positions;
}

int Gamepad::motionFor(const GamepadState &state, int current)
{
    struct Candidate
    {
        int code;
        double strength;
    };
    // In order of precedence when two are pushed equally far.
    std::array<Candidate, 6> candidates{{
        {state.x < 0 ? 2 : 7, std::abs(state.x)},
        {state.y < 0 ? 1 : 6, std::abs(state.y)},
        {state.rightY < 0 ? 3 : 8, std::abs(state.rightY)},
        {-1, 0.0},
        {10, state.button1 ? 1.0 : 0.0},
        {5, state.button2 ? 1.0 : 0.0},
    }};
    if (state.hatDegrees) {
        const double d = *state.hatDegrees;
        if (d <= 45.0 || d >= 315.0)
            candidates[3] = {4, 1.0};
        else if (d >= 135.0 && d <= 225.0)
            candidates[3] = {9, 1.0};
    }
    int best = -1;
    double strongest = DeadZone;
    double currentStrength = 0.0;
    for (const Candidate &candidate : candidates) {
        if (candidate.code < 0)
            continue;
        if (candidate.code == current)
            currentStrength = candidate.strength;
        if (candidate.strength > strongest) {
            best = candidate.code;
            strongest = candidate.strength;
        }
    }
    if (current >= 0 && currentStrength >= StopZone && strongest - currentStrength < SwitchMargin)
        return current;
    return best;
}
