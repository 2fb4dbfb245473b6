// SPDX-License-Identifier: GPL-3.0-or-later
// Every channel tells the same clock. The master clock is built as the
// program builds it, without a window, and driven the way each controller
// drives it (the window's handlers, the live page's control, the layout
// network's set events); after each step the broadcast, the display push, the
// multicast, the live page's stream and state, the LCC events and the
// throttles' JMRI, DCC-EX station and Z21 must all say what the master counts.

#include "DisplayDevice.h"
#include "FakeThrottles.h"
#include "Waits.h"
#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "app/MasterClock.h"
#include "clock/ClockTime.h"
#include "web/SlotStatus.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

struct NoStatus : SlotStatus
{
    void loadSlot(int) override {}
    void setSlotText(int, const QString &) override {}
    QString slotText(int) const override { return {}; }
};

// The LCC hub: what the node says, and a way to speak to it.
struct Hub : QTcpServer
{
    QByteArray heard;
    QPointer<QTcpSocket> node;
    Hub()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            node = nextPendingConnection();
            connect(node, &QIODevice::readyRead, this, [this] { heard += node->readAll(); });
        });
    }
    // The suffix of the newest Broadcast Time event of the clock among `suffixes`.
    QByteArray latest(const QByteArrayList &suffixes) const
    {
        qsizetype best = -1;
        QByteArray found;
        for (const QByteArray &s : suffixes) {
            const qsizetype at = heard.lastIndexOf("N010100000100" + s + ';');
            if (at > best)
                best = at, found = s;
        }
        return found;
    }
};

struct Step
{
    const char *what;
    std::function<void()> act;
    bool running;
    int speed;          // counted
    QByteArray time;    // "HH:MM" when the step sets it
};

QByteArray post(quint16 port, const QByteArray &form)
{
    return exchange("POST /quorandel/control HTTP/1.1\r\nAuthorization: Bearer pw\r\nContent-Length: "
                        + QByteArray::number(form.size()) + "\r\n\r\n" + form,
                    port);
}

}  // namespace

class TstMaster : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }
    void everyChannelTellsTheSame();
    void sessionComesBack_data();
    void sessionComesBack();
};

