#include "ArmOutlet.h"

#include "ArmDeviceList.h"
#include "KitArmList.h"
#include "ProcessClock.h"

#include <algorithm>
#include <chrono>
#include <exception>

ArmOutlet::ArmOutlet(ArmDeviceList *hid, KitArmList *kits) : m_hid(hid), m_kits(kits)
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

void ArmOutlet::setKits(KitArmList *kits)
{
    const std::lock_guard guard(m_lock);
    m_kits = kits;
}

void ArmOutlet::setDeadlineHandler(DeadlineHandler handler)
{
    const std::lock_guard guard(m_lock);
    m_handler = std::move(handler);
}

ArmOutlet::Delivery ArmOutlet::send(qint16 code, qint64 deadlineNs)
{
    const std::lock_guard guard(m_lock);
    Delivery delivery = write(code, m_kits && m_kits->light(), false);
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
    Delivery delivery = write(qint16(m_inForce), on, true);
    if (!delivery.allTook) {
        // A kit that missed the light may have missed the motion with it: nobody holds one now.
        m_inForce = 0;
        m_deadlineNs = 0;
    }
    return delivery;
}

bool ArmOutlet::light() const
{
    const std::lock_guard guard(m_lock);
    return m_kits && m_kits->light();
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

ArmOutlet::Delivery ArmOutlet::write(qint16 code, bool light, bool setLight)
{
    Delivery delivery;
    QList<const TVantor *> hidFailed;
    QStringList kitFailed;
    bool hidAll = true;
    bool kitAll = true;
    // Arms served, less those that refused: an arm found gone counts as served, as it runs nothing.
    int took = 0;
    // The light is the kit's alone: switching it writes nothing to a HID board.
    if (m_hid && !setLight) {
        const int listed = m_hid->Count();
        try {
            hidAll = m_hid->SendToAll(code, &delivery.error, &hidFailed);
        } catch (const std::exception &e) {
            delivery.error = QString::fromLocal8Bit(e.what());
            hidAll = false;
        }
        took += listed - int(hidFailed.size());
    }
    if (m_kits) {
        const int listed = m_kits->count();
        QString why;
        kitAll = setLight ? m_kits->SetLight(light, code, &why, &kitFailed)
                          : m_kits->SendToAll(code, &why, &kitFailed);
        if (delivery.error.isEmpty())
            delivery.error = why;
        took += listed - int(kitFailed.size());
    }
    delivery.allTook = hidAll && kitAll;
    delivery.anyTook = delivery.allTook || took > 0;
    if (code == 0 && (!hidFailed.isEmpty() || !kitFailed.isEmpty()))
        retryStop(delivery, hidFailed, kitFailed, light, setLight);
    return delivery;
}

void ArmOutlet::retryStop(Delivery &delivery, QList<const TVantor *> hidFailed, QStringList kitFailed, bool light,
                          bool setLight)
{
    const qint64 firstNs = ProcessClock::monotonicNs();
    for (const int afterMs : StopRetryDelaysMs) {
        const qint64 dueNs = firstNs + qint64(afterMs) * 1'000'000;
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::max<qint64>(0, dueNs - ProcessClock::monotonicNs())));
        if (!hidFailed.isEmpty() && m_hid) {
            QList<const TVantor *> still;
            try {
                m_hid->SendToAll(0, nullptr, &still, &hidFailed);
            } catch (const std::exception &) {
                still = hidFailed;
            }
            hidFailed = still;
        }
        if (!kitFailed.isEmpty() && m_kits) {
            QStringList still;
            if (setLight)
                m_kits->SetLight(light, 0, nullptr, &still);
            else
                m_kits->SendTo(kitFailed, 0, nullptr, &still);
            kitFailed = still;
        }
        if (hidFailed.isEmpty() && kitFailed.isEmpty())
            break;
    }
    delivery.stopConfirmed = hidFailed.isEmpty() && kitFailed.isEmpty();
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
