#include "HidError.h"
#include "HidTestSupport.h"
#include "mdlKORIV.h"

#include <QTest>

#include <limits>
#include <stdexcept>

class TestMdlKoriv : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstSerialsOfTheRun();
    void serialCounterStopsAtTheTop();
    void errorTextIsTheFallback_data();
    void errorTextIsTheFallback();
    void raiseErrorForm_data();
    void raiseErrorForm();
    void raiseErrorBelowTheNumberRange();
    void trappedBodyTurnsFailuresIntoClassError_data();
    void trappedBodyTurnsFailuresIntoClassError();
};

void TestMdlKoriv::firstSerialsOfTheRun()
{
    // Runs first, before anything in this process has taken a serial.
    QCOMPARE(mdlKORIV::ClassDebugCounter(), 0);
    QCOMPARE(mdlKORIV::NextClassDebugID(), 1);
    QCOMPARE(mdlKORIV::NextClassDebugID(), 2);
    QCOMPARE(mdlKORIV::ClassDebugCounter(), 2);
}

void TestMdlKoriv::serialCounterStopsAtTheTop()
{
    constexpr qint32 top = std::numeric_limits<qint32>::max();
    mdlKORIV::SetClassDebugCounterForTest(top - 1);
    QCOMPARE(mdlKORIV::NextClassDebugID(), top);
    HID_VERIFY_ERROR(mdlKORIV::NextClassDebugID(), HidError::Overflow, QString());
    QCOMPARE(mdlKORIV::ClassDebugCounter(), top);
    // Still failing: the counter did not wrap to the negative range.
    HID_VERIFY_ERROR(mdlKORIV::NextClassDebugID(), HidError::Overflow, QString());
    QCOMPARE(mdlKORIV::ClassDebugCounter(), top);
    mdlKORIV::SetClassDebugCounterForTest(0);
}

void TestMdlKoriv::errorTextIsTheFallback_data()
{
    QTest::addColumn<qint32>("n");
    QTest::newRow("class error") << 9999;
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -1;
    QTest::newRow("largest") << std::numeric_limits<qint32>::max();
}

void TestMdlKoriv::errorTextIsTheFallback()
{
    QFETCH(qint32, n);
    QCOMPARE(mdlKORIV::ErrorText(n), QStringLiteral("An unknown error has occurred!"));
}

void TestMdlKoriv::raiseErrorForm_data()
{
    QTest::addColumn<qint32>("n");
    QTest::addColumn<QString>("source");
    QTest::addColumn<qint32>("number");
    QTest::newRow("property get") << 9999 << "Tvantor:InVar1 Property Get" << -2147211505;
    QTest::newRow("bind method") << 9999 << "OneHidVar:Bind Method" << -2147211505;
    QTest::newRow("code zero") << 0 << "x" << -2147221504;
    QTest::newRow("empty source") << 1 << "" << -2147221503;
    QTest::newRow("largest code") << std::numeric_limits<qint32>::max() << "y" << 262143;
}

void TestMdlKoriv::raiseErrorForm()
{
    QFETCH(qint32, n);
    QFETCH(QString, source);
    QFETCH(qint32, number);
    const std::optional<HidError> e = HidTestSupport::errorOf([&] { mdlKORIV::RaiseError(n, source); });
    QVERIFY(e.has_value());
    QCOMPARE(e->number(), number);
    QCOMPARE(e->source(), source);
    QCOMPARE(e->description(), QStringLiteral("An unknown error has occurred!"));
}

void TestMdlKoriv::raiseErrorBelowTheNumberRange()
{
    // -2147221504 + n must stay a 32-bit number; below that the raise itself overflows.
    HID_VERIFY_ERROR(mdlKORIV::RaiseError(-262144, QStringLiteral("z")), std::numeric_limits<qint32>::min(),
                     QStringLiteral("z"));
    HID_VERIFY_ERROR(mdlKORIV::RaiseError(-262145, QStringLiteral("z")), HidError::Overflow, QStringLiteral("z"));
}

void TestMdlKoriv::trappedBodyTurnsFailuresIntoClassError_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("HidError") << 0;
    QTest::newRow("std::exception") << 1;
    QTest::newRow("class error again") << 2;
}

void TestMdlKoriv::trappedBodyTurnsFailuresIntoClassError()
{
    QFETCH(int, kind);
    const auto body = [kind]() -> int {
        if (kind == 0)
            throw HidError::overflow();
        if (kind == 1)
            throw std::runtime_error("out of range");
        mdlKORIV::RaiseError(9999, QStringLiteral("inner"));
    };
    HID_VERIFY_CLASS_ERROR(mdlKORIV::RunTrapped(QStringLiteral("OneHidVar:Update Method"), body),
                           "OneHidVar:Update Method");
}

QTEST_GUILESS_MAIN(TestMdlKoriv)
#include "tst_mdlkoriv.moc"
