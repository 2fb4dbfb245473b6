// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/GridConnect.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The pieces of OpenLCB on CAN (the CAN Frame Transfer and Message Network
// standards) that one simple node needs: plain functions from values to
// frames and back, so that every frame can be checked byte for byte.
//
// A CAN header is 29 bits: bit 28 always 1, bit 27 set for an OpenLCB message
// (clear for a CAN control frame), then three bits of frame type (or control
// content), twelve bits of MTI (or of control data, or a destination alias),
// and the source alias in the lowest twelve bits.
namespace OpenLcb {

using NodeId = quint64;   // 48 bits
using EventId = quint64;  // 64 bits
using Alias = quint16;    // 12 bits, never 0

// Message type indicators (the CAN form: the low twelve bits of the MTI).
enum Mti : quint16 {
    InitializationComplete = 0x100,
    VerifyNodeIdAddressed = 0x488,
    VerifyNodeIdGlobal = 0x490,
    VerifiedNodeId = 0x170,
    OptionalInteractionRejected = 0x068,
    TerminateDueToError = 0x0A8,
    ProtocolSupportInquiry = 0x828,
    ProtocolSupportReply = 0x668,
    IdentifyConsumer = 0x8F4,
    ConsumerRangeIdentified = 0x4A4,
    IdentifyProducer = 0x914,
    ProducerRangeIdentified = 0x524,
    ProducerIdentifiedValid = 0x544,
    IdentifyEventsAddressed = 0x968,
    IdentifyEventsGlobal = 0x970,
    EventReport = 0x5B4,
    SimpleNodeInfoRequest = 0xDE8,
    SimpleNodeInfoReply = 0xA08,
    DatagramReceivedOk = 0xA28,
    DatagramRejected = 0xA48,
    StreamInitiateReply = 0x868,
};

// An MTI with this bit is addressed: its first two data bytes name the node.
constexpr quint16 MtiAddressBit = 0x008;

// CAN control frames: their content sits in the header's bits 12 to 26.
enum class Control { Cid, Rid, Amd, Ame, Amr, ErrorReport, Other };

// Protocol Support Reply flags (the first three of its six bytes).
constexpr quint32 ProtocolEventExchange = 0x040000;
constexpr quint32 ProtocolSimpleNodeInformation = 0x001000;

// Error codes of Optional Interaction Rejected and Datagram Rejected.
constexpr quint16 ErrorNotImplemented = 0x1040;
constexpr quint16 ErrorUnknownMti = 0x1043;

// --- Values ---------------------------------------------------------------

QByteArray nodeIdBytes(NodeId id);       // six bytes, most significant first
QByteArray eventIdBytes(EventId id);     // eight bytes
NodeId nodeIdFrom(const QByteArray &bytes);    // the first six bytes; 0 if fewer
EventId eventIdFrom(const QByteArray &bytes);  // the first eight; 0 if fewer
// "02.01.0D.00.00.03": six groups of two hex digits, either case. False for
// anything else, and for the all-zero ID.
bool parseDotted(const QString &text, int bytes, quint64 *value);
QString dotted(quint64 value, int bytes = 6);

// --- Reading a header -----------------------------------------------------

inline Alias sourceAlias(quint32 header) { return Alias(header & 0xFFF); }
inline bool isMessage(quint32 header) { return header & 0x08000000; }
// OpenLCB messages: 1 is a global or addressed message, 2 to 5 a datagram
// frame (only, first, middle, last), 7 a stream frame.
inline int frameType(quint32 header) { return int(header >> 24) & 0x7; }
inline quint16 mti(quint32 header) { return quint16(header >> 12) & 0xFFF; }
// A datagram frame names the destination in the header.
inline Alias datagramDestination(quint32 header) { return Alias(header >> 12) & 0xFFF; }
Control controlKind(quint32 header);
// Addressed messages: the destination and the framing flags of the first
// two data bytes (0 only, 1 first, 3 middle, 2 last); 0 alias when too short.
Alias addressedDestination(const QByteArray &data);
int addressedFlags(const QByteArray &data);

// --- Frames ---------------------------------------------------------------

// Check ID frame n (7, 6, 5, 4) carries the node ID's bits 47-36, 35-24,
// 23-12 and 11-0 in that order.
CanFrame checkId(int n, NodeId node, Alias alias);
QList<CanFrame> checkIds(NodeId node, Alias alias);  // 7, 6, 5, 4
CanFrame reserveId(Alias alias);
CanFrame aliasMapDefinition(Alias alias, NodeId node);
CanFrame aliasMapReset(Alias alias, NodeId node);
// A message for every node (no destination): one frame.
CanFrame globalMessage(quint16 mti, Alias source, const QByteArray &data = {});
// A message for one node: six payload bytes a frame after the destination,
// framed only / first / middle / last.
QList<CanFrame> addressedMessage(quint16 mti, Alias source, Alias destination, const QByteArray &payload = {});
CanFrame datagramRejected(Alias source, Alias destination, quint16 error);

// The Simple Node Information reply: version 4 and four strings from the
// maker, version 2 and the user's name and description, each ended by a zero
// byte and cut (whole UTF-8 characters) to the standard's lengths: 40, 40, 20,
// 20, 62 and 63 bytes before the zero.
struct NodeInformation
{
    QString manufacturer;
    QString model;
    QString hardwareVersion;
    QString softwareVersion;
    QString userName;
    QString userDescription;
};
QByteArray simpleNodeInformation(const NodeInformation &info);
// Text cut to at most maxBytes of UTF-8 without splitting a character.
QByteArray utf8Cut(const QString &text, int maxBytes);

// --- Aliases --------------------------------------------------------------

// The CAN Frame Transfer standard's alias generator: a 48-bit state loaded
// with the node ID and stepped as x' = (2^9 + 1) x + 0x1B0CA37A4BA9 modulo
// 2^48; the alias is the four 12-bit parts of the state XORed together. A
// state giving 0 (not an alias) is stepped past.
class AliasGenerator
{
public:
    explicit AliasGenerator(NodeId node);
    Alias alias() const { return m_alias; }
    // The next alias, after a collision.
    Alias next();
    static quint64 step(quint64 state);
    static Alias fold(quint64 state);

private:
    void settle();
    quint64 m_state;
    Alias m_alias = 0;
};

}  // namespace OpenLcb
