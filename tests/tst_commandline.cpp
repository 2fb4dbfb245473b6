// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include "QuorandelVersion.h"

#include <QProcess>
#include <QtTest>

using Action = CommandLine::Action;
Q_DECLARE_METATYPE(CommandLine::Action)

class TstCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("error");
        QTest::newRow("none") << QStringList{} << Action::Run << "";
        QTest::newRow("help") << QStringList{"--help"} << Action::ShowHelp << "";
        QTest::newRow("short version") << QStringList{"-v"} << Action::ShowVersion << "";
        QTest::newRow("first of help and version wins") << QStringList{"-v", "-h"} << Action::ShowVersion << "";
        QTest::newRow("bad option after help") << QStringList{"--help", "--bogus"} << Action::Refuse
                                               << "unknown option '--bogus'";
        QTest::newRow("stray argument") << QStringList{"clock"} << Action::Refuse << "unexpected argument 'clock'";
        QTest::newRow("Qt option with value") << QStringList{"-platform", "offscreen"} << Action::Run << "";
        QTest::newRow("Qt option, two dashes and =") << QStringList{"--style=fusion", "-reverse"} << Action::Run << "";
        QTest::newRow("Qt option without its value") << QStringList{"-v", "-platform"} << Action::Refuse
                                                     << "option '-platform' needs a value";
        QTest::newRow("Qt flag given a value") << QStringList{"-reverse=1"} << Action::Refuse
                                               << "unknown option '-reverse=1'";
        QTest::newRow("value not taken as an option") << QStringList{"-style", "--help"} << Action::Run << "";
        QTest::newRow("headless") << QStringList{"--headless"} << Action::Run << "";
        QTest::newRow("headless and version") << QStringList{"--headless", "--version"} << Action::ShowVersion << "";
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Action, action);
        QFETCH(QString, error);
        const CommandLine line = CommandLine::parse(arguments);
        QCOMPARE(line.action(), action);
        QCOMPARE(line.error(), error);
        QCOMPARE(line.headless(), arguments.contains("--headless"));
    }

    // The built program, with no display and no platform named: these must
    // answer before anything needs a screen.
    void answersWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("quorandel ") + QuorandelVersion + '\n' << QByteArray();
        QTest::newRow("help") << QStringList{"-h"} << 0 << CommandLine::helpText().toUtf8() << QByteArray();
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << QByteArray()
                                        << "quorandel: unknown option '--bogus'\n" + CommandLine::helpText().toUtf8();
    }

    void answersWithoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(QUORANDEL_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        QCOMPARE(program.readAllStandardOutput(), out);
        QCOMPARE(program.readAllStandardError(), err);
    }
};

QTEST_APPLESS_MAIN(TstCommandLine)
#include "tst_commandline.moc"
