#include "PrivateNetwork.h"

#include "clock/ClockTime.h"
#include "clock/FPortula.h"
#include "clock/frmSetSpeed.h"
#include "clock/frmSetTime.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
QRect inDialog(const QWidget *control)
{
    return QRect(control->mapTo(control->window(), QPoint(0, 0)), control->size());
}
}  // namespace

class TstDialogs : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void speedOptions_data();
    void speedOptions();
    void dialogTexts();
    void speedAppliesAtOnce_data();
    void speedAppliesAtOnce();
    void okWithoutChoiceKeepsTheSpeed();
    void set_data();
    void set();
    void setTo12AmThenSet();
    void cancelChangesNothing();
    void setQuorandelThenStart_data();
    void setQuorandelThenStart();

private:
    std::unique_ptr<FPortula> loaded();
    frmSetTime *timeDialog();

    QTemporaryDir m_dir;
    AppPaths m_paths;
    ClockEngine m_clock;
    QStringList m_messages;
};

// Start-up broadcasts its stop marks, so these run in the private network.
void TstDialogs::init()
{
    REQUIRE_PRIVATE_NETWORK();
    QVERIFY(m_dir.isValid());
    m_paths.settingsFile = m_dir.filePath(QStringLiteral("QuorandelDB.mdb"));
    m_paths.exportFolder = m_dir.filePath(QStringLiteral("export"));
    m_paths.executableFolder = m_dir.path();
    QFile::remove(m_paths.settingsFile);
    m_messages.clear();
    m_clock.stop();
    m_clock.selectSpeed(1);
}

std::unique_ptr<FPortula> TstDialogs::loaded()
{
    auto w = std::make_unique<FPortula>(m_paths);
    w->setMessageSink([this](const QString &text) { m_messages << text; });
    QString error;
    if (!w->Form_Load(&error))
        qWarning("start-up failed: %s", qPrintable(error));
    w->show();
    return w;
}

frmSetTime *TstDialogs::timeDialog()
{
    auto *dialog = new frmSetTime(m_clock, [this](const QString &text) { m_messages << text; });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

void TstDialogs::speedOptions_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("1") << 1 << " 1:1" << QRect(119, 48, 67, 33);
    QTest::newRow("2") << 2 << " 2 : 1" << QRect(48, 80, 80, 33);
    QTest::newRow("3") << 3 << " 3 : 1" << QRect(48, 120, 80, 33);
    QTest::newRow("4") << 4 << " 4 : 1" << QRect(48, 160, 80, 33);
    QTest::newRow("5") << 5 << " 5 : 1" << QRect(180, 80, 80, 33);
    QTest::newRow("6") << 6 << " 6 : 1" << QRect(179, 120, 80, 33);
    QTest::newRow("8") << 8 << " 8 : 1" << QRect(180, 160, 80, 33);
}

void TstDialogs::speedOptions()
{
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QRect, rect);
    frmSetSpeed dialog(m_clock);
    QRadioButton *option = dialog.Speed(index);
    QVERIFY(option);
    QCOMPARE(option->text(), caption);
    QCOMPARE(inDialog(option), rect);
    QVERIFY(!option->isChecked());
}

void TstDialogs::dialogTexts()
{
    frmSetSpeed speed(m_clock);
    QCOMPARE(speed.windowTitle(), QStringLiteral("Set Clock Parameters"));
    QCOMPARE(speed.size(), QSize(327, 304));
    QCOMPARE(speed.Label1->text(), QStringLiteral("Set Clock Speed"));
    QCOMPARE(speed.btnDone->text(), QStringLiteral("OK"));
    QCOMPARE(speed.SpeedGroup->buttons().size(), 7);
    QCOMPARE(speed.Speed(7), nullptr);
    QCOMPARE(speed.SpeedGroup->checkedId(), -1);

    frmSetTime time(m_clock, [](const QString &) {});
    QCOMPARE(time.windowTitle(), QStringLiteral("Set Clock Parameters"));
    QCOMPARE(time.size(), QSize(327, 304));
    QCOMPARE(time.Label1->text(), QStringLiteral("Set Time"));
    QCOMPARE(time.Label4->text(), QStringLiteral("Hours :  "));
    QCOMPARE(time.Label5->text(), QStringLiteral("Minutes :  "));
    QCOMPARE(time.Setto12AM->text(), QStringLiteral("Set To 12 AM"));
    QCOMPARE(time.btnSet->text(), QStringLiteral("Set"));
    QCOMPARE(time.btnCancel->text(), QStringLiteral("Cancel"));
    QCOMPARE(time.txtHour->text(), QString());
    QCOMPARE(time.txtMinute->text(), QString());
    QCOMPARE(time.txtHour->geometry(), QRect(128, 48, 97, 41));
    QCOMPARE(time.txtMinute->geometry(), QRect(128, 104, 97, 40));
    // The captions may grow to the left to stay whole, never past their
    // right edge.
    QCOMPARE(time.Label4->geometry().right(), 88);
    QVERIFY(time.Label4->fontMetrics().horizontalAdvance(time.Label4->text())
            <= time.Label4->width());
}

