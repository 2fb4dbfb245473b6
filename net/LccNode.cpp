// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LccNode.h"

#include <utility>

using namespace OpenLcb;

LccNode::LccNode(NodeId id, const NodeInformation &info, QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_snip(simpleNodeInformation(info))
    , m_aliases(id)
{
    m_wait.setSingleShot(true);
    m_wait.setTimerType(Qt::PreciseTimer);
    connect(&m_wait, &QTimer::timeout, this, &LccNode::reserved);
}

void LccNode::linkUp()
{
    reserve();
}

void LccNode::linkDown()
{
    m_wait.stop();
    m_state = State::Down;
    m_others.clear();
}

void LccNode::send(const CanFrame &frame)
{
    if (m_send)
        m_send(frame);
}

void LccNode::sendGlobal(quint16 mti, const QByteArray &data)
{
    if (m_state == State::Initialized)
        send(globalMessage(mti, alias(), data));
}

void LccNode::sendAddressed(quint16 mti, Alias destination, const QByteArray &payload)
{
    for (const CanFrame &frame : addressedMessage(mti, alias(), destination, payload))
        send(frame);
}

void LccNode::reserve()
{
    m_state = State::Reserving;
    for (const CanFrame &frame : checkIds(m_id, alias()))
        send(frame);
    m_sinceCheck.start();
    m_wait.start(ReserveWaitMs);
}

void LccNode::reserved()
{
    if (m_state != State::Reserving)
        return;
    // A timer may fire a little early; the standard's 200 ms are a minimum.
    const qint64 left = ReserveWaitMs - m_sinceCheck.elapsed();
    if (left > 0) {
        m_wait.start(int(left));
        return;
    }
    send(reserveId(alias()));
    send(aliasMapDefinition(alias(), m_id));
    if (m_state != State::Reserving)
        return;  // the link went down while these were sent
    m_state = State::Initialized;
    sendGlobal(InitializationComplete, nodeIdBytes(m_id));
    if (m_state == State::Initialized)
        emit initialized();
}

void LccNode::collision()
{
    if (m_state == State::Initialized)
        send(aliasMapReset(alias(), m_id));
    m_wait.stop();
    m_aliases.next();
    reserve();
}

void LccNode::receive(const CanFrame &frame)
{
    if (m_state == State::Down)
        return;
    if (sourceAlias(frame.header) == alias()) {
        // Ours, sent by another node.
        if (m_state == State::Initialized && controlKind(frame.header) == Control::Cid)
            send(reserveId(alias()));
        else
            collision();
        return;
    }
    if (m_state != State::Initialized)
        return;
    if (isMessage(frame.header))
        receiveMessage(frame);
    else
        receiveControl(frame);
}

void LccNode::receiveControl(const CanFrame &frame)
{
    switch (controlKind(frame.header)) {
    case Control::Ame:
        if (frame.data.isEmpty() || nodeIdFrom(frame.data) == m_id)
            send(aliasMapDefinition(alias(), m_id));
        return;
    case Control::Amr:
        m_others.remove(sourceAlias(frame.header));
        return;
    case Control::Amd:
        if (frame.data.size() >= 6)
            m_others.insert(sourceAlias(frame.header), nodeIdFrom(frame.data));
        if (nodeIdFrom(frame.data) == m_id && !std::exchange(m_duplicateReported, true))
            emit problem(QStringLiteral("another node on the LCC network (alias %1) has this node's ID %2; "
                                        "node IDs must be unique: check [lcc] node=")
                             .arg(sourceAlias(frame.header), 3, 16, QLatin1Char('0'))
                             .arg(dotted(m_id)));
        return;
    default:
        return;
    }
}

void LccNode::receiveMessage(const CanFrame &frame)
{
    const Alias source = sourceAlias(frame.header);
    switch (frameType(frame.header)) {
    case 1:
        break;
    case 2:  // a datagram in one frame, or the last frame of one
    case 5:
        if (datagramDestination(frame.header) == alias())
            send(datagramRejected(alias(), source, ErrorNotImplemented));
        return;
    default:
        return;
    }
    const quint16 type = mti(frame.header);
    if (type & MtiAddressBit) {
        if (addressedDestination(frame.data) == alias())
            receiveAddressed(type, source, frame.data);
        return;
    }
    switch (type) {
    case InitializationComplete:
    case InitializationComplete | 1:  // the simple protocol's
    case VerifiedNodeId:
    case VerifiedNodeId | 1:
        if (frame.data.size() >= 6)
            m_others.insert(source, nodeIdFrom(frame.data));
        return;
    case VerifyNodeIdGlobal:
        if (frame.data.isEmpty() || nodeIdFrom(frame.data) == m_id)
            sendGlobal(VerifiedNodeId, nodeIdBytes(m_id));
        return;
    case IdentifyEventsGlobal:
        emit eventsIdentifyAsked();
        return;
    case IdentifyProducer:
        if (frame.data.size() >= 8)
            emit producerIdentifyAsked(eventIdFrom(frame.data));
        return;
    case IdentifyConsumer:
        if (frame.data.size() >= 8)
            emit consumerIdentifyAsked(eventIdFrom(frame.data));
        return;
    case EventReport:
        if (frame.data.size() >= 8)
            emit eventReported(source, eventIdFrom(frame.data));
        return;
    default:
        return;
    }
}

void LccNode::receiveAddressed(quint16 type, Alias source, const QByteArray &data)
{
    switch (type) {
    case VerifyNodeIdAddressed:
        sendGlobal(VerifiedNodeId, nodeIdBytes(m_id));
        return;
    case ProtocolSupportInquiry: {
        const quint32 flags = ProtocolEventExchange | ProtocolSimpleNodeInformation;
        QByteArray payload(6, '\0');
        payload[0] = char(flags >> 16);
        payload[1] = char(flags >> 8);
        payload[2] = char(flags);
        sendAddressed(ProtocolSupportReply, source, payload);
        return;
    }
    case SimpleNodeInfoRequest:
        sendAddressed(SimpleNodeInfoReply, source, m_snip);
        return;
    case IdentifyEventsAddressed:
        emit eventsIdentifyAsked();
        return;
    // Answers and refusals are never refused in turn.
    case OptionalInteractionRejected:
    case TerminateDueToError:
    case ProtocolSupportReply:
    case SimpleNodeInfoReply:
    case DatagramReceivedOk:
    case DatagramRejected:
    case StreamInitiateReply:
        return;
    default:
        break;
    }
    // Once per message: on its only or its last frame.
    const int flags = addressedFlags(data);
    if (flags != 0 && flags != 2)
        return;
    QByteArray payload;
    payload.append(char(ErrorUnknownMti >> 8)).append(char(ErrorUnknownMti & 0xFF));
    payload.append(char(type >> 8)).append(char(type & 0xFF));
    sendAddressed(OptionalInteractionRejected, source, payload);
}
