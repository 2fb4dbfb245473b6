// SPDX-License-Identifier: GPL-3.0-or-later
#include "DisplayDevice.h"
#include "FakeHub.h"
#include "Fixtures.h"
#include "PrivateNetwork.h"

#include "app/About.h"
#include "app/FPortula.h"
#include "app/frmSetSpeed.h"
#include "app/frmSetTime.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <QtTest>
#include <QtWidgets>

// The fast-clock datagrams that reach a port of the group, each as its
// key=value pairs.
struct GroupListener : QObject
{
    QUdpSocket socket;
    QList<QMap<QByteArray, QByteArray>> heard;
    GroupListener()
    {
        socket.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        socket.joinMulticastGroup(QHostAddress(QStringLiteral("239.50.50.20")));
        connect(&socket, &QUdpSocket::readyRead, this, [this] {
            while (socket.hasPendingDatagrams()) {
                QMap<QByteArray, QByteArray> pairs;
                for (const QByteArray &line : socket.receiveDatagram().data().split('\n')) {
                    const qsizetype equals = line.indexOf('=');
                    if (equals > 0)
                        pairs.insert(line.left(equals), line.mid(equals + 1).trimmed());
                }
                heard << pairs;
            }
        });
    }
    QByteArray last(const QByteArray &key) const { return heard.isEmpty() ? QByteArray() : heard.last().value(key); }
};

