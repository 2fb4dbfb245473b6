// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MasterClock.h"

#include "platform/Log.h"
#include "platform/RegistryHive.h"
#include "publish/FastClockDatagram.h"
#include "settings/SettingsSequence.h"

#include <QFileInfo>

MasterClock::MasterClock(const AppPaths &paths, SlotStatus &status, ImageExport::SnapWindow snapWindow,
                         const QString &versionCaption, QObject *parent)
    : QObject(parent)
    , m_paths(paths)
    , m_store(paths.settingsFile)
    , m_extension(ExtensionSettings::read(paths.extensionFile))
    , m_web(m_settings, m_log, status, m_files, versionCaption)
    , m_live(m_web, m_clock, m_log, m_extension.remote.password.toUtf8(), versionCaption.toLatin1())
    , m_broadcast(m_clock, m_settings)
    , m_export(paths.exportFolder, std::move(snapWindow))
    , m_fastClock(m_extension.fastClock, m_clock,
                  [this](const ClockSnapshot &clock) {
                      return fastClockStateOf(clock, m_web.localIP(), m_web.localPort());
                  })
    , m_lcc(m_extension.lcc, m_clock)
    , m_journal(paths.settingsFile, m_clock)
    , m_alarms(m_extension.session.alarms, m_clock)
{
    wire();
}

// Who hears the clock, in one list. The publications run with its timers:
// Start and Stop switch them beside Timer1, in this order. The followers hear
// each change once its handler has run, and each new model minute.
void MasterClock::wire()
{
    m_clock.addPublication(m_broadcast);
    m_clock.addPublication(m_push);
    m_clock.addFollower(m_live);
    m_clock.addFollower(m_fastClock);
    m_clock.addFollower(m_lcc);
    m_clock.addFollower(m_journal);
    m_clock.addFollower(m_alarms);  // last: an alarm that stops the clock comes after the minute is told

    m_push.setDevice(m_extension.display.address, m_extension.display.port);
    const auto warn = [](const QString &text) { qCWarning(lcQuorandel, "%s", qUtf8Printable(text)); };
    connect(&m_fastClock, &FastClockMulticast::sendFailed, this, warn);
    connect(&m_lcc, &BroadcastTimeProducer::problem, this, warn);
    connect(&m_lcc, &BroadcastTimeProducer::notice, this,
            [](const QString &text) { qCInfo(lcQuorandel, "%s", qUtf8Printable(text)); });
    // The layout network's set events are noted as the web control's commands are.
    connect(&m_lcc, &BroadcastTimeProducer::controlNote, this,
            [this](const QByteArray &peer, const QByteArray &what, bool refused) {
                m_log.noteControl(peer, what, refused);
            });
    connect(&m_journal, &SessionJournal::problem, this, [this, warn](const QString &text) {
        warn(text);
        emit statusShown(QStringLiteral("Session"), text);
    });
    connect(&m_alarms, &AlarmWatch::fired, this, &MasterClock::tellAlarm);
}

// Problems in the extension file are told once each and never stop the program.
bool MasterClock::loadSettings(const std::function<void()> &putTrimsIntoConfig, QString *error)
{
    const RegistryHive registry = RegistryHive::fromFile(m_paths.registryFile);
    if (!registry.error().isEmpty())
        qCWarning(lcQuorandel, "logging switches left off: %s", qUtf8Printable(registry.error()));
    LoadHooks hooks;
    hooks.defaultWebRoot = m_paths.exportFolder;
    hooks.openRequestLog = [this] {
        return m_log.open(requestLogFolder(m_paths.executableFolder) + QStringLiteral("/PortulaLog.txt"));
    };
    hooks.putTrimsIntoConfig = putTrimsIntoConfig;
    // Before the record is read: a first run creates it.
    const QDateTime recordSaved = QFileInfo(m_paths.settingsFile).lastModified();
    if (!LoadSettings(m_store, registry, m_settings, m_clock, hooks, error))
        return false;
    for (const QString &warning : std::as_const(m_extension.warnings))
        qCWarning(lcQuorandel, "%s", qUtf8Printable(warning));
    resumeSession(recordSaved);
    return true;
}

// The record's time and speed stay unless the journal is newer than the
// record's last orderly save; the model date goes on from the journal.
void MasterClock::resumeSession(const QDateTime &recordSaved)
{
    const JournalRead journal = m_journal.read();
    if (journal.status == JournalRead::Status::Damaged) {
        qCWarning(lcQuorandel, "%s", qUtf8Printable(journal.problem));
        emit statusShown(QStringLiteral("Session"), journal.problem);
    }
    m_sessionStart = planSessionStart(journal, recordSaved, m_extension.session);
    m_clock.restoreDate(m_sessionStart.date);
    if (!m_sessionStart.resumed)
        return;
    m_clock.restoreTime(m_sessionStart.clockTime);
    // A speed chosen while it ran waits, as it did, for the next Start.
    m_clock.restoreSpeed(m_sessionStart.startNow ? m_sessionStart.countedSpeed : m_sessionStart.chosenSpeed);
    qCInfo(lcQuorandel, "%s", qUtf8Printable(m_sessionStart.said));
    emit statusShown(QStringLiteral("Session"), m_sessionStart.said);
}

// Said everywhere a person may be looking, before the clock stops for it.
void MasterClock::tellAlarm(const Alarm &alarm)
{
    const QString text = QStringLiteral("Alarm %1%2%3")
                             .arg(QString::fromLatin1(Alarms::timeText(alarm)),
                                  alarm.text.isEmpty() ? QString() : QStringLiteral(": ") + alarm.text,
                                  alarm.stop ? QStringLiteral(" (the clock stops)") : QString());
    emit statusShown(QStringLiteral("Alarm"), text);
    qCInfo(lcQuorandel, "%s", qUtf8Printable(text));
    m_live.tellAlarm(alarm);
    if (m_settings.LogE)
        m_log.WriteLog(RequestLog::noteLine(QDateTime::currentDateTime(), "model time", text.toUtf8()));
}

// A port that cannot be bound is shown in the status panel; the clock and its
// broadcasts run on without the web server.
void MasterClock::startPublishing()
{
    m_web.startListening();
    m_export.start();
    m_broadcast.SetUpBroadcast();
    m_live.install();
    m_fastClock.start();
    m_lcc.start();
    m_journal.begin(m_extension.session.date);
    if (!m_sessionStart.startNow)
        return;
    m_clock.start();
    if (m_sessionStart.chosenSpeed != m_sessionStart.countedSpeed)
        m_clock.setSpeed(m_sessionStart.chosenSpeed);
}

// The journal's last entry comes before the record's save, so that the next
// start finds the record newer and takes it.
bool MasterClock::saveSettings(QString *error)
{
    m_journal.finish();
    return SaveSettings(m_store, m_settings, m_clock, error);
}

void MasterClock::finish(int stopBurst)
{
    m_clock.stop(stopBurst);
    m_fastClock.stop();
    m_lcc.stop();
}

void MasterClock::closeLog()
{
    if (m_settings.LogOpen)
        m_log.close();
}

QString MasterClock::livePageAddress() const
{
    return QStringLiteral("http://%1:%2/quorandel/").arg(m_web.localIP()).arg(m_web.localPort());
}
