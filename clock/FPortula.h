#pragma once

#include "clock/ClockEngine.h"
#include "platform/Paths.h"
#include "platform/RegistryHive.h"
#include "publish/DisplayPush.h"
#include "publish/ImageExport.h"
#include "publish/TimeBroadcast.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

#include <QMainWindow>

class QLineEdit;
class QPushButton;

// The main window and the composition root: it owns the settings, the clock
// and every subsystem, and runs the start-up sequence before it is shown.
class FPortula : public QMainWindow
{
    Q_OBJECT
public:
    static inline const QString VersionCaption = QStringLiteral("Quorandel 1.40");
    static constexpr int MaxOuterWidth = 1350;
    static constexpr int MaxOuterHeight = 1100;

    explicit FPortula(const AppPaths &paths, QWidget *parent = nullptr);
    ~FPortula() override;

    // The start-up sequence. False, with the reason, when the program cannot
    // start (the settings record cannot be used).
    bool Form_Load(QString *error);

    void StartClock_Click();
    void Stopclock_Click();
    // Shrinks the window to the largest size it may have; never enlarges it.
    void applySizeLimits();

    Settings &settings() { return m_settings; }
    ClockEngine &clock() { return m_clock; }
    SettingsStore &store() { return m_store; }
    TimeBroadcast &broadcast() { return m_broadcast; }
    DisplayPush &push() { return m_push; }
    ImageExport &imageExport() { return m_export; }

    QLineEdit *Text1 = nullptr;
    QPushButton *StartClock = nullptr;
    QPushButton *Stopclock = nullptr;

private:
    void buildControls();
    bool loadSettings(QString *error);

    AppPaths m_paths;
    Settings m_settings;
    ClockEngine m_clock;
    SettingsStore m_store;
    TimeBroadcast m_broadcast{m_clock, m_settings};
    DisplayPush m_push;
    ImageExport m_export;
};
