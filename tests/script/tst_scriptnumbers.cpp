#include "ScriptNumbers.h"

#include <QTest>

#include <limits>

class TestScriptNumbers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void numberText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("one") << 1.0 << " 1";
        QTest::newRow("two and a half") << 2.5 << " 2.5";
        QTest::newRow("quarter has no leading zero") << 0.25 << " .25";
        QTest::newRow("zero") << 0.0 << " 0";
        QTest::newRow("negative zero") << -0.0 << " 0";
        QTest::newRow("negative") << -3.75 << "-3.75";
        QTest::newRow("negative below one") << -0.5 << "-.5";
        QTest::newRow("whole number with zeros") << 1200.0 << " 1200";
        QTest::newRow("binary fraction noise is rounded away") << 0.1 + 0.2 << " .3";
        QTest::newRow("fifteen digits kept") << 123456789012345.0 << " 123456789012345";
        QTest::newRow("sixteenth digit rounded") << 1.0000000000000002 << " 1";
        QTest::newRow("long fraction cut to 15 digits") << 2.0 / 3.0 << " .666666666666667";
        QTest::newRow("smallest plain") << 0.0001 << " .0001";
        QTest::newRow("small gets exponent") << 0.00001 << " 1E-05";
        QTest::newRow("large gets exponent") << 1.5e20 << " 1.5E+20";
        QTest::newRow("sixteen digits gets exponent") << 1234567890123456.0 << " 1.23456789012346E+15";
        QTest::newRow("rounding carries into the exponent") << 999999999999999.9 << " 1E+15";
        QTest::newRow("huge negative") << -2.5e300 << "-2.5E+300";
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << " 0";
    }
    void numberText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(NumberText(value), text);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("blank then number") << " 2.5" << 2.5;
        QTest::newRow("no leading zero") << ".25" << 0.25;
        QTest::newRow("trailing letters") << "3x" << 3.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("letters only") << "Pause" << 0.0;
        QTest::newRow("lone point") << "." << 0.0;
        QTest::newRow("lone minus") << "-" << 0.0;
        QTest::newRow("negative") << "-1.5" << -1.5;
        QTest::newRow("plus sign") << "+4" << 4.0;
        QTest::newRow("blanks inside digits") << "1 000" << 1000.0;
        QTest::newRow("tabs and line feeds inside") << "\t1\n2.\t5" << 12.5;
        QTest::newRow("blank after sign") << "- 7" << -7.0;
        QTest::newRow("carriage return ends the number") << "1\r2" << 1.0;
        QTest::newRow("second point ends the number") << "1.2.3" << 1.2;
        QTest::newRow("point without fraction") << "1." << 1.0;
        QTest::newRow("exponent E") << "1.5E3" << 1500.0;
        QTest::newRow("exponent lower-case e") << "2e2" << 200.0;
        QTest::newRow("exponent D") << "2.5D-1" << 0.25;
        QTest::newRow("exponent with blanks") << "1 E + 2" << 100.0;
        QTest::newRow("exponent letter without digits") << "3E" << 3.0;
        QTest::newRow("exponent sign without digits") << "3E+x" << 3.0;
        QTest::newRow("NumberText exponent reads back") << " 1.5E+20" << 1.5e20;
        QTest::newRow("non-ASCII ends the number") << QStringLiteral("4\u00bd") << 4.0;
        QTest::newRow("underflow is zero") << "1E-999" << 0.0;
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        bool overflow = true;
        QCOMPARE(LeadingNumber(text, &overflow), value);
        QVERIFY(!overflow);
    }

    void leadingNumberReportsOverflow()
    {
        bool overflow = false;
        QCOMPARE(LeadingNumber(QStringLiteral("1E999"), &overflow), 0.0);
        QVERIFY(overflow);
        QCOMPARE(LeadingNumber(QStringLiteral("-9D400"), &overflow), 0.0);
        QVERIFY(overflow);
        QCOMPARE(LeadingNumber(QStringLiteral("9"), &overflow), 9.0);
        QVERIFY(!overflow);
    }

    void numberTextReadsBack_data()
    {
        QTest::addColumn<double>("value");
        QTest::newRow("quarter seconds") << 12.75;
        QTest::newRow("negative fraction") << -0.125;
        QTest::newRow("tiny") << 3.25e-7;
        QTest::newRow("huge") << 6.02214076e23;
        QTest::newRow("max step count") << 32767.0;
    }
    void numberTextReadsBack()
    {
        QFETCH(double, value);
        QCOMPARE(LeadingNumber(NumberText(value)), value);
    }

    void wholeTextNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("value");
        QTest::newRow("integer") << "3" << true << 3.0;
        QTest::newRow("point first") << ".5" << true << 0.5;
        QTest::newRow("point last") << "1." << true << 1.0;
        QTest::newRow("trailing zero") << "0.50" << true << 0.5;
        QTest::newRow("surrounding blanks") << " 2.5 " << true << 2.5;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("blanks only") << "   " << false << 0.0;
        QTest::newRow("lone point") << "." << false << 0.0;
        QTest::newRow("two points") << "1.2.3" << false << 0.0;
        QTest::newRow("two points together") << "1..2" << false << 0.0;
        QTest::newRow("trailing letter") << "2x" << false << 0.0;
        QTest::newRow("blank inside") << "1 2" << false << 0.0;
        QTest::newRow("too large") << "1E999" << false << 0.0;
    }
    void wholeTextNumber()
    {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(double, value);
        double got = -1.0;
        QCOMPARE(WholeTextNumber(text, &got), isNumber);
        if (isNumber)
            QCOMPARE(got, value);
        else
            QCOMPARE(got, -1.0);
    }

    void roundToInt16_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<int>("result");
        QTest::newRow("whole") << 3.0 << true << 3;
        QTest::newRow("half goes down to even") << 2.5 << true << 2;
        QTest::newRow("half goes up to even") << 3.5 << true << 4;
        QTest::newRow("negative half to even zero") << -0.5 << true << 0;
        QTest::newRow("negative half to even two") << -1.5 << true << -2;
        QTest::newRow("just over half") << 2.5000001 << true << 3;
        QTest::newRow("largest") << 32767.0 << true << 32767;
        QTest::newRow("rounds down to largest") << 32767.4 << true << 32767;
        QTest::newRow("half above largest goes to even 32768") << 32767.5 << false << 0;
        QTest::newRow("above largest") << 32768.0 << false << 0;
        QTest::newRow("smallest") << -32768.0 << true << -32768;
        QTest::newRow("below smallest") << -32769.0 << false << 0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false << 0;
    }
    void roundToInt16()
    {
        QFETCH(double, value);
        QFETCH(bool, fits);
        QFETCH(int, result);
        qint16 got = 1234;
        QCOMPARE(RoundToInt16(value, &got), fits);
        QCOMPARE(int(got), fits ? result : 1234);
    }
};

QTEST_GUILESS_MAIN(TestScriptNumbers)
#include "tst_scriptnumbers.moc"
