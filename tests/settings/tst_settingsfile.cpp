#include "ControlOptions.h"
#include "DiskFaults.h"
#include "Settings.h"
#include "SettingsLocation.h"
#include "SettingsReader.h"
#include "SettingsWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

Q_DECLARE_METATYPE(TravelCalibration)

using Colour = std::optional<quint32>;

namespace {

const QByteArray WorkedExample = "[Highlight]\r\nYes\r\n3\r\n[HighlightColor]\r\n 8421631 \r\n"
                                 "[DeviceID]\r\n\"ARM-01\"\r\n";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void workedExampleByteForByteAndBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QCOMPARE(SettingsWriter::write(path, Settings{true, 3, 8421631u, QStringLiteral("ARM-01")}),
                 QString());
        QCOMPARE(readAll(path), WorkedExample);

        const StartupSettings startup = SettingsReader::readStartup(path);
        QCOMPARE(startup.hilight, true);
        QCOMPARE(startup.selectionColour, Colour(8421631u));
        QCOMPARE(startup.currentDevice, QStringLiteral("ARM-01"));
        const DialogSettings dialog = SettingsReader::readDialog(path);
        QCOMPARE(dialog.highlight, true);
        QCOMPARE(dialog.entryNumber(), 3);
    }

    void writtenValuesReadBack_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::newRow("custom, empty identity") << Settings{false, 5, 0u, QString()};
        QTest::newRow("every bit set") << Settings{true, 5, 0xFFFFFFFFu, QStringLiteral("X")};
        QTest::newRow("latin-1 identity") << Settings{true, 4, 8454143u, QStringLiteral("BRAS Ä")};
    }
    void writtenValuesReadBack()
    {
        QFETCH(Settings, settings);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QCOMPARE(SettingsWriter::write(path, settings), QString());
        QCOMPARE(readAll(path).count("\r\n"), 7);
        const StartupSettings startup = SettingsReader::readStartup(path);
        QCOMPARE(startup.hilight, settings.highlight);
        QCOMPARE(startup.selectionColour, Colour(settings.colour));
        QCOMPARE(startup.currentDevice, settings.device);
        QCOMPARE(SettingsReader::readDialog(path).entryNumber(), settings.entry);
        if (settings.device.isEmpty())
            QVERIFY(readAll(path).endsWith("[DeviceID]\r\n\"\"\r\n"));
    }

    // Expected: highlight, colour at start-up (none = keep the grid's), identity, dialog entry.
    void shortAndDamagedFiles_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("hilight");
        QTest::addColumn<Colour>("colour");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("entry");
        const QByteArray head = "[Highlight]\r\nYes\r\n5\r\n[HighlightColor]\r\n";
        const QByteArray tail = "\r\n[DeviceID]\r\n\"A\"\r\n";
        QTest::newRow("only line 1") << QByteArray("[Highlight]\r\n") << false << Colour() << "" << 0;
        QTest::newRow("ends after the entry")
            << QByteArray("[Highlight]\r\nYes\r\n4") << true << Colour() << "" << 4;
        QTest::newRow("no identity line") << head + " 7 \r\n[DeviceID]\r\n" << true << Colour(7u) << "" << 5;
        QTest::newRow("empty colour is black") << head + tail << true << Colour(0u) << "A" << 5;
        QTest::newRow("non-numeric colour") << head + " red " + tail << true << Colour() << "A" << 5;
        QTest::newRow("entry 2, another colour")
            << QByteArray("[Highlight]\r\nNo\r\n2\r\n[HighlightColor]\r\n 255 ") + tail << false
            << Colour(255u) << "A" << 2;
        QTest::newRow("lower-case yes, odd entry")
            << QByteArray("[Highlight]\r\nyes\r\n03\r\n[HighlightColor]\r\n 1 ") + tail << false << Colour(1u)
            << "A" << 0;
        QTest::newRow("identity trimmed and upper-cased") << head + " 1 \r\n[DeviceID]\r\n\" arm-01 \"\r\n"
                                                          << true << Colour(1u) << "ARM-01" << 5;
        QTest::newRow("LF ends, headers unchecked")
            << QByteArray("x\nYes\n1\ny\n 11954481 \nz\narm 7") << true << Colour(11954481u) << "ARM 7" << 1;
    }
    void shortAndDamagedFiles()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QVERIFY(writeBytes(path, contents));
        const StartupSettings startup = SettingsReader::readStartup(path);
        QTEST(startup.hilight, "hilight");
        QTEST(startup.selectionColour, "colour");
        QTEST(startup.currentDevice, "device");
        const DialogSettings dialog = SettingsReader::readDialog(path);
        QTEST(dialog.highlight, "hilight");
        QTEST(dialog.colour, "colour");
        QTEST(dialog.entryNumber(), "entry");
    }

    void missingFileMeansBlackAndOff()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        const StartupSettings startup = SettingsReader::readStartup(path);
        QVERIFY(!startup.hilight && startup.currentDevice.isEmpty());
        QCOMPARE(startup.selectionColour, Colour(0u));
        QCOMPARE(SettingsReader::readDialog(path).entryNumber(), 0);
        QCOMPARE(SettingsReader::readDialog(path).colour, Colour());
    }

    void lineValues_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("value");
        QTest::newRow("spaces around") << "  Yes  "
                                       << "Yes";
        QTest::newRow("quoted keeps inner spaces and commas") << " \" a,b \" x"
                                                              << " a,b ";
        QTest::newRow("unclosed quote runs to the end") << "\"abc "
                                                        << "abc";
        QTest::newRow("comma ends unquoted") << " 12 ,34"
                                             << "12";
    }
    void lineValues()
    {
        QFETCH(QString, line);
        QTEST(SettingsReader::lineValue(line), "value");
    }

    void colourValues_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Colour>("colour");
        QTest::newRow("signed") << " -1 " << Colour(0xFFFFFFFFu);
        QTest::newRow("plus, leading zeros") << "+00255" << Colour(255u);
        QTest::newRow("limits") << "-2147483648" << Colour(0x80000000u);
        QTest::newRow("quoted") << "\" 255 \"" << Colour(255u);
        QTest::newRow("too large") << "2147483648" << Colour();
        QTest::newRow("beyond 64 bits") << "99999999999999999999999" << Colour();
        QTest::newRow("sign alone") << "-" << Colour();
        QTest::newRow("fraction rounds to the nearest") << " 255.4 " << Colour(255u);
        QTest::newRow("exponent") << " 2.55E2 " << Colour(255u);
        QTest::newRow("half rounds to even, down") << "12.5" << Colour(12u);
        QTest::newRow("half rounds to even, up") << "13.5" << Colour(14u);
        QTest::newRow("D exponent, negative") << "-1D0" << Colour(0xFFFFFFFFu);
        QTest::newRow("rounds past the limit") << "2147483647.5" << Colour();
        QTest::newRow("trailing text") << "255x" << Colour();
        QTest::newRow("point alone") << "." << Colour();
        QTest::newRow("hexadecimal") << "&HFF" << Colour();
        QTest::newRow("blank inside") << "1 2" << Colour();
        QTest::newRow("arabic-indic digit") << QString::fromUtf8("\xd9\xa3") << Colour();
    }
    void colourValues()
    {
        QFETCH(QString, line);
        QTEST(SettingsReader::colourValue(line), "colour");
    }

    void saveFaultsKeepTheOldFile_data() { addDiskFaultRows(); }

    void saveFaultsKeepTheOldFile()
    {
        QFETCH(DiskFault, fault);
        QFETCH(QString, reason);
        const Settings settings{false, 5, 255u, QStringLiteral("B")};
        const SaveOutcome outcome =
            saveUnder(fault, QStringLiteral("KORIV.INI"), WorkedExample,
                      [&](const QString &path) { return SettingsWriter::write(path, settings); });
        if (!outcome.skip.isEmpty())
            QSKIP(qPrintable(outcome.skip));
        if (reason.isEmpty()) {
            QCOMPARE(outcome.error, QString());
            QCOMPARE(outcome.after, SettingsWriter::format(settings));
        } else {
            QVERIFY2(outcome.error.startsWith(QDir::toNativeSeparators(outcome.target) + u' '),
                     qPrintable(outcome.error));
            QVERIFY2(outcome.error.contains(reason, Qt::CaseInsensitive), qPrintable(outcome.error));
            QCOMPARE(outcome.after, WorkedExample);
        }
        QVERIFY(outcome.linkKept);
        QCOMPARE(outcome.leftovers, QStringList());
    }

    void unwritableFolder()
    {
        QTemporaryDir dir;
        const QString plainFile = dir.filePath(QStringLiteral("plain"));
        QVERIFY(writeBytes(plainFile, "x"));
        QVERIFY(!SettingsWriter::write(plainFile + QStringLiteral("/KORIV.INI"), Settings{}).isEmpty());
        QCOMPARE(readAll(plainFile), QByteArray("x"));

        // A missing folder, as the per-user one is at first, is made.
        const QString nested = dir.filePath(QStringLiteral("a/b/KORIV.INI"));
        QCOMPARE(SettingsWriter::write(nested, Settings{}), QString());
        QCOMPARE(readAll(nested).left(13), QByteArray("[Highlight]\r\n"));
    }

    void location_data()
    {
        QTest::addColumn<bool>("exeWritable");
        QTest::addColumn<bool>("perUserExists");
        QTest::addColumn<bool>("readsPerUser");
        QTest::addColumn<bool>("writesPerUser");
        QTest::newRow("build tree") << true << true << false << false;
        QTest::newRow("installed, first run") << false << false << false << true;
        QTest::newRow("installed, saved before") << false << true << true << true;
    }
    void location()
    {
        QFETCH(bool, exeWritable);
        QFETCH(bool, perUserExists);
        QTemporaryDir dir;
        const QString exeDir = dir.path() + QStringLiteral("/bin");
        const QString configDir = dir.path() + QStringLiteral("/config");
        QVERIFY(QDir().mkpath(exeDir) && QDir().mkpath(configDir));
        const QString beside = exeDir + QStringLiteral("/KORIV.INI");
        const QString perUser = configDir + QStringLiteral("/KORIV.INI");
        QVERIFY(writeBytes(beside, WorkedExample));
        if (perUserExists)
            QVERIFY(writeBytes(perUser, WorkedExample));

        const SettingsLocation location = resolveSettingsLocation(exeDir, configDir, exeWritable);
        QFETCH(bool, readsPerUser);
        QFETCH(bool, writesPerUser);
        QCOMPARE(location.readPath, readsPerUser ? perUser : beside);
        QCOMPARE(location.writePath, writesPerUser ? perUser : beside);

        // The probe agrees with the flag for a real folder and for one that cannot exist.
        QVERIFY(folderIsWritable(exeDir));
        QCOMPARE(resolveSettingsLocation(beside + QStringLiteral("/bin"), configDir).writePath, perUser);

        // The options file goes by the same rule, each file on its own: none exists per user yet.
        const QString optionsName = QLatin1StringView(ControlOptionsFileName);
        const SettingsLocation options = resolveSettingsLocation(exeDir, configDir, exeWritable, optionsName);
        QCOMPARE(options.readPath, exeDir + u'/' + optionsName);
        QCOMPARE(options.writePath, (writesPerUser ? configDir : exeDir) + u'/' + optionsName);
    }

    void controlOptions_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("runLimit");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<TravelCalibration>("travel");
        const TravelCalibration none;
        QTest::newRow("empty: the defaults") << QByteArray() << true << 150 << QString() << none;
        QTest::newRow("as written") << QByteArray("RunLimit=No\r\nRunLimitPercent=250\r\n") << false << 250
                                    << QString() << none;
        QTest::newRow("spaces, case, LF ends")
            << QByteArray(" runlimit = no \nRUNLIMITPERCENT= 120\n") << false << 120 << QString() << none;
        QTest::newRow("unknown names and junk skipped")
            << QByteArray("Later=1\r\nnot a line\r\n=Yes\r\nRunLimitPercent=400") << true << 400 << QString()
            << none;
        QTest::newRow("unreadable values keep the defaults")
            << QByteArray("RunLimit=maybe\r\nRunLimitPercent=1.5e2\r\n") << true << 150 << QString() << none;
        QTest::newRow("percent below the travel time")
            << QByteArray("RunLimitPercent=99") << true << 150 << QString() << none;
        QTest::newRow("script folder, blanks and all")
            << QByteArray("RunLimit=Yes\r\nScriptFolder=/home/ann/arm scripts \xc3\xa4\r\n") << true << 150
            << QStringLiteral("/home/ann/arm scripts \u00e4") << none;
        QTest::newRow("percent out of reason")
            << QByteArray("RunLimitPercent=100000") << true << 150 << QString() << none;

        TravelCalibration measured;
        measured.set(1, 9.412);   // shoulder up
        measured.set(5, 1.7);     // gripper closing
        measured.set(2, 12.0);    // base counter-clockwise
        measured.set(8, 14.0004); // elbow down, kept to the millisecond
        QTest::newRow("travel times")
            << QByteArray("TravelShoulderUp=9.412\r\ntravelgripperclose = 1.7\r\nTravelBaseCCW=12\r\n"
                          "TravelElbowDown=14.0004\r\n")
            << true << 150 << QString() << measured;
        TravelCalibration wrist;
        wrist.set(9, 6.5);
        QTest::newRow("travel times out of bounds or unreadable are not measurements")
            << QByteArray(
                   "TravelWristUp=0.1\r\nTravelBaseCW=500\r\nTravelElbowUp=soon\r\nTravelElbowDown=-3\r\n"
                   "TravelGripperOpen=2x\r\nTravelWristDown=6.5\r\nTravelKnee=3\r\nTravelShoulderDown=120\r\n"
                   "TravelGripperClose=0.2\r\n")
            << true << 150 << QString() << wrist;
    }
    // A travel time that cannot be right is ignored with a warning naming its line and the table's time.
    void travelWarnings_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("warned");
        QTest::newRow("plausible") << QByteArray("TravelElbowUp=10\r\n") << QStringList{};
        QTest::newRow("a break taken") << QByteArray("TravelElbowUp=120\r\n")
                                       << QStringList{QStringLiteral("TravelElbowUp"), QStringLiteral("over twice the table's 14.0 s")};
        QTest::newRow("a key pressed at once") << QByteArray("TravelGripperClose=0.2\r\n")
                                               << QStringList{QStringLiteral("TravelGripperClose"), QStringLiteral("under half the table's 1.5 s")};
        QTest::newRow("not a number") << QByteArray("TravelWristUp=soon\r\n")
                                      << QStringList{QStringLiteral("TravelWristUp"), QStringLiteral("'soon'")};
    }
    void travelWarnings()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, warned);
        QStringList warnings;
        const ControlOptions parsed = ControlOptions::parse(text, &warnings);
        QCOMPARE(warnings.size(), warned.isEmpty() ? 0 : 1);
        QCOMPARE(parsed.travel.isEmpty(), !warned.isEmpty());
        for (const QString &part : warned)
            QVERIFY2(warnings.first().contains(part), qPrintable(warnings.first()));
    }

    void controlOptions()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, runLimit);
        QFETCH(int, percent);
        QFETCH(QString, folder);
        QFETCH(TravelCalibration, travel);
        const ControlOptions parsed = ControlOptions::parse(text);
        QCOMPARE(parsed, (ControlOptions{runLimit, percent, folder, travel}));
        // Only what was measured is written: a file without travel times has no travel lines.
        const auto measuredCount = [](const std::array<double, ArmJointCount> &times) {
            return std::count_if(times.begin(), times.end(), [](double x) { return x > 0; });
        };
        QCOMPARE(ControlOptions::format(parsed).count("\r\nTravel"),
                 measuredCount(travel.towardsMax) + measuredCount(travel.towardsMin));
        // Written and read back through a file it stays the same.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a/TESSARO.INI"));
        QCOMPARE(ControlOptions::write(path, parsed), QString());
        QCOMPARE(ControlOptions::read(path), parsed);
        QVERIFY(readAll(path).endsWith("\r\n"));
        // A folder that cannot be made is reported and reading there gives the defaults.
        const QString blocked = dir.filePath(QStringLiteral("a/TESSARO.INI/x.ini"));
        QVERIFY(!ControlOptions::write(blocked, parsed).isEmpty());
        QCOMPARE(ControlOptions::read(blocked), ControlOptions{});
    }

    void kitReversal_data()
    {
        // Bit i of the mask: motor i of base, shoulder, elbow, wrist, gripper.
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("mask");
        QTest::newRow("none by default") << QByteArray("RunLimit=Yes\r\n") << 0;
        QTest::newRow("base") << QByteArray("BaseReversed=Yes\r\n") << 0b00001;
        QTest::newRow("wrist and gripper, any case")
            << QByteArray("wristreversed=YES\ngripperReversed = yes\n") << 0b11000;
        QTest::newRow("every motor, one taken back")
            << QByteArray("BaseReversed=Yes\r\nShoulderReversed=Yes\r\nElbowReversed=Yes\r\n"
                          "WristReversed=Yes\r\nGripperReversed=Yes\r\nElbowReversed=No\r\n")
            << 0b11011;
        QTest::newRow("unreadable values keep the default") << QByteArray("BaseReversed=1\r\nArmReversed=Yes") << 0;
    }
    void kitReversal()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, mask);
        const ControlOptions parsed = ControlOptions::parse(text);
        for (int m = 0; m < 5; ++m)
            QCOMPARE(parsed.kitReversed[size_t(m)], (mask >> m & 1) != 0);
        // The run limit is not disturbed, and the reversal survives a write and a read.
        QCOMPARE(parsed.runLimitPercent, ControlOptions::DefaultRunLimitPercent);
        QCOMPARE(ControlOptions::parse(ControlOptions::format(parsed)), parsed);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
