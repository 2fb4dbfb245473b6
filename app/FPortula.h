// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MessageSink.h"
#include "app/WindowPicture.h"
#include "clock/ClockEngine.h"
#include "platform/FileNumbers.h"
#include "platform/Paths.h"
#include "platform/RegistryHive.h"
#include "publish/BroadcastTimeProducer.h"
#include "publish/DisplayPush.h"
#include "publish/FastClockMulticast.h"
#include "publish/ImageExport.h"
#include "publish/TimeBroadcast.h"
#include "settings/ExtensionSettings.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "web/RequestLog.h"
#include "clock/ClockControl.h"
#include "web/LiveClock.h"
#include "web/SlotStatus.h"
#include "web/WebServer.h"

#include "QuorandelVersion.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QTimer>
#include <QVector>

class About;
class FConfig;
class frmSetSpeed;
class frmSetTime;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// The main window and the composition root: it owns the settings, the clock
// and every subsystem, and runs the start-up sequence before it is shown. The
// web server reaches its status labels only through SlotStatus, and the live
// page the clock only through ClockControl.
class FPortula : public QMainWindow, public SlotStatus, public ClockControl
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
    // Stores the settings, tells the remote clocks that the clock stopped,
    // closes the log and the configuration dialog, and ends the program; once.
    void ShutDown(ExitVariant variant);
    void setEndProgram(EndProgram end) { m_endProgram = std::move(end); }
    // Why the settings could not be stored at the exit; empty when they were.
    QString shutDownError() const { return m_shutDownError; }
    // "http://<address>:<port>/quorandel/": where browsers find the live clock.
    QString livePageAddress() const;
    // Shrinks the window to the largest size it may have; never enlarges it.
    void applySizeLimits();

    // Status label n inside Picture1, created on first use 240 twips below
    // label n - 1 with the look of label 0. Null for a negative index.
    QLabel *LFileProgress(int index);
    void loadSlot(int slot) override;
    void setSlotText(int slot, const QString &text) override;
    QString slotText(int slot) const override;

    ClockSnapshot clockSnapshot() const override;
    void startClock() override { StartClock_Click(); }
    void stopClock() override { Stopclock_Click(); }
    void setSpeed(qint16 speed) override;
    void setTimeAndHold(int hour, int minute) override;

    // Every message for the user goes through here.
    void setMessageSink(MessageSink sink) { m_message = std::move(sink); }
    void showMessage(const QString &text) { m_message(text); }

    // The other windows while they are open, null once closed.
    frmSetSpeed *setSpeedWindow() const;
    frmSetTime *setTimeWindow() const;
    About *aboutWindow() const;
    FConfig *configWindow() const;

    Settings &settings() { return m_settings; }
    ClockEngine &clock() { return m_clock; }
    TimeBroadcast &broadcast() { return m_broadcast; }
    DisplayPush &push() { return m_push; }
    FastClockMulticast &fastClock() { return m_fastClock; }
    LiveClock &liveClock() { return m_live; }
    BroadcastTimeProducer &lcc() { return m_lcc; }
    ImageExport &imageExport() { return m_export; }
    const ExtensionSettings &extensionSettings() const { return m_extension; }

    QLineEdit *Text1 = nullptr;  // the model time, read only
    QLineEdit *Text2 = nullptr;  // the address line, read only
    QPushButton *StartClock = nullptr;
    QPushButton *Stopclock = nullptr;
    QFrame *Picture1 = nullptr;  // the connection status panel
    QLabel *Picture2 = nullptr;  // hidden; receives the captured window
    QAction *MConfig = nullptr;
    QAction *nFast = nullptr;
    QAction *nEnd = nullptr;
    QAction *nHelp = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildButtons(QWidget *client);
    void buildTimeDisplay(QWidget *client);
    void buildStatusPanel(QWidget *client);
    void buildMenu();
    void showSetTime();
    bool loadSettings(QString *error);
    FConfig *loadConfig();
    void reportSaveFailure();
    void haltClockTimers();
    void readExtensionSettings();
    void tellFollowers(const ClockSnapshot &snapshot);
    void wireLcc();

    AppPaths m_paths;
    Settings m_settings;
    ClockEngine m_clock;
    SettingsStore m_store;
    MessageSink m_message;
    QVector<QLabel *> m_fileProgress;
    // A transfer changes its line with every chunk, hundreds of times a
    // second under load: a line shows its newest text at once, then at most
    // once per StatusRefreshMs, so that laying out and painting texts no one
    // can read that fast does not hold up the clock's broadcasts.
    static constexpr int StatusRefreshMs = 100;
    void showSlotTexts();
    QMap<int, QString> m_waitingTexts;  // the newest text of each line not shown yet
    QTimer m_statusRefresh;
    QPointer<frmSetSpeed> m_setSpeed;
    QPointer<frmSetTime> m_setTime;
    QPointer<About> m_about;
    QPointer<FConfig> m_config;
    RequestLog m_log;
    FileNumbers m_files;
    WebServer m_web{m_settings, m_log, *this, m_files, VersionCaption};
    EndProgram m_endProgram;
    bool m_shutDownDone = false;
    QString m_shutDownError;
    TimeBroadcast m_broadcast{m_clock, m_settings};
    DisplayPush m_push;
    WindowPicture m_picture{*this};
    ImageExport m_export;
    ExtensionSettings m_extension = ExtensionSettings::read(m_paths.extensionFile);
    LiveClock m_live{m_web, *this, m_log, m_extension.remote.password.toUtf8(), VersionCaption.toLatin1()};
    FastClockMulticast m_fastClock{m_extension.fastClock, [this] {
        return fastClockStateOf(clockSnapshot(), m_web.localIP(), m_web.localPort());
    }};
    BroadcastTimeProducer m_lcc{m_extension.lcc, *this};
};
