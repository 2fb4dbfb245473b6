// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/OpenLcbCan.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

// One OpenLCB node on a CAN segment (reached through a hub): what every node
// must do, and nothing about what it is for.
//
// When the link comes up it reserves an alias (the four Check ID frames, at
// least ReserveWaitMs of silence, Reserve ID), tells it (Alias Map Definition)
// and announces itself (Initialization Complete); then initialized() is
// emitted. A frame from another node with the alias it tries or holds is a
// collision: while reserving it takes the next alias from the standard's
// generator and starts again; once it holds the alias it defends it against a
// Check ID (Reserve ID) and gives it up for anything else (Alias Map Reset,
// then a new reservation, Alias Map Definition and Initialization Complete
// again).
//
// It answers Alias Mapping Enquiry, Verify Node ID (global and addressed),
// Protocol Support Inquiry (Event Exchange, Simple Node Information) and the
// Simple Node Information request; other addressed messages get Optional
// Interaction Rejected, datagrams Datagram Rejected. What is addressed to
// other nodes is ignored. Event messages go to the signals below for the
// protocol on top.
class LccNode : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReserveWaitMs = 200;
    using SendFrame = std::function<void(const CanFrame &)>;

    LccNode(OpenLcb::NodeId id, const OpenLcb::NodeInformation &info, QObject *parent = nullptr);

    void setSender(SendFrame send) { m_send = std::move(send); }
    OpenLcb::NodeId nodeId() const { return m_id; }
    OpenLcb::Alias alias() const { return m_aliases.alias(); }
    // Another node's ID, once the network has told which alias it holds
    // (Alias Map Definition, Initialization Complete, Verified Node ID); 0 when
    // unknown. At most one per alias, so the table stays within 4,096 entries.
    OpenLcb::NodeId nodeIdOf(OpenLcb::Alias alias) const { return m_others.value(alias); }
    bool isInitialized() const { return m_state == State::Initialized; }

    // The link to the network is up: the login begins. Down: nothing is sent
    // until it is up again.
    void linkUp();
    void linkDown();
    void receive(const CanFrame &frame);

    // A message for every node, from this node's alias; dropped unless
    // initialized.
    void sendGlobal(quint16 mti, const QByteArray &data = {});
    void sendEvent(quint16 mti, OpenLcb::EventId event) { sendGlobal(mti, OpenLcb::eventIdBytes(event)); }

signals:
    void initialized();
    void eventReported(OpenLcb::Alias source, OpenLcb::EventId event);
    void producerIdentifyAsked(OpenLcb::EventId event);
    void consumerIdentifyAsked(OpenLcb::EventId event);
    void eventsIdentifyAsked();
    // Something the person running the network should know (another node
    // with this node's ID); told once.
    void problem(const QString &text);

private:
    enum class State { Down, Reserving, Initialized };

    void reserve();
    void reserved();
    void collision();
    void receiveControl(const CanFrame &frame);
    void receiveMessage(const CanFrame &frame);
    void receiveAddressed(quint16 mti, OpenLcb::Alias source, const QByteArray &data);
    void send(const CanFrame &frame);
    void sendAddressed(quint16 mti, OpenLcb::Alias destination, const QByteArray &payload);

    OpenLcb::NodeId m_id;
    QByteArray m_snip;
    OpenLcb::AliasGenerator m_aliases;
    QHash<OpenLcb::Alias, OpenLcb::NodeId> m_others;
    State m_state = State::Down;
    QTimer m_wait;
    QElapsedTimer m_sinceCheck;  // since the last Check ID went out
    SendFrame m_send;
    bool m_duplicateReported = false;
};
