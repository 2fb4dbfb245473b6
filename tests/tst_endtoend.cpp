// SPDX-License-Identifier: GPL-3.0-or-later
#include "Waits.h"
#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include "QuorandelVersion.h"

#include <QtTest>

// The built program, run as a user would: from a scratch folder, with its own
// data folder, on the offscreen platform.
class TstEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }
    void startServeAndStopOnSigterm();
    void messageLineOnStderr();
    void headlessRunsFromTheWeb();
    void exitSignalDuringStartUp();
};

static QByteArray fetch(const QByteArray &path)
{
    return exchange("GET " + path + " HTTP/1.0\r\n\r\n");
}

// Every folder the program reads or writes lies in the scratch folder, so the
// user's own settings and files are never touched. `removed` are variables
// taken out of the environment.
static bool launch(QProcess &program, const QTemporaryDir &scratch, const QStringList &arguments = {},
                   const QStringList &removed = {}, QProcess::ProcessChannelMode mode = QProcess::ForwardedErrorChannel)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", scratch.filePath("data"));
    env.insert("XDG_CONFIG_DIRS", scratch.filePath("etc"));
    env.insert("XDG_CONFIG_HOME", scratch.filePath("config"));
    env.insert("XDG_STATE_HOME", scratch.filePath("state"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const QString &variable : removed)
        env.remove(variable);
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(scratch.path());
    program.setProcessChannelMode(mode);
    program.start(QStringLiteral(QUORANDEL_PROGRAM), arguments);
    return program.waitForStarted();
}

void TstEndToEnd::startServeAndStopOnSigterm()
{
    QTemporaryDir scratch;
    UdpCatcher rate(7792);
    QProcess program;
    QVERIFY(launch(program, scratch));
    QTRY_COMPARE_WITH_TIMEOUT(rate.datagrams().size(), 1000, 10000);
    QCOMPARE(rate.datagrams().count("0"), 1000);

    // The web root is the export folder, made by the first export a second in.
    const QString png = scratch.filePath("data/Quorandel/Quorandel.png");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(png), 5000);
    const QByteArray listing = fetch("/");
    QVERIFY2(listing.startsWith("HTTP/1.0 200 OK\nServer: " + QByteArray(QuorandelCaption) + "\nContent-Type: text/html\n"),
             listing.left(200).constData());
    QVERIFY(listing.contains("<a href=\"/Quorandel.png\">Quorandel.png</a>"));
    const QByteArray picture = fetch("/Quorandel.png");
    const qsizetype bodyAt = picture.indexOf("\n\n") + 2;
    QVERIFY2(picture.startsWith("HTTP/1.0 200 OK\nServer: " + QByteArray(QuorandelCaption) + "\nContent-Type: image/png\n"),
             picture.left(200).constData());
    QCOMPARE(QImage::fromData(picture.mid(bodyAt), "PNG").size(), QSize(1361, 865));

    rate.clear();
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QTest::qWait(200);
    QCOMPARE(rate.datagrams().size(), 10);
    QCOMPARE(rate.datagrams().count("0"), 10);
}

// A person running the program reads its messages on stderr, one line each.
void TstEndToEnd::messageLineOnStderr()
{
    QTemporaryDir scratch;
    QVERIFY(QDir(scratch.path()).mkpath("etc/Quorandel"));
    QFile registry(scratch.filePath("etc/Quorandel/Quorandel.reg"));
    QVERIFY(registry.open(QIODevice::WriteOnly) && registry.write("not a registry file\n") > 0);
    registry.close();
    QProcess program;
    QVERIFY(launch(program, scratch, {}, {"QT_MESSAGE_PATTERN"}, QProcess::SeparateChannels));
    const QByteArray line = "\nquorandel: logging switches left off: " + QFile::encodeName(registry.fileName())
        + ": not a registry file";
    QByteArray errors = "\n";  // so that the first line starts like every other
    const auto said = [&] {
        errors += program.readAllStandardError();
        return errors.contains(line);
    };
    QTRY_VERIFY_WITH_TIMEOUT(said(), 10000);
    program.kill();
    QVERIFY(program.waitForFinished(10000));
}

// With --headless and no display of any kind: the live page is served, the
// clock is started from it, the picture is written, and SIGTERM stores it all.
void TstEndToEnd::headlessRunsFromTheWeb()
{
    QTemporaryDir scratch;
    QVERIFY(QDir(scratch.path()).mkpath("config/Quorandel"));
    QFile conf(scratch.filePath("config/Quorandel/quorandel.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("[remote]\npassword=semaphore\n") > 0);
    conf.close();
    QVERIFY(conf.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    UdpCatcher rate(7792);
    QProcess program;
    QVERIFY(launch(program, scratch, {"--headless"}, {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}));
    QTRY_VERIFY_WITH_TIMEOUT(program.canReadLine(), 10000);
    const QByteArray line = program.readLine();
    QVERIFY2(QRegularExpression("^Quorandel live clock: http://[0-9.]+:8080/quorandel/\n$").match(line).hasMatch(),
             line.constData());

    QVERIFY(fetch("/quorandel/").startsWith("HTTP/1.0 200 OK\n"));
    const QByteArray control = "POST /quorandel/control HTTP/1.1\r\nAuthorization: Bearer semaphore\r\nContent-Length: ";
    const QByteArray set = exchange(control + "28\r\n\r\naction=set&speed=8&time=6:00");
    QVERIFY2(set.startsWith("HTTP/1.0 204 No Content\n"), set.constData());
    rate.clear();
    QVERIFY(exchange(control + "12\r\n\r\naction=start").startsWith("HTTP/1.0 204 No Content\n"));
    QTRY_VERIFY_WITH_TIMEOUT(rate.datagrams().contains("125"), 3000);  // 8:1's trim, rounded
    const QString png = scratch.filePath("data/Quorandel/Quorandel.png");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(png), 5000);
    QCOMPARE(QImage(png).size(), QSize(1361, 865));
    QTest::qWait(1000);  // eight model seconds

    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    SettingsStore store(scratch.filePath("QuorandelDB.mdb"));
    QVERIFY(store.Open());
    QCOMPARE(store.ReadField(SettingsField::ClockSpeed).toInt(), 8);
    const double seconds = store.ReadField(SettingsField::ClockTime).toDouble() * 86400.0;
    QVERIFY2(seconds > 6 * 3600 + 4 && seconds < 6 * 3600 + 60, qPrintable(QString::number(seconds)));
}

// A stop signal that comes while the program is still starting (here the
// moment its web port answers) gets the same orderly end as one after it.
void TstEndToEnd::exitSignalDuringStartUp()
{
    QTemporaryDir scratch;
    UdpCatcher rate(7792);
    QProcess program;
    QVERIFY(launch(program, scratch));
    QTcpSocket probe;
    QVERIFY(QTest::qWaitFor([&] {
        probe.abort();
        probe.connectToHost(QHostAddress::LocalHost, 8080);
        return probe.waitForConnected(5);
    }, 10000));
    ::kill(pid_t(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(rate.datagrams().size(), 1010, 5000);  // the start-up's marks, then the exit's
    QVERIFY(QFile::exists(scratch.filePath("QuorandelDB.mdb")));
}

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
