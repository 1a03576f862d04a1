#include "ArmMotion.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

// tessaro-cli run --return on a realistic virtual arm, as a user would run it: a script of a hundred
// random steps of at most half a second, played with no calibration, then the way back. Every true
// joint must end within 15 % of its range of where it started.
class TestCliReturn : public QObject
{
    Q_OBJECT

private:
    // A script of `steps` random steps, each a motion (or Pause) for 0 to 0.5 s, as an SRP file.
    static QByteArray randomScript(quint32 seed, int steps)
    {
        static const char *const functions[] = {"Pause",    "ShoulderUp", "BaseCCW", "ElbowUp",   "WristUp",  "GripClose",
                                                "ShoulderDown", "BaseCW", "ElbowDown", "WristDown", "GripOpen"};
        std::mt19937 dice(seed);
        QByteArray text = "\" " + QByteArray::number(steps) + "\"\r\n\"Step\",\"Function\",\"Time\"\r\n";
        for (int row = 1; row <= steps; ++row) {
            const char *function = functions[dice() % 11];
            const double seconds = double(dice() % 501) / 1000.0;
            text += "\" " + QByteArray::number(row) + "\",\"" + function + "\",\" " +
                    QByteArray::number(seconds, 'f', 3) + "\"\r\n";
        }
        return text;
    }

    // The joints of a pose line ("Final pose: base 0.0 shoulder 90.0 ..."), in the table's order.
    static QList<double> poseOf(const QString &output, const QString &label)
    {
        const QRegularExpression line(QRegularExpression::escape(label) + QStringLiteral(": (.*)$"),
                                      QRegularExpression::MultilineOption);
        const QString pose = line.match(output).captured(1);
        QList<double> degrees;
        for (const ArmJointMotion &joint : armJointMotions) {
            const QRegularExpression value(QLatin1String(joint.name) + QStringLiteral(" (-?\\d+(?:\\.\\d+)?)"));
            const QRegularExpressionMatch m = value.match(pose);
            if (!m.hasMatch())
                return {};
            degrees << m.captured(1).toDouble();
        }
        return degrees;
    }

private Q_SLOTS:
    void backWithinFifteenPercent_data()
    {
        QTest::addColumn<quint32>("arm");
        QTest::addColumn<quint32>("script");
        QTest::newRow("arm 7") << 7u << 25u;
    }
    void backWithinFifteenPercent()
    {
        QFETCH(quint32, arm);
        QFETCH(quint32, script);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("random.SRP"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(randomScript(script, 100));
        file.close();

        QProcess cli;
        cli.start(QStringLiteral(TESSARO_CLI), {QStringLiteral("run"), path,
                                                QStringLiteral("--virtual-arm-realistic=%1").arg(arm),
                                                QStringLiteral("--return")});
        // A hundred steps of 0.25 s on average, and the way back.
        QVERIFY(cli.waitForFinished(180000));
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0,
                 qPrintable(QString::fromUtf8(cli.readAllStandardError())));
        QVERIFY2(out.contains(QStringLiteral("\nReturned to the start pose (estimated)\n")), qPrintable(out));

        const QList<double> start = poseOf(out, QStringLiteral("Start pose"));
        const QList<double> end = poseOf(out, QStringLiteral("Final pose"));
        QCOMPARE(start.size(), ArmJointCount);
        QCOMPARE(end.size(), ArmJointCount);
        QString errors;
        bool within = true;
        for (int i = 0; i < ArmJointCount; ++i) {
            const double share = std::abs(end[i] - start[i]) / armJointMotions[i].range();
            errors += QStringLiteral(" %1 %2 deg (%3 %)")
                          .arg(QLatin1String(armJointMotions[i].name))
                          .arg(end[i] - start[i], 0, 'f', 1)
                          .arg(share * 100.0, 0, 'f', 1);
            within = within && share <= 0.15;
        }
        qInfo("off the start:%s", qPrintable(errors));
        QVERIFY2(within, qPrintable(out.right(400)));
    }
};

QTEST_GUILESS_MAIN(TestCliReturn)
#include "tst_clireturn.moc"
