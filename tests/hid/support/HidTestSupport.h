#pragma once

#include "ArmUsbIds.h"
#include "HIDagentX.h"
#include "HidError.h"
#include "VirtualHidTransport.h"

#include <QString>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

namespace HidTestSupport {

// The number and description of every error the HID classes raise themselves.
inline constexpr qint32 ClassErrorNumber = -2147211505;
inline const char *const ClassErrorText = "An unknown error has occurred!";

// The HidError thrown by body, or nothing when it returned normally. Other exceptions propagate.
std::optional<HidError> errorOf(const std::function<void()> &body);

// A virtual transport and a started component searching for the arm, as the main window sets it up.
struct AgentRig
{
    AgentRig();
    ~AgentRig();

    // Opens every plugged interface that matches the search; returns OpenMatchingIntfs.
    bool openMatching();
    // The same, then makes the most recently opened interface current, as a device object does.
    bool openAndSelectNewest();
    // Searches for any vendor and product, for other devices.
    void matchEverything();

    VirtualHidTransport transport;
    std::unique_ptr<HIDagentX> agent;
};

// Makes an interface whose report descriptor is given by hand; identifiers are the arm's unless told.
VirtualHidInterface *addCustomInterface(VirtualHidTransport &transport, const QByteArray &descriptor,
                                        quint16 vendorId = ArmUsbIds::HidVendorId,
                                        quint16 productId = ArmUsbIds::HidProductId);

QByteArray bytes(std::initializer_list<quint8> list);

} // namespace HidTestSupport

// Verifies that statement throws HidError with the number and source given.
#define HID_VERIFY_ERROR(statement, expectedNumber, expectedSource)                                      \
    do {                                                                                                 \
        const std::optional<HidError> caught_ = HidTestSupport::errorOf([&] { statement; });             \
        QVERIFY2(caught_.has_value(), "no HidError from: " #statement);                                  \
        QCOMPARE(caught_->number(), qint32(expectedNumber));                                             \
        QCOMPARE(caught_->source(), QString(expectedSource));                                            \
    } while (false)

// Verifies that statement throws the class error 9999 with the source given and the fixed description.
#define HID_VERIFY_CLASS_ERROR(statement, expectedSource)                                                \
    do {                                                                                                 \
        const std::optional<HidError> caught_ = HidTestSupport::errorOf([&] { statement; });             \
        QVERIFY2(caught_.has_value(), "no HidError from: " #statement);                                  \
        QCOMPARE(caught_->number(), HidTestSupport::ClassErrorNumber);                                   \
        QCOMPARE(caught_->source(), QString(expectedSource));                                            \
        QCOMPARE(caught_->description(), QString::fromLatin1(HidTestSupport::ClassErrorText));           \
    } while (false)
