// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/OpenLcbCan.h"

#include <QStringList>

namespace OpenLcb {

namespace {

constexpr quint32 FixedBit = 0x10000000;
constexpr quint32 MessageBit = 0x08000000;

QByteArray bigEndian(quint64 value, int bytes)
{
    QByteArray out(bytes, '\0');
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = char(value & 0xFF);
        value >>= 8;
    }
    return out;
}

quint64 fromBigEndian(const QByteArray &bytes, int count)
{
    if (bytes.size() < count)
        return 0;
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | quint8(bytes[i]);
    return value;
}

quint32 controlHeader(quint32 content, Alias alias)
{
    return FixedBit | (content & 0x7FFF) << 12 | (alias & 0xFFF);
}

}  // namespace

QByteArray nodeIdBytes(NodeId id)
{
    return bigEndian(id, 6);
}

QByteArray eventIdBytes(EventId id)
{
    return bigEndian(id, 8);
}

NodeId nodeIdFrom(const QByteArray &bytes)
{
    return fromBigEndian(bytes, 6);
}

EventId eventIdFrom(const QByteArray &bytes)
{
    return fromBigEndian(bytes, 8);
}

bool parseDotted(const QString &text, int bytes, quint64 *value)
{
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() != bytes)
        return false;
    quint64 result = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (part.size() != 2 || !ok || byte > 0xFF)
            return false;
        result = result << 8 | byte;
    }
    if (result == 0)
        return false;
    *value = result;
    return true;
}

QString dotted(quint64 value, int bytes)
{
    QStringList parts;
    for (int i = bytes - 1; i >= 0; --i)
        parts << QStringLiteral("%1").arg(uint(value >> (8 * i)) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(u'.');
}

Control controlKind(quint32 header)
{
    if (isMessage(header))
        return Control::Other;
    if (header & 0x07000000)  // a sequence number in bits 24-26: a Check ID
        return Control::Cid;
    switch ((header >> 12) & 0xFFFF) {
    case 0x0700: return Control::Rid;
    case 0x0701: return Control::Amd;
    case 0x0702: return Control::Ame;
    case 0x0703: return Control::Amr;
    case 0x0710: case 0x0711: case 0x0712: case 0x0713: return Control::ErrorReport;
    default: return Control::Other;
    }
}

Alias addressedDestination(const QByteArray &data)
{
    if (data.size() < 2)
        return 0;
    return Alias((quint8(data[0]) & 0x0F) << 8 | quint8(data[1]));
}

int addressedFlags(const QByteArray &data)
{
    return data.isEmpty() ? 0 : (quint8(data[0]) >> 4) & 0x3;
}

CanFrame checkId(int n, NodeId node, Alias alias)
{
    const quint32 slice = quint32(node >> (12 * (n - 4))) & 0xFFF;
    return {FixedBit | quint32(n & 0x7) << 24 | slice << 12 | (alias & 0xFFF), {}};
}

QList<CanFrame> checkIds(NodeId node, Alias alias)
{
    return {checkId(7, node, alias), checkId(6, node, alias), checkId(5, node, alias), checkId(4, node, alias)};
}

CanFrame reserveId(Alias alias)
{
    return {controlHeader(0x0700, alias), {}};
}

CanFrame aliasMapDefinition(Alias alias, NodeId node)
{
    return {controlHeader(0x0701, alias), nodeIdBytes(node)};
}

CanFrame aliasMapReset(Alias alias, NodeId node)
{
    return {controlHeader(0x0703, alias), nodeIdBytes(node)};
}

CanFrame globalMessage(quint16 mti, Alias source, const QByteArray &data)
{
    return {FixedBit | MessageBit | 1u << 24 | quint32(mti & 0xFFF) << 12 | (source & 0xFFF), data.left(8)};
}

QList<CanFrame> addressedMessage(quint16 mti, Alias source, Alias destination, const QByteArray &payload)
{
    QList<CanFrame> frames;
    const qsizetype count = payload.isEmpty() ? 1 : (payload.size() + 5) / 6;
    for (qsizetype i = 0; i < count; ++i) {
        int flags = 0;
        if (count > 1)
            flags = i == 0 ? 1 : (i == count - 1 ? 2 : 3);
        QByteArray data;
        data.append(char(flags << 4 | (destination >> 8 & 0x0F)));
        data.append(char(destination & 0xFF));
        data.append(payload.mid(i * 6, 6));
        frames.append(globalMessage(mti, source, data));
    }
    return frames;
}

CanFrame datagramRejected(Alias source, Alias destination, quint16 error)
{
    QByteArray code;
    code.append(char(error >> 8)).append(char(error & 0xFF));
    return addressedMessage(DatagramRejected, source, destination, code).first();
}

QByteArray utf8Cut(const QString &text, int maxBytes)
{
    QByteArray out = text.toUtf8();
    if (out.size() <= maxBytes)
        return out;
    qsizetype end = maxBytes;
    // Back off continuation bytes (10xxxxxx) to the start of the cut character.
    while (end > 0 && (quint8(out[end]) & 0xC0) == 0x80)
        --end;
    return out.left(end);
}

QByteArray simpleNodeInformation(const NodeInformation &info)
{
    // A zero byte inside a field would end it early on the reader's side.
    const auto field = [](const QString &text, int maxBytes) {
        QString clean = text;
        clean.remove(QChar(0));
        return utf8Cut(clean, maxBytes) + '\0';
    };
    QByteArray out;
    out.append(char(4));
    out += field(info.manufacturer, 40);
    out += field(info.model, 40);
    out += field(info.hardwareVersion, 20);
    out += field(info.softwareVersion, 20);
    out.append(char(2));
    out += field(info.userName, 62);
    out += field(info.userDescription, 63);
    return out;
}

AliasGenerator::AliasGenerator(NodeId node)
    : m_state(node & 0xFFFFFFFFFFFFULL)
{
    settle();
}

quint64 AliasGenerator::step(quint64 state)
{
    return ((state << 9) + state + 0x1B0CA37A4BA9ULL) & 0xFFFFFFFFFFFFULL;
}

Alias AliasGenerator::fold(quint64 state)
{
    return Alias((state ^ state >> 12 ^ state >> 24 ^ state >> 36) & 0xFFF);
}

void AliasGenerator::settle()
{
    while ((m_alias = fold(m_state)) == 0)
        m_state = step(m_state);
}

Alias AliasGenerator::next()
{
    m_state = step(m_state);
    settle();
    return m_alias;
}

}  // namespace OpenLcb
