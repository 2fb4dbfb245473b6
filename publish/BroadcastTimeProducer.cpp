// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/BroadcastTimeProducer.h"

#include "clock/ClockTime.h"
#include "clock/OfferedSpeeds.h"

#include "QuorandelVersion.h"

#include <algorithm>

using namespace OpenLcb;
namespace BT = BroadcastTime;

namespace {

NodeInformation nodeInformation(const ExtensionSettings::Lcc &settings)
{
    NodeInformation info;
    info.manufacturer = QStringLiteral("Quorandel");
    info.model = QStringLiteral("Quorandel master fast clock");
    info.hardwareVersion = QStringLiteral("PC");
    info.softwareVersion = QString::fromLatin1(QuorandelVersion);
    info.userName = settings.name;
    info.userDescription = settings.description;
    return info;
}

QByteArray rateText(int quarters)
{
    if (quarters % 4 == 0)
        return QByteArray::number(quarters / 4) + ":1";
    return QByteArray::number(quarters / 4.0, 'f', 2) + ":1";
}

}  // namespace

BroadcastTimeProducer::BroadcastTimeProducer(const ExtensionSettings::Lcc &settings, ClockControl &clock,
                                             QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_hub(settings.hubHost, settings.hubPort)
    , m_node(settings.nodeId, nodeInformation(settings))
    , m_date(settings.date.isValid() ? settings.date : QDate(1970, 1, 1))
{
    m_sync.setSingleShot(true);
    m_sync.setInterval(SyncDelayMs);
    m_sync.setTimerType(Qt::PreciseTimer);
    m_dateReport.setSingleShot(true);
    m_dateReport.setTimerType(Qt::PreciseTimer);
    m_dateReport.setInterval(SyncDelayMs);
    connect(&m_sync, &QTimer::timeout, this, &BroadcastTimeProducer::sendSync);
    connect(&m_dateReport, &QTimer::timeout, this, &BroadcastTimeProducer::sendDateAndYear);

    m_node.setSender([this](const CanFrame &frame) { m_hub.send(frame); });
    connect(&m_hub, &GridConnectClient::connected, &m_node, &LccNode::linkUp);
    connect(&m_hub, &GridConnectClient::disconnected, this, [this] {
        m_node.linkDown();
        m_sync.stop();
        m_dateReport.stop();
        m_told = Told();
    });
    connect(&m_hub, &GridConnectClient::frameReceived, &m_node, &LccNode::receive);
    connect(&m_hub, &GridConnectClient::hubLost, this, &BroadcastTimeProducer::problem);
    connect(&m_hub, &GridConnectClient::hubReached, this, &BroadcastTimeProducer::notice);
    connect(&m_node, &LccNode::problem, this, &BroadcastTimeProducer::problem);
    connect(&m_node, &LccNode::initialized, this, &BroadcastTimeProducer::loggedIn);
    connect(&m_node, &LccNode::eventsIdentifyAsked, this, &BroadcastTimeProducer::identifyEvents);
    connect(&m_node, &LccNode::producerIdentifyAsked, this, [this](EventId event) {
        if (event >> 16 == m_settings.clockId)
            m_node.sendEvent(ProducerRangeIdentified, eventId(0xFFFF));
    });
    connect(&m_node, &LccNode::consumerIdentifyAsked, this, [this](EventId event) {
        if (event >> 16 == m_settings.clockId && (event & BT::SetBit))
            m_node.sendEvent(ConsumerRangeIdentified, eventId(0x8000));
    });
    connect(&m_node, &LccNode::eventReported, this, &BroadcastTimeProducer::eventReported);
    connect(&m_refusals, &RefusalCounter::counted, this, &BroadcastTimeProducer::refusalsCounted);
}

void BroadcastTimeProducer::start()
{
    if (isEnabled())
        m_hub.start();
}

// The clocks on the network hear the master's last word before it goes: a
// clock that was told "running" would otherwise count on by itself.
void BroadcastTimeProducer::stop()
{
    reportChanges(m_clock.snapshot(), Force::None);
    m_sync.stop();
    m_dateReport.stop();
    m_hub.stop();
    m_node.linkDown();
}

void BroadcastTimeProducer::loggedIn()
{
    identifyEvents();
    sendSync();
}

// Every suffix is ours to produce; the set half is ours to consume.
void BroadcastTimeProducer::identifyEvents()
{
    m_node.sendEvent(ProducerRangeIdentified, eventId(0xFFFF));
    m_node.sendEvent(ConsumerRangeIdentified, eventId(0x8000));
}

void BroadcastTimeProducer::sendSync()
{
    if (!m_node.isInitialized())
        return;
    m_sync.stop();
    const ClockSnapshot clock = m_clock.snapshot();
    followDate(clock);
    m_told = Told{true, clock.running(), quartersOf(clock), clock.secondsOfDay / 60};
    m_node.sendEvent(ProducerIdentifiedValid, eventId(m_told.running ? BT::Start : BT::Stop));
    m_node.sendEvent(ProducerIdentifiedValid, eventId(BT::rateSuffix(m_told.quarters)));
    m_node.sendEvent(ProducerIdentifiedValid, eventId(BT::yearSuffix(m_date)));
    m_node.sendEvent(ProducerIdentifiedValid, eventId(BT::dateSuffix(m_date)));
    m_node.sendEvent(ProducerIdentifiedValid, eventId(BT::timeSuffix(clock.secondsOfDay)));
}

void BroadcastTimeProducer::sendDateAndYear()
{
    reportEvent(BT::yearSuffix(m_date));
    reportEvent(BT::dateSuffix(m_date));
}

void BroadcastTimeProducer::reportEvent(quint16 suffix)
{
    m_node.sendEvent(EventReport, eventId(suffix));
}

void BroadcastTimeProducer::clockChanged(const ClockSnapshot &clock)
{
    followMinute(clock, false);
    reportChanges(clock, Force::None);
    if (followDate(clock) && m_node.isInitialized())
        sendDateAndYear();
}

// The session's date, when it keeps one, is the clock's; true when it changed.
bool BroadcastTimeProducer::followDate(const ClockSnapshot &clock)
{
    if (!clock.modelDate.isValid() || clock.modelDate == m_date)
        return false;
    m_date = clock.modelDate;
    return true;
}

void BroadcastTimeProducer::minuteChanged(const ClockSnapshot &clock)
{
    if (clock.running())
        followMinute(clock, true);
}

// A minute reached by counting past 23:59 is the next day.
void BroadcastTimeProducer::followMinute(const ClockSnapshot &clock, bool mayRoll)
{
    const int minute = clock.secondsOfDay / 60;
    if (minute == m_lastMinute)
        return;
    const bool rolled = mayRoll && m_lastMinute >= 0 && minute < m_lastMinute;
    m_lastMinute = minute;
    if (rolled && !followDate(clock))
        m_date = m_date.addDays(1);
    if (!mayRoll || !m_node.isInitialized())
        return;
    if (rolled)
        reportEvent(BT::DateRollover);
    reportEvent(BT::timeSuffix(clock.secondsOfDay));
    m_told.minute = minute;
    if (rolled)
        m_dateReport.start();
}

// A clock that stops says so first; one that starts says so last, once its
// rate and time are known.
void BroadcastTimeProducer::reportChanges(const ClockSnapshot &clock, Force force)
{
    if (!m_node.isInitialized())
        return;
    const Told now{true, clock.running(), quartersOf(clock), clock.secondsOfDay / 60};
    const bool runState = !m_told.valid || now.running != m_told.running || force == Force::RunState;
    const bool rate = !m_told.valid || now.quarters != m_told.quarters || force == Force::Rate;
    const bool time = !m_told.valid || now.minute != m_told.minute || force == Force::Time;
    m_told = now;
    if (runState && !now.running)
        reportEvent(BT::Stop);
    if (rate)
        reportEvent(BT::rateSuffix(now.quarters));
    if (time)
        reportEvent(BT::timeSuffix(clock.secondsOfDay));
    if (runState && now.running)
        reportEvent(BT::Start);
    if (runState || rate || time)
        m_sync.start();
}

void BroadcastTimeProducer::eventReported(Alias source, EventId event)
{
    if (event >> 16 != m_settings.clockId)
        return;
    const BT::Decoded d = BT::decode(quint16(event & 0xFFFF));
    switch (d.kind) {
    case BT::Decoded::QueryClock:
        sendSync();
        return;
    case BT::Decoded::StartClock:
    case BT::Decoded::StopClock:
    case BT::Decoded::SetTime:
    case BT::Decoded::SetRate:
    case BT::Decoded::SetDate:
    case BT::Decoded::SetYear:
    case BT::Decoded::BadSetTime:
    case BT::Decoded::BadSetDate:
        setAsked(source, d);
        return;
    default:
        return;  // reports of another generator, a rollover, nothing known
    }
}

void BroadcastTimeProducer::setAsked(Alias source, const BT::Decoded &set)
{
    const QByteArray peer = "LCC alias " + QByteArray::number(source, 16).rightJustified(3, '0').toUpper();
    QByteArray what;
    Force force = Force::None;
    switch (set.kind) {
    case BT::Decoded::StartClock:
        what = "start";
        force = Force::RunState;
        break;
    case BT::Decoded::StopClock:
        what = "stop";
        force = Force::RunState;
        break;
    case BT::Decoded::SetTime:
        what = "set time " + ClockTimeMath::twoDigits(set.hour) + ':' + ClockTimeMath::twoDigits(set.minute);
        force = Force::Time;
        break;
    case BT::Decoded::SetRate:
        what = "set rate " + rateText(set.quarters);
        force = Force::Rate;
        break;
    case BT::Decoded::SetDate:
        refuse(source, peer,
               "refused: the model date is fixed by [lcc] date=: set date " + ClockTimeMath::twoDigits(set.month) + '-'
                   + ClockTimeMath::twoDigits(set.day));
        reportEvent(BT::dateSuffix(m_date));
        return;
    case BT::Decoded::SetYear:
        refuse(source, peer, "refused: the model date is fixed by [lcc] date=: set year " + QByteArray::number(set.year));
        reportEvent(BT::yearSuffix(m_date));
        return;
    case BT::Decoded::BadSetTime:
        refuse(source, peer, "refused: not a time of day: set time " + ClockTimeMath::twoDigits(set.hour) + ':'
                                 + ClockTimeMath::twoDigits(set.minute));
        reportChanges(m_clock.snapshot(), Force::Time);
        return;
    case BT::Decoded::BadSetDate:
        refuse(source, peer, "refused: not a date: set date " + ClockTimeMath::twoDigits(set.month) + '-'
                                 + ClockTimeMath::twoDigits(set.day));
        reportEvent(BT::dateSuffix(m_date));
        return;
    default:
        return;
    }
    if (!m_settings.control) {
        refuse(source, peer, "refused: control from LCC is off ([lcc] control=false): " + what);
        reportChanges(m_clock.snapshot(), force);
        return;
    }
    if (set.kind == BT::Decoded::SetRate) {
        if (set.quarters % 4 != 0 || !OfferedSpeeds::contains(set.quarters / 4)) {
            refuse(source, peer, "refused: not one of the speeds " + OfferedSpeeds::listed("and") + ":1: " + what);
            reportChanges(m_clock.snapshot(), force);
            return;
        }
    }
    emit controlNote(peer, "accepted: " + what, false);
    switch (set.kind) {
    case BT::Decoded::StartClock:
        m_clock.start();
        break;
    case BT::Decoded::StopClock:
        m_clock.stop();
        break;
    case BT::Decoded::SetTime:
        m_clock.setTimeAndHold(set.hour, set.minute);
        break;
    case BT::Decoded::SetRate:
        m_clock.chooseSpeedRemotely(qint16(set.quarters / 4));
        break;
    default:
        break;
    }
    const ClockSnapshot now = m_clock.snapshot();
    followMinute(now, false);
    reportChanges(now, force);
}

// Each refusal is answered; the first from a node is noted, the rest counted.
void BroadcastTimeProducer::refuse(Alias source, const QByteArray &peer, const QByteArray &what)
{
    const NodeId node = m_node.nodeIdOf(source);
    const QByteArray sender = node ? dotted(node).toLatin1() : "alias " + peer.mid(peer.lastIndexOf(' ') + 1);
    if (m_refusals.first(sender))
        emit controlNote(peer, what, true);
}
