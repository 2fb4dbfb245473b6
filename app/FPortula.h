// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MasterClock.h"
#include "app/MessageSink.h"
#include "app/WindowPicture.h"

#include "QuorandelVersion.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class About;
class FConfig;
class LiveCodeWindow;
class frmSetSpeed;
class frmSetTime;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class StatusPanel;

// The main window: its widgets and their click handlers, and the start-up and
// shutdown sequences, whose steps it calls on the master clock it owns.
class FPortula : public QMainWindow
{
    Q_OBJECT
public:
    static inline const QString VersionCaption = QString::fromLatin1(QuorandelCaption);
    static constexpr int MaxOuterWidth = 1350;
    static constexpr int MaxOuterHeight = 1100;

    // The two orderly ways out: the menu command, and the window being closed
    // (its close box, a session that ends, a stop signal).
    enum class ExitVariant { MenuCommand, WindowClosed };
    // Ends the program; the argument is its exit status.
    using EndProgram = std::function<void(int status)>;

    explicit FPortula(const AppPaths &paths, QWidget *parent = nullptr);
    ~FPortula() override;

    // The start-up sequence. False, with the reason, when the program cannot
    // start (the settings record cannot be used).
    bool Form_Load(QString *error);

    void StartClock_Click();
    void Stopclock_Click();
    void MConfig_Click();
    void nFast_Click();
    void nEnd_Click();
    void nHelp_Click();
    void nCode_Click();
    // Stores the settings, tells the remote clocks that the clock stopped,
    // closes the log and the configuration dialog, and ends the program; once.
    void ShutDown(ExitVariant variant);
    void setEndProgram(EndProgram end) { m_endProgram = std::move(end); }
    // Why the settings could not be stored at the exit; empty when they were.
    QString shutDownError() const { return m_shutDownError; }
    // Shrinks the window to the largest size it may have; never enlarges it.
    void applySizeLimits();

    // Every message for the user goes through here.
    void setMessageSink(MessageSink sink) { m_message = std::move(sink); }
    void showMessage(const QString &text) { m_message(text); }

    MasterClock &master() { return m_master; }
    // The other windows while they are open, null once closed.
    frmSetSpeed *setSpeedWindow() const;
    frmSetTime *setTimeWindow() const;
    About *aboutWindow() const;
    LiveCodeWindow *codeWindow() const;
    FConfig *configWindow() const;

    QLineEdit *Text1 = nullptr;  // the model time, read only
    QLineEdit *Text2 = nullptr;  // the address line, read only
    QPushButton *StartClock = nullptr;
    QPushButton *Stopclock = nullptr;
    StatusPanel *Picture1;  // the connection status panel; made before the master clock, which writes to it
    QLabel *Picture2 = nullptr;  // hidden; receives the captured window
    QAction *MConfig = nullptr;
    QAction *nFast = nullptr;
    QAction *nEnd = nullptr;
    QAction *nHelp = nullptr;  // in the Help menu: the About box
    QAction *nCode = nullptr;  // in the Help menu: the live page's code

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildButtons(QWidget *client);
    void buildTimeDisplay(QWidget *client);
    void buildMenu();
    void showSetTime();
    FConfig *loadConfig();
    void reportSaveFailure();

    MessageSink m_message;
    WindowPicture m_picture{*this};
    MasterClock m_master;
    QPointer<frmSetSpeed> m_setSpeed;
    QPointer<frmSetTime> m_setTime;
    QPointer<About> m_about;
    QPointer<LiveCodeWindow> m_code;
    QPointer<FConfig> m_config;
    EndProgram m_endProgram;
    bool m_shutDownDone = false;
    QString m_shutDownError;
};