void TstDialogs::speedAppliesAtOnce_data()
{
    QTest::addColumn<int>("speed");
    for (int n : {1, 2, 3, 4, 5, 6, 8})
        QTest::addRow("%d", n) << n;
}

void TstDialogs::speedAppliesAtOnce()
{
    QFETCH(int, speed);
    auto w = loaded();
    w->nFast->trigger();
    QPointer<frmSetSpeed> dialog = w->setSpeedWindow();
    const int other = speed == 5 ? 8 : 5;
    dialog->Speed(other)->click();
    QCOMPARE(w->clock().clockSpeed(), other);
    dialog->Speed(speed)->click();
    QCOMPARE(w->clock().clockSpeed(), speed);
    QCOMPARE(dialog->SpeedGroup->checkedId(), speed);
    QVERIFY(!dialog->Speed(other)->isChecked());

    dialog->close();  // the close box, not OK
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
    QCOMPARE(w->clock().clockSpeed(), speed);
    QCOMPARE(w->setTimeWindow(), nullptr);
}

void TstDialogs::okWithoutChoiceKeepsTheSpeed()
{
    auto w = loaded();
    w->clock().selectSpeed(3);
    w->nFast->trigger();
    QPointer<frmSetSpeed> dialog = w->setSpeedWindow();
    dialog->btnDone->click();
    QVERIFY(w->setTimeWindow() && w->setTimeWindow()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
    QCOMPARE(w->clock().clockSpeed(), 3);
}

void TstDialogs::set_data()
{
    QTest::addColumn<QString>("hour");
    QTest::addColumn<QString>("minute");
    QTest::addColumn<int>("setTo");  // minutes of the day; -1 when nothing changes
    QTest::addColumn<QString>("message");  // exact, or empty
    QTest::addColumn<QStringList>("mentions");  // what a refusal names
    QTest::addColumn<bool>("closes");
    const QStringList none;
    QTest::newRow("both empty") << "" << "" << 0 << "" << none << true;
    QTest::newRow("23:59") << "23" << "59" << 23 * 60 + 59 << "" << none << true;
    QTest::newRow("zeros and blanks") << " 07" << "05 " << 7 * 60 + 5 << "" << none << true;
    QTest::newRow("only the minute") << "" << "42" << 42 << "" << none << true;
    QTest::newRow("hour 24") << "24" << "0" << -1 << "Enter Less Than 24" << none << true;
    QTest::newRow("hour 25 minute 75") << "25" << "75" << -1 << "Enter Less Than 24" << none << true;
    QTest::newRow("hour 24, minute unread") << "24" << "x" << -1 << "Enter Less Than 24" << none << true;
    QTest::newRow("huge hour") << "99999999999999999999" << "0" << -1 << "Enter Less Than 24"
                               << none << true;
    QTest::newRow("minute 60") << "5" << "60" << -1 << "Enter Less Than 60" << none << true;
    QTest::newRow("letters") << "ab" << "5" << -1 << "" << QStringList{"Hours", "\"ab\"", "0 to 23"}
                             << false;
    QTest::newRow("negative") << "-3" << "5" << -1 << "" << QStringList{"Hours", "\"-3\""} << false;
    QTest::newRow("plus sign") << "+3" << "5" << -1 << "" << QStringList{"Hours", "\"+3\""} << false;
    QTest::newRow("fraction") << "7" << "7.5" << -1 << "" << QStringList{"Minutes", "\"7.5\"", "0 to 59"}
                              << false;
}

void TstDialogs::set()
{
    QFETCH(QString, hour);
    QFETCH(QString, minute);
    QFETCH(int, setTo);
    QFETCH(QString, message);
    QFETCH(QStringList, mentions);
    QFETCH(bool, closes);
    // A running clock at a time no row sets: a refused entry must leave both.
    const double before = 3 + ClockTimeMath::timeOfDay(10, 30) + 15 * ClockTimeMath::oneSecond();
    m_clock.setClockTime(before);
    m_clock.selectSpeed(2);
    m_clock.start();
    QPointer<frmSetTime> dialog = timeDialog();
    dialog->txtHour->setText(hour);
    dialog->txtMinute->setText(minute);
    dialog->btnSet->click();

    if (setTo >= 0) {
        QCOMPARE(m_clock.clockTime(), ClockTimeMath::timeOfDay(setTo / 60, setTo % 60));
        QCOMPARE(m_clock.timer1().interval(), 0);
    } else {
        QCOMPARE(m_clock.clockTime(), before);
        QCOMPARE(m_clock.timer1().interval(), 500);
    }
    QCOMPARE(m_messages.size(), setTo >= 0 ? 0 : 1);
    if (!message.isEmpty())
        QCOMPARE(m_messages.value(0), message);
    for (const QString &m : mentions)
        QVERIFY2(m_messages.value(0).contains(m), qPrintable(m_messages.value(0)));
    if (closes) {
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
        return;
    }
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->txtHour->text(), hour);
    QCOMPARE(dialog->txtMinute->text(), minute);
    dialog->close();
}

