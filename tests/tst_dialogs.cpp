// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fixtures.h"
#include "PrivateNetwork.h"

#include "app/FPortula.h"
#include "app/frmSetSpeed.h"
#include "app/frmSetTime.h"
#include "clock/ClockTime.h"

#include <QtTest>
#include <QtWidgets>

using ClockTimeMath::timeOfDay;

// The tests that go through the main window broadcast its start-up stop marks,
// so all of them run in the private network.
class TstDialogs : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScratchRun> m_run;
    ClockEngine m_clock;

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        m_run = std::make_unique<ScratchRun>();
        m_clock.stop();
    }

    void texts()
    {
        frmSetSpeed speed(m_clock);
        frmSetTime time(m_clock, [](const QString &) {});
        QStringList shown{speed.windowTitle(), speed.Label1->text(), speed.btnDone->text()};
        for (int n : {1, 2, 3, 4, 5, 6, 8})
            shown << speed.Speed(n)->text();
        shown << time.windowTitle() << time.Label1->text() << time.Label4->text() << time.Label5->text()
              << time.Setto12AM->text() << time.btnSet->text() << time.btnCancel->text();
        QCOMPARE(shown, (QStringList{"Set Clock Parameters", "Set Clock Speed", "OK", " 1:1", " 2 : 1", " 3 : 1",
                                     " 4 : 1", " 5 : 1", " 6 : 1", " 8 : 1", "Set Clock Parameters", "Set Time",
                                     "Hours :  ", "Minutes :  ", "Set To 12 AM", "Set", "Cancel"}));
        QCOMPARE(speed.Speed(7), nullptr);
        QCOMPARE(speed.SpeedGroup->checkedId(), -1);
        for (QLabel *caption : {time.Label4, time.Label5})
            QVERIFY(caption->fontMetrics().horizontalAdvance(caption->text()) <= caption->width());
    }

    // Through the window, with the clock running.
    void speedThenTimeHoldsTheClock()
    {
        const auto started = m_run->started();
        QVERIFY2(started, qPrintable(m_run->startError));
        FPortula &w = *started;
        w.show();
        w.clock().setSpeed(8);
        w.StartClock->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Text1->text().isEmpty(), 1000);
        w.nFast->trigger();
        QPointer<frmSetSpeed> dialog = w.setSpeedWindow();
        for (int n : {1, 2, 3, 4, 6, 8, 5}) {
            dialog->Speed(n)->click();
            QCOMPARE(w.clock().clockSpeed(), n);
            QCOMPARE(dialog->SpeedGroup->checkedId(), n);
        }
        dialog->close();  // the close box, not OK
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
        QCOMPARE(w.clock().clockSpeed(), 5);
        QCOMPARE(w.setTimeWindow(), nullptr);

        w.nFast->trigger();
        w.setSpeedWindow()->btnDone->click();  // OK without a choice
        QVERIFY(w.setTimeWindow() && w.setTimeWindow()->isVisible());
        QCOMPARE(w.clock().clockSpeed(), 5);
        const QString shown = w.Text1->text();
        w.setTimeWindow()->txtHour->setText(QStringLiteral("6"));
        w.setTimeWindow()->txtMinute->setText(QStringLiteral("30"));
        w.setTimeWindow()->btnSet->click();
        QTest::qWait(400);  // held at the value set, the display unchanged, until the next Start
        QCOMPARE(w.clock().clockTime(), timeOfDay(6, 30));
        QCOMPARE(w.Text1->text(), shown);
        w.StartClock->click();
        QCOMPARE(w.clock().timer1().interval(), 200);
        QTRY_COMPARE_WITH_TIMEOUT(w.Text1->text(), QStringLiteral("06:30 "), 1000);
        QVERIFY(m_run->messages.isEmpty());
    }

    void set_data()
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
        QTest::newRow("hour 24") << "24" << "0" << "Set" << -1 << "Enter Less Than 24" << true;
        QTest::newRow("hour 25 minute 75") << "25" << "75" << "Set" << -1 << "Enter Less Than 24" << true;
        QTest::newRow("too long for an int") << "99999999999999999999" << "0" << "Set" << -1 << "Enter Less Than 24"
                                             << true;
        QTest::newRow("minute 60") << "5" << "60" << "Set" << -1 << "Enter Less Than 60" << true;
        QTest::newRow("letters") << "ab" << "5" << "Set" << -1 << "Hours|\"ab\"|0 to 23" << false;
        QTest::newRow("fraction") << "7" << "7.5" << "Set" << -1 << "Minutes|\"7.5\"|0 to 59" << false;
    }
    void set()
    {
        QFETCH(QString, hour);
        QFETCH(QString, minute);
        QFETCH(QString, buttons);
        QFETCH(int, setTo);
        QFETCH(QString, message);
        QFETCH(bool, closes);
        // A running clock at a time no row sets: a refused entry must leave both.
        const double before = 3 + timeOfDay(10, 30) + 15 * ClockTimeMath::oneSecond();
        m_clock.restoreTime(before);
        m_clock.setSpeed(2);
        m_clock.start();
        QPointer<frmSetTime> dialog = new frmSetTime(m_clock, [this](const QString &text) { m_run->messages << text; });
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        dialog->txtHour->setText(hour);
        dialog->txtMinute->setText(minute);
        const QHash<QString, QPushButton *> button{
            {"12 AM", dialog->Setto12AM}, {"Set", dialog->btnSet}, {"Cancel", dialog->btnCancel}};
        for (const QString &name : buttons.split(u'|'))
            button.value(name)->click();

        QCOMPARE(m_clock.clockTime(), setTo >= 0 ? timeOfDay(setTo / 60, setTo % 60) : before);
        QCOMPARE(m_clock.timer1().interval(), setTo >= 0 ? 0 : 500);
        QCOMPARE(m_run->messages.size(), message.isEmpty() ? 0 : 1);
        if (closes) {
            QCOMPARE(m_run->messages.value(0), message);
            QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
            return;
        }
        for (const QString &word : message.split(u'|'))
            QVERIFY2(m_run->messages.value(0).contains(word), qPrintable(m_run->messages.value(0)));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->txtHour->text() + "|" + dialog->txtMinute->text(), hour + "|" + minute);
        dialog->close();
    }
};

QTEST_MAIN(TstDialogs)
#include "tst_dialogs.moc"
