// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MasterClock.h"

#include "platform/Log.h"
#include "platform/OpenFiles.h"
#include "platform/RegistryHive.h"
#include "publish/FastClockDatagram.h"
#include "settings/SettingsSequence.h"

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
    connect(&m_web, &WebServer::streamsCounted, this, [this](int count) {
        emit statusShown(QStringLiteral("Live pages"), QStringLiteral("Live pages: %1").arg(count));
    });
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
    if (!LoadSettings(m_store, registry, m_settings, m_clock, hooks, error))
        return false;
    for (const QString &warning : std::as_const(m_extension.warnings))
        qCWarning(lcQuorandel, "%s", qUtf8Printable(warning));
    return true;
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

bool MasterClock::saveSettings(QString *error)
{
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
    return LiveClock::addressOf(m_web.localIP(), m_web.localPort());
}