void TstDialogs::setTo12AmThenSet()
{
    m_clock.setTime(9, 15);
    QPointer<frmSetTime> dialog = timeDialog();
    dialog->txtHour->setText(QStringLiteral("5"));
    dialog->txtMinute->setText(QStringLiteral("6"));
    dialog->Setto12AM->click();
    QCOMPARE(dialog->txtHour->text(), QStringLiteral("0"));
    QCOMPARE(dialog->txtMinute->text(), QStringLiteral("0"));
    QCOMPARE(m_clock.clockTime(), ClockTimeMath::timeOfDay(9, 15));
    dialog->btnSet->click();
    QCOMPARE(m_clock.clockTime(), 0.0);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
}

void TstDialogs::cancelChangesNothing()
{
    m_clock.setTime(9, 15);
    QPointer<frmSetTime> dialog = timeDialog();
    dialog->txtHour->setText(QStringLiteral("5"));
    dialog->txtMinute->setText(QStringLiteral("6"));
    dialog->btnCancel->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 1000);
    QCOMPARE(m_clock.clockTime(), ClockTimeMath::timeOfDay(9, 15));
    QCOMPARE(m_messages, QStringList());
}

void TstDialogs::setQuorandelThenStart_data()
{
    QTest::addColumn<bool>("running");
    QTest::newRow("from idle") << false;
    QTest::newRow("while running") << true;
}

void TstDialogs::setQuorandelThenStart()
{
    QFETCH(bool, running);
    auto w = loaded();
    w->clock().selectSpeed(8);
    if (running) {
        w->StartClock->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->Text1->text().isEmpty(), 1000);
    }
    const QString shown = w->Text1->text();

    w->nFast->trigger();
    w->setSpeedWindow()->Speed(5)->click();
    w->setSpeedWindow()->btnDone->click();
    frmSetTime *time = w->setTimeWindow();
    time->txtHour->setText(QStringLiteral("6"));
    time->txtMinute->setText(QStringLiteral("30"));
    time->btnSet->click();

    // Held: the model time stays at the value set and the display keeps its
    // old text until the next Start, even while the old period would tick.
    QCOMPARE(w->clock().timer1().interval(), 0);
    QTest::qWait(400);
    QCOMPARE(w->clock().clockTime(), ClockTimeMath::timeOfDay(6, 30));
    QCOMPARE(w->Text1->text(), shown);

    w->StartClock->click();
    QCOMPARE(w->clock().timer1().interval(), 200);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text1->text(), QStringLiteral("06:30 "), 1000);
    QVERIFY(m_messages.isEmpty());
}

QTEST_MAIN(TstDialogs)
#include "tst_dialogs.moc"
