#include "ArmOutlet.h"

#include "ArmLink.h"
#include "ArmMotion.h"
#include "ProcessClock.h"

#include <algorithm>
#include <chrono>
#include <exception>

ArmOutlet::ArmOutlet(const QList<ArmLink *> &links) : m_links(links)
{
    m_watch = std::thread([this] { watch(); });
}

ArmOutlet::~ArmOutlet()
{
    {
        const std::lock_guard guard(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_watch.join();
}

void ArmOutlet::setLinks(const QList<ArmLink *> &links)
{
    const std::lock_guard guard(m_lock);
    m_links = links;
}

void ArmOutlet::setDeadlineHandler(DeadlineHandler handler)
{
    const std::lock_guard guard(m_lock);
    m_handler = std::move(handler);
}

QString ArmOutlet::severalRefusal() const
{
    for (ArmLink *link : m_links) {
        if (link->armCount() > 0 && !link->drivesSeveral())
            return link->severalRefusal();
    }
    return QString();
}

QString ArmOutlet::refusesSeveral() const
{
    const std::lock_guard guard(m_lock);
    return severalRefusal();
}

ArmOutlet::Delivery ArmOutlet::send(qint16 code, qint64 deadlineNs)
{
    const std::lock_guard guard(m_lock);
    // Nothing goes out, to any arm: what was in force stays so, with its deadline.
    if (armCodeCombined(code)) {
        if (const QString refusal = severalRefusal(); !refusal.isEmpty())
            return Delivery{false, false, true, refusal};
    }
    Delivery delivery = write(code, std::nullopt);
    ++m_serial;
    // What nobody took runs nowhere the outlet can answer for; what only some arms took still needs
    // its deadline, and a stop is a stop wherever it went.
    m_inForce = delivery.allTook ? code : 0;
    m_deadlineNs = (code != 0 && delivery.anyTook) ? deadlineNs : 0;
    m_wake.notify_all();
    return delivery;
}

void ArmOutlet::renew(qint64 deadlineNs)
{
    {
        const std::lock_guard guard(m_lock);
        if (m_inForce == 0 && m_deadlineNs == 0)
            return;
        m_deadlineNs = deadlineNs;
    }
    m_wake.notify_all();
}

qint64 ArmOutlet::deadlineNs() const
{
    const std::lock_guard guard(m_lock);
    return m_deadlineNs;
}

ArmOutlet::Delivery ArmOutlet::setLight(bool on)
{
    const std::lock_guard guard(m_lock);
    Delivery delivery = write(qint16(m_inForce), on);
    if (!delivery.allTook) {
        // A kit that missed the light may have missed the motion with it: nobody holds one now.
        m_inForce = 0;
        m_deadlineNs = 0;
    }
    return delivery;
}

int ArmOutlet::codeInForce() const
{
    const std::lock_guard guard(m_lock);
    return m_inForce;
}

quint64 ArmOutlet::serial() const
{
    const std::lock_guard guard(m_lock);
    return m_serial;
}

void ArmOutlet::forget()
{
    const std::lock_guard guard(m_lock);
    m_inForce = 0;
}

ArmOutlet::Delivery ArmOutlet::write(qint16 code, std::optional<bool> setLight)
{
    Delivery delivery;
    delivery.allTook = true;
    // Per link, the arms that did not take the code.
    QList<QList<quint64>> failed;
    bool anyFailed = false;
    int took = 0;
    for (ArmLink *link : m_links) {
        // The light is the kit's alone: switching it writes nothing to a HID board.
        if (setLight && !link->hasLight()) {
            failed.append(QList<quint64>());
            continue;
        }
        const ArmLink::Sent sent = setLight ? link->setLight(*setLight, code) : link->send(code);
        if (delivery.error.isEmpty())
            delivery.error = sent.error;
        delivery.allTook = delivery.allTook && sent.allTook;
        took += sent.took;
        anyFailed = anyFailed || !sent.failed.isEmpty();
        failed.append(sent.failed);
    }
    delivery.anyTook = delivery.allTook || took > 0;
    if (code == 0 && anyFailed)
        retryStop(delivery, failed, setLight);
    return delivery;
}

void ArmOutlet::retryStop(Delivery &delivery, QList<QList<quint64>> failed, std::optional<bool> setLight)
{
    const auto allTaken = [&failed] {
        return std::all_of(failed.begin(), failed.end(), [](const QList<quint64> &ids) { return ids.isEmpty(); });
    };
    const qint64 firstNs = ProcessClock::monotonicNs();
    for (const int afterMs : StopRetryDelaysMs) {
        const qint64 dueNs = firstNs + qint64(afterMs) * 1'000'000;
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::max<qint64>(0, dueNs - ProcessClock::monotonicNs())));
        for (int i = 0; i < int(m_links.size()) && i < int(failed.size()); ++i) {
            if (failed[i].isEmpty())
                continue;
            // A light that some kit missed goes to every kit again, with the stop.
            failed[i] = setLight ? m_links[i]->setLight(*setLight, 0).failed : m_links[i]->send(0, &failed[i]).failed;
        }
        if (allTaken())
            break;
    }
    delivery.stopConfirmed = allTaken();
    if (delivery.stopConfirmed) {
        // Every arm still attached has the stop: as good as a stop that went out at once.
        delivery.allTook = true;
        delivery.anyTook = true;
    }
}

void ArmOutlet::watch()
{
    std::unique_lock lock(m_lock);
    while (!m_quit) {
        if (m_deadlineNs == 0) {
            m_wake.wait(lock);
            continue;
        }
        const qint64 left = m_deadlineNs - ProcessClock::monotonicNs();
        if (left > 0) {
            m_wake.wait_for(lock, std::chrono::nanoseconds(left));
            continue;
        }
        const quint64 serial = m_serial;
        m_deadlineNs = 0;
        const DeadlineHandler handler = m_handler;
        lock.unlock();
        if (handler)
            handler(serial);
        else
            send(0);
        lock.lock();
    }
}
