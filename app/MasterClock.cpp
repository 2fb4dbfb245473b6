// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MasterClock.h"

#include "platform/Log.h"
#include "platform/OpenFiles.h"
#include "platform/RegistryHive.h"
#include "publish/FastClockDatagram.h"
#include "settings/SettingsSequence.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    , m_jmri(m_extension.jmri, m_clock)
    , m_dccEx(m_extension.dccEx, m_clock)
    , m_z21(m_extension.z21, m_clock)
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
    m_clock.addFollower(m_jmri);
    m_clock.addFollower(m_dccEx);
    m_clock.addFollower(m_z21);
    m_clock.addFollower(m_journal);
    m_clock.addFollower(m_alarms);  // last: an alarm that stops the clock comes after the minute is told

    m_push.setDevice(m_extension.display.address, m_extension.display.port);
    m_live.setLayoutName(m_extension.lcc.name.isEmpty() ? m_extension.fastClock.text : m_extension.lcc.name);
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
    connect(&m_lcc, &BroadcastTimeProducer::refusalsCounted, this,
            [this](const QByteArray &channel, const QByteArray &text) { m_log.noteCounted(channel, text); });
    connect(&m_journal, &SessionJournal::problem, this, [this, warn](const QString &text) {
        warn(text);
        emit statusShown(QStringLiteral("Session"), text);
    });
    connect(&m_alarms, &AlarmWatch::fired, this, &MasterClock::tellAlarm);
    connect(&m_jmri, &JmriClient::controlNote, this,
            [this](const QByteArray &peer, const QByteArray &what, bool refused) {
                m_log.noteControl(peer, what, refused);
            });
    connect(&m_jmri, &JmriClient::refusalsCounted, this,
            [this](const QByteArray &channel, const QByteArray &text) { m_log.noteCounted(channel, text); });
    wireThrottle(m_jmri.status(), m_jmri.isEnabled());
    wireThrottle(m_dccEx.status(), m_dccEx.isEnabled());
    wireThrottle(m_z21.status(), m_z21.isEnabled());
    m_live.setChannels([this] { return channelsJson(); });
    connect(&m_web, &WebServer::streamsCounted, this, [this](int count) {
        emit statusShown(QStringLiteral("Live pages"), QStringLiteral("Live pages: %1").arg(count));
    });
}

// A throttle channel's state is a line in the window, and its loss and
// return a line on stderr.
void MasterClock::wireThrottle(PeerStatus &status, bool enabled)
{
    if (!enabled)
        return;
    connect(&status, &PeerStatus::changed, this,
            [this, &status](const QString &text) { emit statusShown(status.channel(), text); });
    connect(&status, &PeerStatus::problem, this,
            [](const QString &text) { qCWarning(lcQuorandel, "%s", qUtf8Printable(text)); });
    connect(&status, &PeerStatus::notice, this,
            [](const QString &text) { qCInfo(lcQuorandel, "%s", qUtf8Printable(text)); });
}

QByteArray MasterClock::channelsJson()
{
    QJsonArray channels;
    if (m_jmri.isEnabled())
        channels.append(m_jmri.status().json());
    if (m_dccEx.isEnabled())
        channels.append(m_dccEx.status().json());
    if (m_z21.isEnabled())
        channels.append(m_z21.status().json());
    return QJsonDocument(QJsonObject{{"channels", channels}}).toJson(QJsonDocument::Compact);
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
    fitStreamsToOpenFiles();
    m_web.startListening();
    m_export.start();
    m_broadcast.SetUpBroadcast();
    m_live.install();
    m_fastClock.start();
    m_lcc.start();
    m_jmri.start();
    m_dccEx.start();
    m_z21.start();
    m_journal.begin(m_extension.session.date);
    if (!m_sessionStart.startNow)
        return;
    m_clock.start();
    if (m_sessionStart.chosenSpeed != m_sessionStart.countedSpeed)
        m_clock.setSpeed(m_sessionStart.chosenSpeed);
}

// Each live page holds a descriptor: as many as the open-files limit allows
// after the slots and files, and the person running the program is told when
// that is fewer than asked for.
void MasterClock::fitStreamsToOpenFiles()
{
    const int wanted = m_extension.remote.streams;
    const qint64 openFiles = raiseOpenFilesLimit();
    const int fits = WebServer::streamsThatFit(openFiles, wanted);
    m_web.setStreamCapacity(fits);
    if (fits < wanted)
        qCWarning(lcQuorandel, "the limit of open files (%lld) is below the %lld that %d live pages need: "
                               "at most %d live pages at once",
                  openFiles, WebServer::descriptorsFor(wanted), wanted, fits);
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
    m_jmri.stop();
    m_dccEx.stop();
    m_z21.stop();
}

void MasterClock::closeLog()
{
    if (m_settings.LogOpen)
        m_log.close();
}

QString MasterClock::livePageAddress() const
{
    return LiveClock::addressOf(m_web.localIP(), m_web.localPort());
}