void TstMaster::everyChannelTellsTheSame()
{
    QTemporaryDir dir;
    UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort), group(0, QStringLiteral("239.50.50.20"));
    DisplayDevice device(QStringLiteral("10.77.0.2"), 0);
    Hub hub;
    FakeJmri jmri;
    FakeStation station;
    FakeZ21 z21;
    QFile conf(dir.filePath("quorandel.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[remote]\npassword=pw\n[fastclock]\nenabled=true\ninterval=15\nport=" + QByteArray::number(group.port())
               + "\n[display]\naddress=10.77.0.2\nport=" + QByteArray::number(device.serverPort())
               + "\n[lcc]\nnode=02.01.0D.00.00.03\ncontrol=true\nhub=127.0.0.1:" + QByteArray::number(hub.serverPort())
               + "\n[jmri]\nserver=127.0.0.1:" + QByteArray::number(jmri.serverPort()) + "\n[dccex]\nstation=127.0.0.1:"
               + QByteArray::number(station.serverPort()) + "\n[z21]\nstation=127.0.0.1:" + QByteArray::number(z21.localPort())
               + "\n[session]\ndate=1957-06-14\n[alarms]\n1=06:45 stop End of session\n");
    conf.close();
    conf.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    NoStatus status;
    MasterClock m({dir.filePath("QuorandelDB.mdb"), {}, dir.filePath("export"), dir.path(), conf.fileName()}, status, {},
                  QStringLiteral("Quorandel 1.40"));
    QString error;
    QVERIFY2(m.loadSettings([] {}, &error), qPrintable(error));
    m.settings().LPort = QStringLiteral("0");  // a port of the OS's choosing
    m.startPublishing();
    const quint16 port = m.web().localPort();
    QTRY_VERIFY_WITH_TIMEOUT(hub.heard.contains("N010100000100F001;"), kWait);  // logged in, told "stopped"

    QTcpSocket stream;
    QByteArray events;
    connect(&stream, &QIODevice::readyRead, this, [&] { events += stream.readAll(); });
    stream.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(stream.waitForConnected(kWait));
    stream.write("GET /quorandel/events HTTP/1.1\r\n\r\n");
    const auto lastEvent = [&] {
        const qsizetype at = events.lastIndexOf("data: ");
        return at < 0 ? QJsonObject() : QJsonDocument::fromJson(events.mid(at + 6).split('\n').first()).object();
    };

    const auto web = [port](const char *form) { return [port, form] { QVERIFY(post(port, form).startsWith("HTTP/1.0 204")); }; };
    const auto lcc = [&hub](const char *suffix) { return [&hub, suffix] { hub.node->write(":X195B4AAAN010100000100" + QByteArray(suffix) + ';'); }; };
    const Step steps[] = {
        {"Start from the window", [&] { m.clock().start(); }, true, 1, {}},
        {"8:1 from the web while running", web("action=set&speed=8"), true, 8, {}},
        {"06:30 from the layout network holds the clock", lcc("861E"), false, 8, "06:30"},
        {"Start from the layout network", lcc("F002"), true, 8, {}},
        {"a date from the web", web("action=set&date=1957-06-15"), true, 8, {}},
        {"4:1 from the dialog while running waits for Start", [&] { m.clock().setSpeed(4); }, true, 8, {}},
        {"Stop from the web", web("action=stop"), false, 4, {}},
        {"Start from the web", web("action=start"), true, 4, {}},
        {"the end-of-session alarm at 06:45 stops the clock",
         [&] { for (int n = 0; n < 86400 && m.clock().snapshot().running(); ++n) m.clock().tick(); }, false, 4, {}},
        {"the exit", [&] { m.finish(ClockControl::StopBurst); }, false, 4, {}},
    };
    const QByteArray trims[9] = {{}, "1000", {}, {}, "253", {}, {}, {}, "125"};
    for (const Step &step : steps) {
        qInfo("%s", step.what);
        time.clear(), rate.clear();
        const qsizetype pushed = device.received.size();
        step.act();
        // The layout network's events come over its own connection.
        QTRY_VERIFY_WITH_TIMEOUT(m.clock().snapshot().running() == step.running
                                     && m.clock().snapshot().countedSpeed == step.speed,
                                 kWait);
        const ClockSnapshot master = m.clock().snapshot();
        const QByteArray hhmm = ClockTimeMath::timeOfDayText(master.secondsOfDay).left(5);
        if (!step.time.isNull())
            QCOMPARE(hhmm, step.time);

        // The live page: its stream, and its state asked for afresh.
        QTRY_VERIFY_WITH_TIMEOUT(lastEvent().value("running").toBool() == step.running
                                     && lastEvent().value("speed").toInt() == step.speed,
                                 kWait);
        QVERIFY(lastEvent().value("time").toString().startsWith(QString::fromLatin1(hhmm)));
        // A running clock counts on between the event and the question.
        const QByteArray state = exchange("GET /quorandel/state.json HTTP/1.0\r\n\r\n", port);
        QJsonObject asked = QJsonDocument::fromJson(state.mid(state.indexOf("\n\n") + 2)).object(), told = lastEvent();
        const QString askedTime = asked.take("time").toString(), toldTime = told.take("time").toString();
        QCOMPARE(asked, told);
        QVERIFY2(step.running ? askedTime >= toldTime : askedTime == toldTime, qPrintable(askedTime + " after " + toldTime));
        QCOMPARE(lastEvent().value("date").toString() + lastEvent().value("weekday").toString(),
                 master.modelDate.toString(Qt::ISODate) + QLocale::c().dayName(master.modelDate.dayOfWeek(), QLocale::ShortFormat));

        // The slave clocks of the multicast.
        QTRY_VERIFY_WITH_TIMEOUT(!group.datagrams().isEmpty(), kWait);
        const QByteArray heard = group.datagrams().last();
        QVERIFY2(heard.contains(QByteArray("\r\nactive=") + (step.running ? "yes" : "no") + "\r\nspeed="
                                + QByteArray::number(step.speed) + "\r\nclock=" + hhmm),
                 heard.constData());

        // The layout network: started or stopped, and the rate in quarters.
        QTRY_COMPARE_WITH_TIMEOUT(hub.latest({"F001", "F002"}), QByteArray(step.running ? "F002" : "F001"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(hub.latest({"4004", "4010", "4020"}),
                                  "40" + QByteArray::number(4 * step.speed, 16).rightJustified(2, '0'), kWait);

        QTRY_COMPARE_WITH_TIMEOUT(hub.latest({"260E", "260F"}), QByteArray(master.modelDate.day() == 14 ? "260E" : "260F"), kWait);  // the date
        // The throttles: JMRI's time, rate and state, the station's minute and
        // rate (0: not running), the Z21's set and start or stop.
        const QByteArray n = QByteArray::number(step.speed);
        QTRY_COMPARE_WITH_TIMEOUT(jmri.shown(), QString(hhmm + ' ' + n + (step.running ? " 2" : " 4")), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(station.lines.value(station.lines.size() - 1),
                                  "<JC " + QByteArray::number(master.secondsOfDay / 60) + ' ' + (step.running ? n : "0") + '>', kWait);
        QTRY_COMPARE_WITH_TIMEOUT(z21.shown(), QString(hhmm + ' ' + n + (step.running ? " start" : " stop")), kWait);

        // The remote clocks of the broadcast, and the display.
        if (step.running) {
            // By its rule the rate channel follows the chosen speed's trim,
            // also while that speed waits for Start.
            QTRY_VERIFY_WITH_TIMEOUT(rate.datagrams().contains(trims[master.chosenSpeed]), kWait);
            QTRY_VERIFY_WITH_TIMEOUT(time.datagrams().contains(QByteArray(hhmm).remove(2, 1)), kWait);
            QTRY_VERIFY_WITH_TIMEOUT(device.received.size() > pushed + 2, kWait);
        } else if (!step.time.isNull()) {
            // Held: the broadcast goes on sending the time that stands.
            QTRY_VERIFY_WITH_TIMEOUT(time.datagrams().count(QByteArray(hhmm).remove(2, 1)) > 2, kWait);
        } else {
            // Rates sent before a request from the web got through may come first.
            QTRY_COMPARE_WITH_TIMEOUT(rate.datagrams().count("0"), ClockControl::StopBurst, kWait);
            QCOMPARE(rate.datagrams().mid(rate.datagrams().size() - ClockControl::StopBurst),
                     QByteArrayList(ClockControl::StopBurst, "0"));
            time.clear(), rate.clear();
            const qsizetype stoppedAt = device.received.size();
            QTest::qWait(300);  // a timer left running would send now
            QCOMPARE(rate.datagrams().size() + time.datagrams().size(), 0);
            QVERIFY(device.received.size() <= stoppedAt + 2);  // at most one push on its way
        }
    }
    QVERIFY2(events.contains("event: alarm\ndata: {\"stop\":true,\"text\":\"End of session\",\"time\":\"06:45\"}\n\n"),
             events.right(500).constData());
    // The multicast's last word says stopped, and nothing follows it.
    group.clear();
    QTest::qWait(300);
    QCOMPARE(group.datagrams().size(), 0);
}

// Run to 06:02:40 at 8:1 on 15 June 1957, then ended in an orderly way or
// left as a kill leaves it: what the next start comes back with.
void TstMaster::sessionComesBack_data()
{
    QTest::addColumn<QByteArray>("resume");
    QTest::addColumn<QString>("after");  // time, state, speed, date | the window's status line
    const QString said = "Resumed the session that ended without saving: 06:02 at 8:1";
    QTest::newRow("killed, resume=stopped") << QByteArray("stopped") << "06:02 idle 8 1957-06-15|" + said;
    QTest::newRow("killed, resume=running") << QByteArray("running") << "06:02 running 8 1957-06-15|" + said + ", running";
    QTest::newRow("orderly exit") << QByteArray("running") << "06:02 idle 8 1957-06-15|";
}

void TstMaster::sessionComesBack()
{
    QFETCH(QByteArray, resume);
    QTemporaryDir dir;
    QFile conf(dir.filePath("quorandel.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("[session]\ndate=1957-06-14\nresume=" + resume) > 0);
    conf.close();
    NoStatus status;
    QString error;
    QStringList shown;
    const auto started = [&]() -> std::unique_ptr<MasterClock> {
        auto m = std::make_unique<MasterClock>(AppPaths{dir.filePath("QuorandelDB.mdb"), {}, dir.filePath("export"), dir.path(),
                                                        conf.fileName()}, status, ImageExport::SnapWindow(), QStringLiteral("Quorandel 1.40"));
        connect(m.get(), &MasterClock::statusShown, this, [&](const QString &, const QString &text) { shown << text; });
        if (!m->loadSettings([] {}, &error))
            return nullptr;
        m->settings().LPort = QStringLiteral("0");  // a port of the OS's choosing
        m->startPublishing();
        return m;
    };
    auto m = started();
    QVERIFY2(m, qPrintable(error));
    m->clock().setSpeed(8);
    m->clock().setTimeAndHold(6, 2);
    m->clock().start();
    for (int n = 0; n < 40; ++n)
        m->clock().tick();
    m->clock().setDate(QDate(1957, 6, 15));
    QTRY_VERIFY_WITH_TIMEOUT(contentOf(m->journal().path()).contains("\"date\":\"1957-06-15\""), kWait);
    if (QTest::currentDataTag() == QLatin1String("orderly exit")) {
        QVERIFY(m->saveSettings(&error));
        m->finish(10);
    }
    m.reset();  // as a kill leaves it, unless saved: nothing more is written
    m = started();
    const ClockSnapshot s = m->clock().snapshot();
    const QString state = s.running() ? "running" : s.state == ClockState::Idle ? "idle" : "other";
    QTEST(QString("%1 %2 %3 %4|%5").arg(QString(ClockTimeMath::timeOfDayText(s.secondsOfDay).left(5)), state)
              .arg(s.countedSpeed).arg(s.modelDate.toString(Qt::ISODate), shown.join('\n')), "after");
}

QTEST_MAIN(TstMaster)
#include "tst_master.moc"
