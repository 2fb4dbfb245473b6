// SPDX-License-Identifier: GPL-3.0-or-later
// The main window and its dialogs, used as a person uses them, and the two
// orderly ends. Start-up broadcasts its stop marks, so every test here runs in
// the private network.

#include "DisplayDevice.h"
#include "ScratchRun.h"
#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "app/About.h"
#include "app/FConfig.h"
#include "app/LiveCodeWindow.h"
#include "app/StatusPanel.h"
#include "clock/ClockTime.h"
#include "platform/ExitSignals.h"
#include "settings/SettingsStore.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/resource.h>
#include <sqlite3.h>

using ClockTimeMath::timeOfDay;

class TstWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScratchRun> m_run;

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        m_run = std::make_unique<ScratchRun>();
    }

    void firstStart()
    {
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        w->show();
        QVERIFY(QFile::exists(m_run->paths().settingsFile));
        QCOMPARE(w->master().settings().WebRoot, m_run->paths().exportFolder);
        QCOMPARE(w->windowTitle(), FPortula::VersionCaption);
        QVERIFY(w->Text2->text().startsWith("Quorandel Web Server is ") && w->Text2->text().endsWith(":8080"));
        QVERIFY(!w->Picture2->isVisible());
        QCOMPARE(w->frameGeometry().width(), FPortula::MaxOuterWidth);  // designed wider than it may be
        QCOMPARE(w->master().clock().state(), ClockState::Idle);
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
        QVERIFY2(digits.left() > panelRight && digits.right() < clientWidth, "digits under the panel or off the window");
        QVERIFY(digits.top() > box.top() && digits.bottom() < box.bottom());
        QVERIFY(digits.height() > box.height() * 0.6 && digits.width() > (clientWidth - panelRight) * 0.75);
        // Far enough down, a connection's status line lies over the digits' box.
        QLabel *label = w.Picture1->LFileProgress(15);
        const QPoint middle = w.Picture1->mapToParent(label->geometry().center());
        QVERIFY(box.contains(middle));
        QCOMPARE(w.centralWidget()->childAt(middle), label);
    }

    // Each topic keeps one line at the panel's foot, the first to speak lowest.
    void topicLines()
    {
        FPortula w(m_run->paths());
        emit w.master().statusShown("JMRI", "JMRI: connected");
        emit w.master().statusShown("Z21", "Z21: no answer since 14:02");
        emit w.master().statusShown("JMRI", "JMRI: lost; trying again");
        const auto lines = w.Picture1->findChildren<QLabel *>(QRegularExpression("^Topic"));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(w.Picture1->topicText("JMRI"), QString("JMRI: lost; trying again"));
        QCOMPARE(w.Picture1->topicText("Z21"), QString("Z21: no answer since 14:02"));
        const QLabel *jmri = lines[0]->text().startsWith("JMRI") ? lines[0] : lines[1];
        const QLabel *z21 = lines[0] == jmri ? lines[1] : lines[0];
        QVERIFY(jmri->geometry().bottom() < w.Picture1->height() && z21->geometry().bottom() < jmri->geometry().top());
    }

    void oneWindowEach_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("speed dialog") << 0;
        QTest::newRow("time dialog") << 1;
        QTest::newRow("About") << 2;
        QTest::newRow("the live page's code") << 3;
    }
    void oneWindowEach()
    {
        QFETCH(int, which);
        FPortula w(m_run->paths());
        w.show();
        const auto open = [&]() -> QWidget * {
            (which == 3 ? w.nCode : which == 2 ? w.nHelp : w.nFast)->trigger();
            if (which == 1)
                w.setSpeedWindow()->btnDone->click();
            return which == 0 ? static_cast<QWidget *>(w.setSpeedWindow())
                 : which == 1 ? static_cast<QWidget *>(w.setTimeWindow())
                 : which == 2 ? static_cast<QWidget *>(w.aboutWindow()) : w.codeWindow();
        };
        QPointer<QWidget> first = open();
        QVERIFY(first && first->isVisible() && !first->isModal());
        QCOMPARE(open(), first.data());
        first->close();
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 1000);
        QVERIFY(open()->isVisible());
    }

    // The live pages are one line at the panel's foot; the Help menu's code,
    // read by Debian's zbarimg from the window, is the live page's address.
    void livePagesAndTheirCode()
    {
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        QTcpSocket page;
        page.connectToHost(QHostAddress::LocalHost, 8080);
        QVERIFY(page.waitForConnected(kWait));
        page.write("GET /quorandel/events HTTP/1.1\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(w->Picture1->topicText("Live pages"), QString("Live pages: 1"), kWait);
        w->nCode->trigger();
        QTemporaryDir dir;
        QVERIFY(w->codeWindow()->grab().save(dir.filePath("code.png")));
        QProcess zbar;
        zbar.start("zbarimg", {"--raw", "-q", dir.filePath("code.png")});
        QVERIFY(zbar.waitForFinished(kWait));
        QCOMPARE(zbar.readAllStandardOutput().trimmed(), w->master().livePageAddress().toUtf8());
        QCOMPARE(w->codeWindow()->address->text(), w->master().livePageAddress());
    }

    // Below what the live pages asked for need, the hard limit of open files
    // (the soft one raised to it) is said on stderr, and fewer pages get in.
    void fewDescriptors()
    {
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0 && saved.rlim_max >= 1000);
        const rlimit low{900, 1000};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        QVERIFY(m_run->writeExtensionSettings("[remote]\nstreams=3000\n"));
        QTest::ignoreMessage(QtWarningMsg, "the limit of open files (1000) is below the 3639 that 3000 live pages "
                                           "need: at most 361 live pages at once");
        auto w = m_run->started();
        ::setrlimit(RLIMIT_NOFILE, &saved);  // where this user may raise it again
        QVERIFY2(w, qPrintable(m_run->startError));
        QCOMPARE(w->master().web().streamCapacity(), 361);
    }

    // A speed chosen while running waits for Start; a time set holds the clock.
    void speedThenTimeHoldsTheClock()
    {
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        ClockEngine &clock = w->master().clock();
        w->StartClock->click();
        w->nFast->trigger();
        QPointer<frmSetSpeed> dialog = w->setSpeedWindow();
        QCOMPARE(dialog->SpeedGroup->checkedId(), -1);
        QCOMPARE(dialog->Speed(7), nullptr);
        for (int n : {1, 2, 3, 4, 6, 8, 5}) {
            dialog->Speed(n)->click();
            QCOMPARE(int(clock.clockSpeed()), n);
        }
        QCOMPARE(int(clock.countedSpeed()), 1);
        dialog->btnDone->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
        const QString shown = w->Text1->text();
        w->setTimeWindow()->txtHour->setText("6");
        w->setTimeWindow()->txtMinute->setText("30");
        w->setTimeWindow()->btnSet->click();
        QTest::qWait(400);  // held at the value set, the display unchanged, until the next Start
        QCOMPARE(clock.clockTime(), timeOfDay(6, 30));
        QCOMPARE(w->Text1->text(), shown);
        w->StartClock->click();
        QCOMPARE(clock.timer1().interval(), 200);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text1->text(), QStringLiteral("06:30 "), 1000);
        QVERIFY(m_run->messages.isEmpty());
    }

    void timeEntries_data()
    {
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("minute");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<int>("setTo");        // minutes of the day; -1 when nothing changes
        QTest::addColumn<QString>("message");  // the whole message, or words a refusal must name
        QTest::addColumn<bool>("closes");
        QTest::newRow("both empty") << "" << "" << "Set" << 0 << "" << true;
        QTest::newRow("23:59") << "23" << "59" << "Set" << 23 * 60 + 59 << "" << true;
        QTest::newRow("zeros and blanks") << " 07" << "05 " << "Set" << 7 * 60 + 5 << "" << true;
        QTest::newRow("12 AM") << "5" << "6" << "12 AM|Set" << 0 << "" << true;
        QTest::newRow("cancel") << "5" << "6" << "Cancel" << -1 << "" << true;
        QTest::newRow("hour 24 minute 75") << "24" << "75" << "Set" << -1 << "Enter Less Than 24" << true;
        QTest::newRow("too long for an int") << "99999999999999999999" << "0" << "Set" << -1 << "Enter Less Than 24"
                                             << true;
        QTest::newRow("minute 60") << "5" << "60" << "Set" << -1 << "Enter Less Than 60" << true;
        QTest::newRow("letters") << "ab" << "5" << "Set" << -1 << "Hours|\"ab\"|0 to 23" << false;
        QTest::newRow("fraction") << "7" << "7.5" << "Set" << -1 << "Minutes|\"7.5\"|0 to 59" << false;
    }
    void timeEntries()
    {
        QFETCH(QString, hour);
        QFETCH(QString, minute);
        QFETCH(QString, buttons);
        QFETCH(int, setTo);
        QFETCH(QString, message);
        QFETCH(bool, closes);
        // A running clock at a time no row sets: a refused entry must leave both.
        ClockEngine clock;
        const double before = 3 + timeOfDay(10, 30) + 15 * ClockTimeMath::oneSecond();
        clock.restoreTime(before);
        clock.setSpeed(2);
        clock.start();
        QPointer<frmSetTime> dialog = new frmSetTime(clock, [this](const QString &text) { m_run->messages << text; });
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        dialog->txtHour->setText(hour);
        dialog->txtMinute->setText(minute);
        const QHash<QString, QPushButton *> button{
            {"12 AM", dialog->Setto12AM}, {"Set", dialog->btnSet}, {"Cancel", dialog->btnCancel}};
        for (const QString &name : buttons.split(u'|'))
            button.value(name)->click();
        QCOMPARE(clock.clockTime(), setTo >= 0 ? timeOfDay(setTo / 60, setTo % 60) : before);
        QCOMPARE(clock.state() == ClockState::Running, setTo < 0);
        QCOMPARE(m_run->messages.size(), message.isEmpty() ? 0 : 1);
        for (const QString &word : message.split(u'|'))
            QVERIFY2(m_run->messages.value(0).contains(word), qPrintable(m_run->messages.value(0)));
        QTRY_COMPARE(dialog.isNull(), closes);
        if (closes)
            return;
        QCOMPARE(dialog->txtHour->text() + "|" + dialog->txtMinute->text(), hour + "|" + minute);
        dialog->close();
    }

    // Each way out stores the record once, and its stop marks are the remote
    // clocks' last word: nothing is broadcast or pushed after them.
    void exits_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<int>("marks");
        QTest::newRow("End and Save Settings") << "menu" << 100;
        QTest::newRow("window closed") << "close" << 10;
        QTest::newRow("SIGTERM") << "signal" << 10;
    }
    void exits()
    {
        QFETCH(QString, way);
        QFETCH(int, marks);
        UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort);
        DisplayDevice device;
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        ExitSignals exitSignals;
        connect(&exitSignals, &ExitSignals::received, w.get(), [&] { w->ShutDown(FPortula::ExitVariant::WindowClosed); });
        w->master().clock().setSpeed(4);
        w->StartClock->click();
        w->MConfig->trigger();
        w->configWindow()->TextX[3]->setText("251");
        w->configWindow()->SaveTrim->click();
        w->configWindow()->TextX[4]->setText("999");  // never saved
        w->configWindow()->CPort->setEditText("8090");
        w->configWindow()->CSave->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->configWindow(), 1000);
        w->MConfig->trigger();
        w->configWindow()->CPort->setEditText("9999");  // left open, not applied
        QTRY_VERIFY_WITH_TIMEOUT(rate.datagrams().contains("251") && device.received.size() >= 2, kWait);

        const double timeAtExit = w->master().clock().clockTime();  // still running
        time.clear(), rate.clear();
        QCloseEvent close;
        if (way == "menu")
            w->nEnd->trigger();
        else if (way == "close")
            QCoreApplication::sendEvent(w.get(), &close);
        else
            ::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(m_run->ends, QList<int>{0}, kWait);
        const qsizetype pushed = device.received.size();
        w->nEnd->trigger();  // only once
        QTest::qWait(300);   // a timer left running would send now
        QCOMPARE(rate.datagrams(), QByteArrayList(marks, "0"));
        QCOMPARE(time.datagrams().size(), 0);
        QCOMPARE(device.received.size(), pushed);
        QCOMPARE(m_run->ends.size(), 1);
        QVERIFY(!w->configWindow() && !w->master().settings().Config);
        SettingsStore store(m_run->paths().settingsFile);
        QVERIFY(store.Open());
        QCOMPARE(store.ReadField(SettingsField::ClockSpeed).toInt(), 4);
        QCOMPARE(store.ReadField(SettingsField::ClockTime).toDouble(), timeAtExit);
        QCOMPARE(store.ReadField(SettingsField::LPort).toString(), QString("8090"));
        QCOMPARE(store.ReadField(SettingsField::RatioX4).toString(), QString("251"));
        QVERIFY(store.ReadField(SettingsField::RatioX5).toString() != "999");
    }

    // Another program holds the store locked: the remote clocks still hear
    // the stop, and the person learns that the settings are lost.
    void lockedStore()
    {
        UdpCatcher rate(TimeBroadcast::RatePort);
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        w->master().clock().setTimeAndHold(6, 30);
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_run->paths().settingsFile).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^the settings were not stored: .*QuorandelDB.mdb.*locked"));
        rate.clear();
        w->nEnd->trigger();
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QTRY_COMPARE_WITH_TIMEOUT(rate.datagrams().size(), 100, kWait);
        QCOMPARE(m_run->ends, QList<int>{1});
        QCOMPARE(m_run->messages.size(), 1);
        QVERIFY2(m_run->messages.first().contains("locked"), qPrintable(m_run->messages.first()));
        SettingsStore store(m_run->paths().settingsFile);
        QVERIFY(store.Open());
        QVERIFY(ClockTimeMath::secondsOfDay(store.ReadField(SettingsField::ClockTime).toDouble()) != 6 * 3600 + 30 * 60);
    }
};

QTEST_MAIN(TstWindow)
#include "tst_window.moc"
