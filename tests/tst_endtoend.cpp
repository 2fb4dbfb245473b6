#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "settings/SettingsStore.h"

#include <QImage>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// The built program, run as a user would: from a scratch folder, with its own
// data folder, on the offscreen platform.
class TstEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }
    void startServeAndStopOnSigterm();

private:
    static QByteArray fetch(const QByteArray &path);
};

QByteArray TstEndToEnd::fetch(const QByteArray &path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, 8080);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write("GET " + path + " HTTP/1.0\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(3000))
        response += socket.readAll();
    return response + socket.readAll();
}

void TstEndToEnd::startServeAndStopOnSigterm()
{
    QTemporaryDir scratch;
    UdpCatcher rate(7792);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", scratch.filePath("data"));
    env.insert("XDG_CONFIG_DIRS", scratch.filePath("etc"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(scratch.path());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(QUORANDEL_PROGRAM), {});
    QVERIFY(program.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(rate.datagrams().size(), 1000, 10000);
    QCOMPARE(rate.datagrams().count("0"), 1000);

    // The web root is the export folder, made by the first export a second in.
    const QString png = scratch.filePath("data/Quorandel/Quorandel.png");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(png), 5000);
    const QByteArray listing = fetch("/");
    QVERIFY2(listing.startsWith("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: text/html\n"),
             listing.left(200).constData());
    QVERIFY(listing.contains("<a href=\"/Quorandel.png\">Quorandel.png</a>"));
    const QByteArray picture = fetch("/Quorandel.png");
    const qsizetype bodyAt = picture.indexOf("\n\n") + 2;
    QVERIFY2(picture.startsWith("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: image/png\n"),
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

    SettingsStore store(scratch.filePath("QuorandelDB.mdb"));
    QVERIFY(store.Open());
    QCOMPARE(store.ReadField(SettingsField::LPort).toString(), QString("8080"));
    QCOMPARE(store.ReadField(SettingsField::WebRoot).toString(), scratch.filePath("data/Quorandel"));
    QCOMPARE(store.ReadField(SettingsField::RatioX8).toString(),
             QString("125") + QLocale::system().decimalPoint() + "485");
}

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
