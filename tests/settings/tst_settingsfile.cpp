#include "Settings.h"
#include "SettingsLocation.h"
#include "SettingsReader.h"
#include "SettingsWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using OptionalColour = std::optional<quint32>;
Q_DECLARE_METATYPE(OptionalColour)

namespace {

const QByteArray WorkedExample = "[Highlight]\r\n"
                                 "Yes\r\n"
                                 "3\r\n"
                                 "[HighlightColor]\r\n"
                                 " 8421631 \r\n"
                                 "[DeviceID]\r\n"
                                 "\"ARM-01\"\r\n";

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

// Lets writes grow a file only up to a few bytes, the way a full disk would, and puts things back
// afterwards. Works for root too, unlike a read-only folder.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void workedExampleIsWrittenByteForByte()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        const Settings settings{true, 3, Settings::presetColour(3), QStringLiteral("ARM-01")};
        QCOMPARE(SettingsWriter::format(settings), WorkedExample);
        QCOMPARE(SettingsWriter::write(path, settings), QString());
        QCOMPARE(readAll(path), WorkedExample);
    }

    void workedExampleReadsBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QVERIFY(writeBytes(path, WorkedExample));

        const StartupSettings startup = SettingsReader::readStartup(path);
        QCOMPARE(startup.hilight, true);
        QCOMPARE(startup.selectionColour, OptionalColour(8421631u));
        QCOMPARE(startup.currentDevice, QStringLiteral("ARM-01"));

        const DialogSettings dialog = SettingsReader::readDialog(path);
        QCOMPARE(dialog.highlight, true);
        QCOMPARE(dialog.entryNumber(), 3);
        QCOMPARE(dialog.colour, OptionalColour(8421631u));
    }

    void writtenValuesReadBack_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::newRow("highlight off, preset 1")
            << Settings{false, 1, Settings::presetColour(1), QStringLiteral("ARM-01")};
        QTest::newRow("custom white") << Settings{true, 5, 0xFFFFFFu, QStringLiteral("ROBOT ARM 2")};
        QTest::newRow("custom black, no identity") << Settings{true, 5, 0u, QString()};
        QTest::newRow("all bits set") << Settings{false, 5, 0xFFFFFFFFu, QStringLiteral("X")};
        QTest::newRow("latin-1 identity") << Settings{true, 4, 8454143u, QStringLiteral("BRAS Ä")};
    }
    void writtenValuesReadBack()
    {
        QFETCH(Settings, settings);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QCOMPARE(SettingsWriter::write(path, settings), QString());

        const QByteArray bytes = readAll(path);
        QCOMPARE(bytes.count("\r\n"), 7);
        QVERIFY(bytes.endsWith("\r\n"));

        const StartupSettings startup = SettingsReader::readStartup(path);
        QCOMPARE(startup.hilight, settings.highlight);
        QCOMPARE(startup.selectionColour, OptionalColour(settings.colour));
        QCOMPARE(startup.currentDevice, settings.device);

        const DialogSettings dialog = SettingsReader::readDialog(path);
        QCOMPARE(dialog.highlight, settings.highlight);
        QCOMPARE(dialog.entryNumber(), settings.entry);
        QCOMPARE(dialog.colour, OptionalColour(settings.colour));
    }

    void emptyIdentityIsTwoQuotes()
    {
        const QByteArray bytes = SettingsWriter::format(Settings{false, 2, 10916490u, QString()});
        QVERIFY(bytes.endsWith("[DeviceID]\r\n\"\"\r\n"));
        QVERIFY(bytes.contains("\r\nNo\r\n2\r\n[HighlightColor]\r\n 10916490 \r\n"));
    }

    void identityIsTrimmedUpperCasedAndWrittenBackQuoted()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QVERIFY(writeBytes(path, "[Highlight]\r\nNo\r\n1\r\n[HighlightColor]\r\n 11954481 \r\n"
                                 "[DeviceID]\r\n\" arm-01 \"\r\n"));
        const StartupSettings startup = SettingsReader::readStartup(path);
        QCOMPARE(startup.currentDevice, QStringLiteral("ARM-01"));

        Settings next{false, 1, Settings::presetColour(1), startup.currentDevice};
        QCOMPARE(SettingsWriter::write(path, next), QString());
        QVERIFY(readAll(path).endsWith("[DeviceID]\r\n\"ARM-01\"\r\n"));
    }

    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("hilight");
        QTest::addColumn<OptionalColour>("startupColour");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("entry");
        QTest::addColumn<OptionalColour>("dialogColour");

        const OptionalColour keep;
        QTest::newRow("empty file") << QByteArray() << false << keep << QString() << 0 << keep;
        QTest::newRow("only line 1") << QByteArray("[Highlight]\r\n") << false << keep << QString() << 0 << keep;
        QTest::newRow("first line without line end")
            << QByteArray("[Highlight]") << false << keep << QString() << 0 << keep;
        QTest::newRow("stops after the entry")
            << QByteArray("[Highlight]\r\nYes\r\n4\r\n") << true << keep << QString() << 4 << keep;
        QTest::newRow("stops after the colour")
            << QByteArray("[Highlight]\r\nYes\r\n5\r\n[HighlightColor]\r\n 255 \r\n")
            << true << OptionalColour(255u) << QString() << 5 << OptionalColour(255u);
        QTest::newRow("identity header without identity")
            << QByteArray("[Highlight]\r\nNo\r\n1\r\n[HighlightColor]\r\n 1 \r\n[DeviceID]\r\n")
            << false << OptionalColour(1u) << QString() << 1 << OptionalColour(1u);
        QTest::newRow("empty colour line is black")
            << QByteArray("[Highlight]\r\nYes\r\n5\r\n[HighlightColor]\r\n\r\n[DeviceID]\r\n\"A\"\r\n")
            << true << OptionalColour(0u) << QStringLiteral("A") << 5 << OptionalColour(0u);
        QTest::newRow("blank colour line is black")
            << QByteArray("[Highlight]\r\nYes\r\n5\r\n[HighlightColor]\r\n   \r\n[DeviceID]\r\n\"A\"\r\n")
            << true << OptionalColour(0u) << QStringLiteral("A") << 5 << OptionalColour(0u);
        QTest::newRow("non-numeric colour keeps the colour")
            << QByteArray("[Highlight]\r\nYes\r\n5\r\n[HighlightColor]\r\n red \r\n[DeviceID]\r\n\"A\"\r\n")
            << true << keep << QStringLiteral("A") << 5 << keep;
        QTest::newRow("entry 2 with another colour")
            << QByteArray("[Highlight]\r\nNo\r\n2\r\n[HighlightColor]\r\n 255 \r\n[DeviceID]\r\n\"A\"\r\n")
            << false << OptionalColour(255u) << QStringLiteral("A") << 2 << OptionalColour(255u);
        QTest::newRow("lower-case yes is off")
            << QByteArray("[Highlight]\r\nyes\r\n3\r\n[HighlightColor]\r\n 8421631 \r\n[DeviceID]\r\n\"A\"\r\n")
            << false << OptionalColour(8421631u) << QStringLiteral("A") << 3 << OptionalColour(8421631u);
        QTest::newRow("unknown entry chooses nothing")
            << QByteArray("[Highlight]\r\nNo\r\n03\r\n[HighlightColor]\r\n 8421631 \r\n[DeviceID]\r\n\"A\"\r\n")
            << false << OptionalColour(8421631u) << QStringLiteral("A") << 0 << OptionalColour(8421631u);
        QTest::newRow("headers are not checked, LF line ends")
            << QByteArray("x\nYes\n1\ny\n 11954481 \nz\n\"arm\"") << true << OptionalColour(11954481u)
            << QStringLiteral("ARM") << 1 << OptionalColour(11954481u);
        QTest::newRow("unquoted identity with spaces")
            << QByteArray("[Highlight]\r\nNo\r\n1\r\n[HighlightColor]\r\n 0 \r\n[DeviceID]\r\n  Arm 7  \r\n")
            << false << OptionalColour(0u) << QStringLiteral("ARM 7") << 1 << OptionalColour(0u);
        QTest::newRow("identity missing its closing quote")
            << QByteArray("[Highlight]\r\nNo\r\n1\r\n[HighlightColor]\r\n 0 \r\n[DeviceID]\r\n\" arm\r\n")
            << false << OptionalColour(0u) << QStringLiteral("ARM") << 1 << OptionalColour(0u);
        QTest::newRow("extra lines are ignored")
            << QByteArray("[Highlight]\r\nYes\r\n1\r\n[HighlightColor]\r\n 7 \r\n[DeviceID]\r\n\"B\"\r\nmore\r\n")
            << true << OptionalColour(7u) << QStringLiteral("B") << 1 << OptionalColour(7u);
    }
    void damagedFiles()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QVERIFY(writeBytes(path, contents));

        const StartupSettings startup = SettingsReader::readStartup(path);
        QTEST(startup.hilight, "hilight");
        QTEST(startup.selectionColour, "startupColour");
        QTEST(startup.currentDevice, "device");

        const DialogSettings dialog = SettingsReader::readDialog(path);
        QTEST(dialog.highlight, "hilight");
        QTEST(dialog.entryNumber(), "entry");
        QTEST(dialog.colour, "dialogColour");
    }

    void missingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));

        const StartupSettings startup = SettingsReader::readStartup(path);
        QCOMPARE(startup.hilight, false);
        QCOMPARE(startup.selectionColour, OptionalColour(0u));
        QCOMPARE(startup.currentDevice, QString());

        const DialogSettings dialog = SettingsReader::readDialog(path);
        QCOMPARE(dialog.highlight, false);
        QCOMPARE(dialog.entryNumber(), 0);
        QCOMPARE(dialog.colour, OptionalColour());

        // A folder where the file should be counts as no file.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("KORIV.INI")));
        QCOMPARE(SettingsReader::readStartup(path).selectionColour, OptionalColour(0u));
    }

    void lineValue_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "Yes" << "Yes";
        QTest::newRow("spaces around") << "  Yes  " << "Yes";
        QTest::newRow("quoted keeps inner spaces") << "  \" a b \"  " << " a b ";
        QTest::newRow("quoted stops at closing quote") << "\"ab\"cd" << "ab";
        QTest::newRow("quoted comma is text") << "\"a,b\"" << "a,b";
        QTest::newRow("unclosed quote runs to the end") << "\"abc " << "abc";
        QTest::newRow("comma ends unquoted") << " 12 ,34" << "12";
        QTest::newRow("two quotes") << "\"\"" << "";
        QTest::newRow("empty") << "" << "";
    }
    void lineValue()
    {
        QFETCH(QString, line);
        QTEST(SettingsReader::lineValue(line), "value");
    }

    void colourValue_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<OptionalColour>("colour");
        const OptionalColour none;
        QTest::newRow("as written") << " 8421631 " << OptionalColour(8421631u);
        QTest::newRow("plus sign") << "+42" << OptionalColour(42u);
        QTest::newRow("minus one keeps its bits") << " -1 " << OptionalColour(0xFFFFFFFFu);
        QTest::newRow("largest") << "2147483647" << OptionalColour(2147483647u);
        QTest::newRow("smallest") << "-2147483648" << OptionalColour(0x80000000u);
        QTest::newRow("leading zeros") << "000255" << OptionalColour(255u);
        QTest::newRow("quoted number") << "\" 255 \"" << OptionalColour(255u);
        QTest::newRow("comma ends the number") << "255,0" << OptionalColour(255u);
        QTest::newRow("empty is black") << "" << OptionalColour(0u);
        QTest::newRow("too large") << "2147483648" << none;
        QTest::newRow("too small") << "-2147483649" << none;
        QTest::newRow("far too large") << "99999999999999999999999" << none;
        QTest::newRow("sign alone") << "-" << none;
        QTest::newRow("fraction") << "12.5" << none;
        QTest::newRow("hexadecimal") << "&HFF" << none;
        QTest::newRow("c hexadecimal") << "0xFF" << none;
        QTest::newRow("blank inside") << "1 2" << none;
        QTest::newRow("trailing text") << "255px" << none;
        QTest::newRow("word") << "red" << none;
        QTest::newRow("non-ascii digit") << QString::fromUtf8("\xd9\xa3") << none;
    }
    void colourValue()
    {
        QFETCH(QString, line);
        QTEST(SettingsReader::colourValue(line), "colour");
    }

    void failedSaveKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KORIV.INI"));
        QVERIFY(writeBytes(path, WorkedExample));

        QString error;
        {
            FileSizeLimit limit(8);
            if (!limit.active())
                QSKIP("cannot limit the file size here");
            error = SettingsWriter::write(path, Settings{false, 5, 255u, QStringLiteral("OTHER")});
        }
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        QCOMPARE(readAll(path), WorkedExample);
        // No half-written temporary file is left behind either.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("KORIV.INI")});
    }

    void unwritablePlaceReportsWhy()
    {
        QTemporaryDir dir;
        const QString notAFolder = dir.filePath(QStringLiteral("plain-file"));
        QVERIFY(writeBytes(notAFolder, "x"));
        const QString path = notAFolder + QStringLiteral("/KORIV.INI");

        const QString error = SettingsWriter::write(path, Settings{});
        QVERIFY(!error.isEmpty());
        QCOMPARE(readAll(notAFolder), QByteArray("x"));
    }

    void missingFolderIsCreated()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config/tessaro/KORIV.INI"));
        const Settings settings{true, 3, Settings::presetColour(3), QStringLiteral("ARM-01")};
        QCOMPARE(SettingsWriter::write(path, settings), QString());
        QCOMPARE(readAll(path), WorkedExample);
    }

    void location_data()
    {
        QTest::addColumn<bool>("exeWritable");
        QTest::addColumn<bool>("besideExists");
        QTest::addColumn<bool>("perUserExists");
        QTest::addColumn<bool>("readsPerUser");
        QTest::addColumn<bool>("writesPerUser");
        QTest::newRow("build tree") << true << true << false << false << false;
        QTest::newRow("build tree ignores a per-user file") << true << true << true << false << false;
        QTest::newRow("portable copy without a file yet") << true << false << false << false << false;
        QTest::newRow("installed, first run, shipped copy") << false << true << false << false << true;
        QTest::newRow("installed, first run, no file") << false << false << false << false << true;
        QTest::newRow("installed, saved before") << false << true << true << true << true;
        QTest::newRow("installed, only per-user") << false << false << true << true << true;
    }
    void location()
    {
        QFETCH(bool, exeWritable);
        QFETCH(bool, besideExists);
        QFETCH(bool, perUserExists);
        QTemporaryDir dir;
        QDir root(dir.path());
        QVERIFY(root.mkpath(QStringLiteral("bin")) && root.mkpath(QStringLiteral("config")));
        const QString exeDir = root.filePath(QStringLiteral("bin"));
        const QString configDir = root.filePath(QStringLiteral("config"));
        const QString beside = exeDir + QStringLiteral("/KORIV.INI");
        const QString perUser = configDir + QStringLiteral("/KORIV.INI");
        if (besideExists)
            QVERIFY(writeBytes(beside, WorkedExample));
        if (perUserExists)
            QVERIFY(writeBytes(perUser, WorkedExample));

        const SettingsLocation location = resolveSettingsLocation(exeDir, configDir, exeWritable);
        QFETCH(bool, readsPerUser);
        QFETCH(bool, writesPerUser);
        QCOMPARE(location.readPath, readsPerUser ? perUser : beside);
        QCOMPARE(location.writePath, writesPerUser ? perUser : beside);
    }

    void locationProbesTheExecutableFolder()
    {
        QTemporaryDir dir;
        QDir root(dir.path());
        QVERIFY(root.mkpath(QStringLiteral("bin")));
        const QString configDir = root.filePath(QStringLiteral("config"));
        const QString perUser = configDir + QStringLiteral("/KORIV.INI");

        const QString exeDir = root.filePath(QStringLiteral("bin"));
        QVERIFY(folderIsWritable(exeDir));
        QCOMPARE(resolveSettingsLocation(exeDir, configDir).writePath, exeDir + QStringLiteral("/KORIV.INI"));

        const QString missing = root.filePath(QStringLiteral("gone"));
        QVERIFY(!folderIsWritable(missing));
        QCOMPARE(resolveSettingsLocation(missing, configDir).writePath, perUser);

        const QString plainFile = root.filePath(QStringLiteral("file"));
        QVERIFY(writeBytes(plainFile, "x"));
        QVERIFY(!folderIsWritable(plainFile));
        QCOMPARE(resolveSettingsLocation(plainFile, configDir).writePath, perUser);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