// Start-up broadcasts its stop marks, so every test here runs in the private
// network.
class TstFPortula : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScratchRun> m_run;

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        m_run = std::make_unique<ScratchRun>();
    }

    void firstRunThenStartAndStop()
    {
        FPortula w(m_run->paths());
        const int designHeight = w.height();
        QString error;
        QVERIFY2(w.Form_Load(&error), qPrintable(error));
        w.show();
        QVERIFY(QFile::exists(m_run->paths().settingsFile));
        QCOMPARE(w.settings().WebRoot, m_run->paths().exportFolder);
        QCOMPARE(w.clock().timer1().interval(), 0);
        // Designed wider than it may be; the height is within the limit.
        QCOMPARE(w.frameGeometry().width(), FPortula::MaxOuterWidth);
        QCOMPARE(w.height(), designHeight);

        QVERIFY(!w.Picture2->isVisible());
        QVERIFY(w.Text2->text().startsWith(QStringLiteral("Quorandel Web Server is ")));
        QVERIFY(w.Text2->text().endsWith(QStringLiteral(":8080")));

        w.clock().setSpeed(8);
        w.StartClock->click();
        QCOMPARE(w.clock().timer1().interval(), 125);
        QTRY_COMPARE_WITH_TIMEOUT(w.Text1->text(), QStringLiteral("00:00 "), 1000);
        w.Stopclock->click();
        const double stoppedAt = w.clock().clockTime();
        QTest::qWait(300);
        QCOMPARE(w.clock().clockTime(), stoppedAt);
    }

    // The slave clocks hear of every start, stop, speed and time set at once,
    // and a last "stopped" at the exit.
    void fastClockFollowsTheClock()
    {
        GroupListener group;
        QVERIFY(m_run->writeExtensionSettings("[fastclock]\nenabled=true\ninterval=15\nname=Layout A\nport="
                                              + QByteArray::number(group.socket.localPort()) + '\n'));
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        QTRY_COMPARE_WITH_TIMEOUT(group.heard.size(), 1, kWait);
        QCOMPARE(group.last("name"), QByteArray("Layout A"));
        QCOMPARE(group.last("ip-port"), QByteArray("8080"));
        QCOMPARE(group.last("active"), QByteArray("no"));
        const auto next = [&](const std::function<void()> &act) {
            const qsizetype before = group.heard.size();
            act();
            return QTest::qWaitFor([&] { return group.heard.size() > before; }, 1000);
        };
        QVERIFY(next([&] { w->StartClock->click(); }));
        QCOMPARE(group.last("active"), QByteArray("yes"));
        QVERIFY(next([&] { chooseSpeed(*w, 8); }));
        QCOMPARE(group.last("speed"), QByteArray("1"));  // still counted at 1:1 until Start
        QVERIFY(next([&] { setTimeByDialog(*w, "6", "30"); }));
        QCOMPARE(group.last("clock"), QByteArray("06:30:00"));
        QCOMPARE(group.last("active"), QByteArray("no"));  // held: the model time stands still
        QVERIFY(next([&] { w->StartClock->click(); }));
        QCOMPARE(group.last("speed"), QByteArray("8"));
        QVERIFY(next([&] { w->nEnd->trigger(); }));
        QCOMPARE(group.last("active"), QByteArray("no"));
        const qsizetype atExit = group.heard.size();
        QTest::qWait(500);
        QCOMPARE(group.heard.size(), atExit);
    }

    // The display push goes where the settings file says; an address that is
    // none is reported and the usual one kept.
    void displayAtAnotherAddress()
    {
        QTcpServer probe;  // a free port on the other end of the private link
        QVERIFY(probe.listen(QHostAddress("10.77.0.2"), 0));
        const quint16 port = probe.serverPort();
        probe.close();
        DisplayDevice device("10.77.0.2", port);
        QVERIFY(device.isListening());
        QVERIFY(m_run->writeExtensionSettings("[display]\naddress=10.77.0.2\nport=" + QByteArray::number(port) + '\n'));
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        w->StartClock->click();
        QTRY_VERIFY_WITH_TIMEOUT(device.received.startsWith("\xE8\x03"), kWait);

        w.reset();
        m_run = std::make_unique<ScratchRun>();
        QVERIFY(m_run->writeExtensionSettings("[display]\naddress=192.168.1.999\n"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("address=192\\.168\\.1\\.999 is not an IPv4 address"));
        auto other = m_run->started();
        QVERIFY2(other, qPrintable(m_run->startError));
        QCOMPARE(other->push().deviceAddress(), DisplayPush::DeviceAddress);
        QCOMPARE(other->push().devicePort(), DisplayPush::DevicePort);
    }

    void sizeLimits_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("limited");
        QTest::addColumn<bool>("byPanel");  // applied when the panel is resized, not called
        QTest::newRow("too wide and high") << QSize(1500, 1101) << QSize(1350, 1100) << false;
        QTest::newRow("one pixel too wide") << QSize(1351, 700) << QSize(1350, 700) << true;
        QTest::newRow("smaller stays") << QSize(1000, 700) << QSize(1000, 700) << true;
    }
    void sizeLimits()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, limited);
        QFETCH(bool, byPanel);
        FPortula w(m_run->paths());
        w.show();
        w.resize(size - (w.frameGeometry().size() - w.size()));
        QCOMPARE(w.frameGeometry().size(), size);
        if (byPanel)
            w.Picture1->resize(w.Picture1->size() + QSize(0, 1));
        else
            w.applySizeLimits();
        QCOMPARE(w.frameGeometry().size(), limited);
    }

    void digitsAndStatusLinesStayVisible()
    {
        FPortula w(m_run->paths());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.Text1->setText(QStringLiteral("88:88 "));
        const QImage image = w.Text1->grab().toImage();  // alone, so the panel cannot hide misplaced digits
        QRect digits;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                digits |= qGray(image.pixel(x, y)) < 20 ? QRect(x, y, 1, 1) : QRect();
        digits.translate(w.Text1->pos());
        const QRect box = w.Text1->geometry();
        const int panelRight = w.Picture1->geometry().right();
        const int clientWidth = w.centralWidget()->width();
        QVERIFY2(digits.left() > panelRight, "digits hidden under the status panel");
        QVERIFY2(digits.right() < clientWidth, "digits beyond the window's edge");
        QVERIFY(digits.top() > box.top() && digits.bottom() < box.bottom());
        QVERIFY2(digits.height() > box.height() * 0.6, qPrintable(QString::number(digits.height())));
        QVERIFY2(digits.width() > (clientWidth - panelRight) * 0.75, qPrintable(QString::number(digits.width())));

        // Far enough down, a connection's status line lies over the digits' box.
        QLabel *label = w.LFileProgress(15);
        QVERIFY(label && label->isVisible() && w.LFileProgress(15) == label && !w.LFileProgress(-1));
        const QPoint middle = w.Picture1->mapToParent(label->geometry().center());
        QVERIFY(box.contains(middle));
        QCOMPARE(w.centralWidget()->childAt(middle), label);
    }

    void oneWindowEach_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("speed dialog") << 0;
        QTest::newRow("time dialog") << 1;
        QTest::newRow("About") << 2;
    }
    void oneWindowEach()
    {
        QFETCH(int, which);
        FPortula w(m_run->paths());
        w.show();
        const auto open = [&]() -> QWidget * {
            (which == 2 ? w.nHelp : w.nFast)->trigger();
            if (which == 1)
                w.setSpeedWindow()->btnDone->click();
            return which == 0 ? static_cast<QWidget *>(w.setSpeedWindow())
                 : which == 1 ? static_cast<QWidget *>(w.setTimeWindow()) : w.aboutWindow();
        };
        QPointer<QWidget> first = open();
        QVERIFY(first && first->isVisible() && !first->isModal());
        QCOMPARE(open(), first.data());
        int shown = 0;
        for (QWidget *top : QApplication::topLevelWidgets())
            shown += top->isVisible() && top->metaObject() == first->metaObject();
        QCOMPARE(shown, 1);
        first->close();
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 1000);
        QVERIFY(open()->isVisible());
    }

    // The window's clock on the layout network: the program's own start-up
    // at a hub, a Start told through the followers' hook, and a set event
    // from the network carried out and noted as the web control's are.
    void layoutNetworkFollowsTheWindow()
    {
        FakeHub hub;
        QVERIFY(hub.listen());
        QVERIFY(m_run->writeExtensionSettings("[lcc]\nhub=127.0.0.1:" + QByteArray::number(hub.port())
                                              + "\nnode=02.01.0D.00.00.03\ncontrol=true\nname=Hall 2\n"));
        QVERIFY(m_run->writeRegistry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n"
                                     "\"FileLog\"=\"True\"\n"));
        std::unique_ptr<FPortula> w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        QVERIFY(w->lcc().isEnabled());
        const QByteArray alias = QByteArray::number(w->lcc().node().alias(), 16).rightJustified(3, '0').toUpper();
        const auto event = [&](const char *mti, const char *suffix) {
            return ":X19" + QByteArray(mti) + alias + "N010100000100" + suffix + ";";
        };
        QVERIFY(hub.waitFor(event("544", "0000"), 0, kWait) > 0);

        // Start Clock: its event follows.
        const int from = int(hub.texts.size());
        w->StartClock->click();
        const int came = hub.waitFor(event("5B4", "F002"), from, kWait);
        QVERIFY(came >= 0);

        // 8:1 from the network while running: the window's choice and Start.
        hub.send(":X195B4AAAN010100000100C020;");
        QVERIFY(hub.waitFor(event("5B4", "4020"), came, kWait) > 0);
        QCOMPARE(w->clock().countedSpeed(), qint16(8));
        QCOMPARE(w->clock().timer1().interval(), 125);
        QVERIFY(QTest::qWaitFor([&] { return m_run->requestLog().contains(": LCC alias AAA: control accepted: set rate 8:1"); }, kWait));
    }
};

QTEST_MAIN(TstFPortula)
#include "tst_fportula.moc"
