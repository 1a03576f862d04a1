#include "DiskFaults.h"
#include "ScriptFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const ScriptRow Header{QStringLiteral("Step"), QStringLiteral("Function"), QStringLiteral("Time")};

QList<ScriptRow> twoStepScript()
{
    return {Header,
            {QStringLiteral(" 1"), QStringLiteral("ElbowUp"), QStringLiteral(" 2.5")},
            {QStringLiteral(" 2"), QStringLiteral("Pause"), QStringLiteral(" 1")}};
}

const QByteArray TwoStepBytes = "\" 2\"\r\n"
                                "\"Step\",\"Function\",\"Time\"\r\n"
                                "\" 1\",\"ElbowUp\",\" 2.5\"\r\n"
                                "\" 2\",\"Pause\",\" 1\"\r\n";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestScriptFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writesTheFormatByteForByte() { QCOMPARE(ScriptFileBytes(twoStepScript()), TwoStepBytes); }

    void emptyScriptWritesCountZeroAndHeader()
    {
        QCOMPARE(ScriptFileBytes({Header}), QByteArray("\" 0\"\r\n\"Step\",\"Function\",\"Time\"\r\n"));
    }

    void quotesInsideCellsAreNotEscaped()
    {
        const QList<ScriptRow> rows{Header, {QStringLiteral(" 1"), QStringLiteral("a\"b"), QString()}};
        QCOMPARE(ScriptFileBytes(rows), QByteArray("\" 1\"\r\n\"Step\",\"Function\",\"Time\"\r\n"
                                                   "\" 1\",\"a\"b\",\"\"\r\n"));
    }

    void roundTripThroughADisk()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("arm.SRP"));
        QCOMPARE(WriteScriptFile(path, twoStepScript()), QString());
        QCOMPARE(readAll(path), TwoStepBytes);

        const ScriptLoad load = LoadScriptFile(path);
        QVERIFY(load.error.isEmpty());
        QVERIFY(load.countValid);
        QCOMPARE(int(load.nextStep), 3);
        QCOMPARE(load.rowsToAppend, 0);
        QCOMPARE(load.records, twoStepScript());
    }

    void saveReplacesTheOldFileWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("long.SRP"));
        QVERIFY(writeBytes(path, QByteArray(4096, 'x')));
        QCOMPARE(WriteScriptFile(path, {Header}), QString());
        QCOMPARE(readAll(path), QByteArray("\" 0\"\r\n\"Step\",\"Function\",\"Time\"\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("long.SRP")});
    }

    void saveNeverWritesIntoTheOldFile()
    {
        // A second name for the old file's content shows whether it was truncated in place.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("script.SRP"));
        const QString link = dir.filePath(QStringLiteral("old.SRP"));
        QVERIFY(writeBytes(path, TwoStepBytes));
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()), 0);
        QCOMPARE(WriteScriptFile(path, {Header}), QString());
        QCOMPARE(readAll(link), TwoStepBytes);
        QCOMPARE(readAll(path), QByteArray("\" 0\"\r\n\"Step\",\"Function\",\"Time\"\r\n"));
    }

    void saveFaultsKeepTheOldFile_data() { addDiskFaultRows(); }

    void saveFaultsKeepTheOldFile()
    {
        QFETCH(DiskFault, fault);
        QFETCH(QString, reason);
        const QList<ScriptRow> rows{Header};
        const SaveOutcome outcome =
            saveUnder(fault, QStringLiteral("kept.SRP"), TwoStepBytes,
                      [&](const QString &path) { return WriteScriptFile(path, rows); });
        if (!outcome.skip.isEmpty())
            QSKIP(qPrintable(outcome.skip));
        if (reason.isEmpty()) {
            QCOMPARE(outcome.error, QString());
            QCOMPARE(outcome.after, ScriptFileBytes(rows));
        } else {
            const QString named =
                QStringLiteral("Cannot write %1: ").arg(QDir::toNativeSeparators(outcome.target));
            QVERIFY2(outcome.error.startsWith(named), qPrintable(outcome.error));
            QVERIFY2(outcome.error.contains(reason, Qt::CaseInsensitive), qPrintable(outcome.error));
            QCOMPARE(outcome.after, TwoStepBytes);
        }
        QVERIFY(outcome.linkKept);
        QCOMPARE(outcome.leftovers, QStringList());
    }

    void saveIntoMissingFolderReports()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("no/such/folder/x.SRP"));
        const QString error = WriteScriptFile(path, twoStepScript());
        QVERIFY(error.startsWith(QStringLiteral("Cannot write ")));
        QVERIFY(!QFile::exists(path));
    }

    void unreadableFileIsAnErrorNamingIt()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("missing.SRP"));
        ScriptLoad load = LoadScriptFile(missing);
        QVERIFY(load.error.startsWith(QStringLiteral("Cannot read ")));
        QVERIFY(load.error.contains(QStringLiteral("missing.SRP")));
        QVERIFY(!load.countValid);
        QVERIFY(load.records.isEmpty());

        load = LoadScriptFile(dir.path());
        QVERIFY2(!load.error.isEmpty(), "a folder is not a script");
    }

    void fields_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("quoted") << QByteArray("\"a\",\"b c\"\r\n") << QStringList{"a", "b c"};
        QTest::newRow("unquoted") << QByteArray("Step,Function,Time\r\n")
                                  << QStringList{"Step", "Function", "Time"};
        QTest::newRow("line ends separate like commas")
            << QByteArray("a\r\nb\nc\rd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("blanks and tabs before a field skipped")
            << QByteArray("  \t\" x\",\t y") << QStringList{" x", "y"};
        QTest::newRow("trailing blanks of unquoted field trimmed")
            << QByteArray("a  \t,b ") << QStringList{"a", "b"};
        QTest::newRow("blanks inside unquoted field kept") << QByteArray("a b,c") << QStringList{"a b", "c"};
        QTest::newRow("comma inside quotes") << QByteArray("\"a,b\",c") << QStringList{"a,b", "c"};
        QTest::newRow("rest after closing quote skipped")
            << QByteArray("\"a\"junk,\"b\" x\r\nc") << QStringList{"a", "b", "c"};
        QTest::newRow("empty between commas") << QByteArray("a,,b") << QStringList{"a", "", "b"};
        QTest::newRow("empty quoted") << QByteArray("\"\",x") << QStringList{"", "x"};
        QTest::newRow("empty line is an empty field")
            << QByteArray("a\r\n\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("comma at end gives an empty field") << QByteArray("a,") << QStringList{"a", ""};
        QTest::newRow("line end at end gives none") << QByteArray("a\r\n") << QStringList{"a"};
        QTest::newRow("unterminated quote runs to the end")
            << QByteArray("\"ab\r\ncd") << QStringList{"ab\r\ncd"};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("single-byte text")
            << QByteArray("\"\xe9t\xe9\"") << QStringList{QStringLiteral("\u00e9t\u00e9")};
    }
    void fields()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, fields);
        QCOMPARE(QStringList(ScriptFileFields(bytes)), fields);
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("countValid");
        QTest::addColumn<int>("nextStep");
        QTest::addColumn<int>("rowsToAppend");
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("warning"); // for a file at /s/a.SRP; empty when it was read whole
        QTest::addColumn<bool>("notAScript");
        const QString missing =
            QStringLiteral("/s/a.SRP announces %1 steps but holds only %2; the missing steps are left empty.");
        const QString tooLarge =
            QStringLiteral("/s/a.SRP announces %1 steps; a script holds at most 32766, so no step was read.");
        QTest::newRow("worked example") << TwoStepBytes << true << 3 << 0 << 3 << QString() << false;
        QTest::newRow("zero steps reads the header only")
            << QByteArray("\" 0\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"Pause\",\" 1\"\r\n") << true
            << 1 << 0 << 1 << QString() << false;
        QTest::newRow("negative count is an empty script")
            << QByteArray("\"-4\"\r\n\"Step\",\"Function\",\"Time\"\r\n") << true << 1 << 0 << 1 << QString() << false;
        QTest::newRow("fewer steps than announced keeps those held")
            << QByteArray("\" 5\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"Pause\",\" 1\"\r\n") << true
            << 6 << 0 << 2 << missing.arg(5).arg(1) << false;
        QTest::newRow("record cut short is dropped")
            << QByteArray("\" 2\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"Pause\",\" 1\"\r\n\" "
                          "2\",\"Pause\"\r\n")
            << true << 3 << 0 << 2 << missing.arg(2).arg(1) << false;
        QTest::newRow("more records than announced are ignored")
            << QByteArray("\" 1\"\r\nS,F,T\r\n1,a,1\r\n2,b,2\r\n") << true << 2 << 0 << 2 << QString() << false;
        QTest::newRow("count rounds half to even") << QByteArray("\"1.5\"\r\n") << true << 2 << 0 << 0
                                                    << missing.arg(1).arg(0) << false;
        QTest::newRow("largest count that fits") << QByteArray("\"32766\"") << true << 32767 << 32758 << 0
                                                   << missing.arg(32766).arg(0) << false;
        QTest::newRow("count beyond the step counter")
            << QByteArray("\"32767\"\r\nS,F,T\r\n") << false << 1 << 0 << 0 << tooLarge.arg(32767) << false;
        QTest::newRow("count beyond a double")
            << QByteArray("\"1E999\"\r\nS,F,T\r\n") << false << 1 << 0 << 0 << tooLarge.arg("1E999") << false;
        QTest::newRow("count too low for the counter gives an empty script")
            << QByteArray("\"-40000\"\r\nS,F,T\r\n") << false << 1 << 0 << 0 << QString() << false;
        QTest::newRow("UTF-8 byte-order mark before the count")
            << QByteArray("\xEF\xBB\xBF") + TwoStepBytes << true << 3 << 0 << 3 << QString() << false;
        QTest::newRow("empty file") << QByteArray() << false << 1 << 0 << 0 << QString() << true;
        QTest::newRow("count that is no number")
            << QByteArray("\"many\"\r\nS,F,T\r\n") << false << 1 << 0 << 0 << QString() << true;
        QTest::newRow("plain text") << QByteArray("Shopping list\r\n3 apples, pears\r\n") << false << 1 << 0 << 0
                                    << QString() << true;
        QTest::newRow("a number and more") << QByteArray("3 apples\r\n") << false << 1 << 0 << 0 << QString()
                                           << true;
    }
    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, countValid);
        QFETCH(int, nextStep);
        QFETCH(int, rowsToAppend);
        QFETCH(int, records);
        QFETCH(QString, warning);
        QFETCH(bool, notAScript);
        const ScriptLoad load = ParseScriptFile(bytes);
        QCOMPARE(load.notAScript, notAScript);
        QVERIFY(load.error.isEmpty());
        QCOMPARE(load.countValid, countValid);
        QCOMPARE(int(load.nextStep), nextStep);
        QCOMPARE(load.rowsToAppend, rowsToAppend);
        QCOMPARE(load.records.size(), records);
        QCOMPARE(ScriptLoadWarning(load, QStringLiteral("/s/a.SRP")), warning);
    }

    void twentyStepsGiveTwentySixRows()
    {
        QByteArray bytes = "\" 20\"\r\n\"Step\",\"Function\",\"Time\"\r\n";
        for (int s = 1; s <= 20; ++s)
            bytes += "\" " + QByteArray::number(s) + "\",\"BaseCW\",\" .25\"\r\n";
        const ScriptLoad load = ParseScriptFile(bytes);
        QCOMPARE(int(load.nextStep), 21);
        QCOMPARE(14 + load.rowsToAppend, 26);
        QCOMPARE(load.records.size(), 21);
        QCOMPARE(load.records.last(),
                 (ScriptRow{QStringLiteral(" 20"), QStringLiteral("BaseCW"), QStringLiteral(" .25")}));
    }

    void unquotedFileLoadsTheSameTexts()
    {
        const QByteArray unquoted = "2\r\nStep,Function,Time\r\n 1,ElbowUp, 2.5\r\n 2,Pause, 1\r\n";
        const ScriptLoad load = ParseScriptFile(unquoted);
        QCOMPARE(int(load.nextStep), 3);
        // Blanks before an unquoted field are skipped, so the NumberText blank is gone.
        QCOMPARE(load.records.at(0), Header);
        QCOMPARE(load.records.at(1),
                 (ScriptRow{QStringLiteral("1"), QStringLiteral("ElbowUp"), QStringLiteral("2.5")}));
        QCOMPARE(load.records.at(2),
                 (ScriptRow{QStringLiteral("2"), QStringLiteral("Pause"), QStringLiteral("1")}));
    }

    void loadedHeaderReplacesTheHeaderTexts()
    {
        const ScriptLoad load = ParseScriptFile("\" 0\"\r\n\"Nr\",\"Motion\",\"Seconds\"\r\n");
        QCOMPARE(load.records.value(0),
                 (ScriptRow{QStringLiteral("Nr"), QStringLiteral("Motion"), QStringLiteral("Seconds")}));
    }
};

QTEST_GUILESS_MAIN(TestScriptFile)
#include "tst_scriptfile.moc"
