// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// A periodic timer on the user-interface thread with a period in whole
// milliseconds (0 = off) and an enabled flag; it ticks while both allow it.
//
// Ticks are scheduled on a fixed grid (start + k * period), so the period never
// drifts however late one tick runs. A catch-up timer delivers every grid point
// it missed while the event loop was busy (the model clock must not lose
// seconds); any other timer skips missed points and resumes on the grid.
class Timer : public QObject
{
    Q_OBJECT
public:
    explicit Timer(QObject *parent = nullptr);

    int interval() const { return m_interval; }
    // Setting the period it already has leaves a running timer on its grid.
    void setInterval(int ms);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isRunning() const { return m_enabled && m_interval > 0; }

    void setCatchUp(bool catchUp) { m_catchUp = catchUp; }

signals:
    void ticked();

private:
    void restart();
    void arm();
    void onTimeout();
    qint64 dueTicks() const;

    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_interval = 0;
    bool m_enabled = true;
    bool m_catchUp = false;
    qint64 m_origin = 0;     // ms on m_clock when the grid started
    qint64 m_ticksDone = 0;  // grid points handled since m_origin
    quint64 m_generation = 0;
};
