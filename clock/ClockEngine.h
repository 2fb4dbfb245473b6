// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockControl.h"
#include "clock/ClockFollower.h"
#include "clock/ClockPublication.h"
#include "clock/ClockSnapshot.h"
#include "platform/Timer.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

// The model clock: the time of day it shows and sends, the speed N:1 chosen
// and the speed it counts at, its state, and Timer1, which adds one model
// second every 1000/N ms. It is the one owner of these facts: whoever tells
// the clock takes the snapshot it is handed in changed() and minuteChanged().
// Start and Stop switch the publications (Timer3, Timer4) beside Timer1; a
// time set while running holds Timer1 alone, so the publications go on
// sending it.
class ClockEngine : public QObject, public ClockControl
{
    Q_OBJECT
public:
    explicit ClockEngine(QObject *parent = nullptr);

    // Started after Timer1 and halted after it, in the order added.
    void addPublication(ClockPublication &publication) { m_publications.push_back(&publication); }
    // Hears changed() and minuteChanged(), after those added before it.
    void addFollower(ClockFollower &follower);

    double clockTime() const { return m_clockTime; }
    qint16 clockSpeed() const { return m_clockSpeed; }
    // The speed of Timer1's period while it counts; the chosen speed otherwise.
    qint16 countedSpeed() const { return m_state == ClockState::Running ? m_countedSpeed : m_clockSpeed; }
    ClockState state() const { return m_state; }
    ClockSnapshot snapshot() const override;
    const Timer &timer1() const { return m_timer1; }

    // 1000 / N rounded to the nearest millisecond, halves to even. A speed
    // below 1 can only come from a damaged record and runs at 1:1.
    static int periodFor(qint16 speed);

    void tick();
    void start() override;
    using ClockControl::stop;
    void stop(int stopBurst) override;
    // The speed N:1; a running clock keeps its pace until the next start.
    void setSpeed(qint16 n) override;
    // hour:minute:00 of day 0, and the clock held: Timer1 stops. The model
    // date stays what it was.
    void setTimeAndHold(int hour, int minute) override;
    void setDate(const QDate &date) override;
    // Puts back a model time, date and all, as it was saved; the timers are
    // left as they are.
    void restoreTime(double t) { m_clockTime = t; }
    // Puts back the speed as it was saved: chosen, not announced, since no
    // one has been told anything yet.
    void restoreSpeed(qint16 n) { m_clockSpeed = n; }
    // Puts back the session's model date (null: the session keeps none), not
    // announced either.
    void restoreDate(const QDate &date) { m_modelDate = date; }

signals:
    void displayChanged(const QString &text);
    // Start, Stop, a speed set or a time set, told once after the handler that
    // made them has run to its end, so that a speed and a time set in one
    // request are told as one change. Not raised by the restores or by ticks.
    void changed(const ClockSnapshot &snapshot);
    // A tick brought a new model minute.
    void minuteChanged(const ClockSnapshot &snapshot);

private:
    void noteChange() { m_notice.start(); }

    Timer m_timer1;
    QTimer m_notice;
    std::vector<ClockPublication *> m_publications;
    double m_clockTime = 0.0;
    qint16 m_clockSpeed = 1;
    qint16 m_countedSpeed = 1;
    ClockState m_state = ClockState::Idle;
    // Beside the time of day, not derived from the days in m_clockTime: a
    // time set starts again on day 0 but keeps the session's date.
    QDate m_modelDate;
};
