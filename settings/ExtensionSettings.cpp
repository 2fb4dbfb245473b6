// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ExtensionSettings.h"

#include "platform/Paths.h"

#include "settings/FastClockFields.h"

#include "net/OpenLcbCan.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>
#include <QStandardPaths>

namespace {

// As QSettings names them: "section/key".
const QStringList kKnownKeys = {
    QStringLiteral("remote/password"),  QStringLiteral("fastclock/enabled"),
    QStringLiteral("fastclock/group"),  QStringLiteral("fastclock/port"),
    QStringLiteral("fastclock/ttl"),    QStringLiteral("fastclock/name"),
    QStringLiteral("fastclock/text"),   QStringLiteral("fastclock/interval"),
    QStringLiteral("display/address"),  QStringLiteral("display/port"),
    QStringLiteral("lcc/hub"),          QStringLiteral("lcc/node"),
    QStringLiteral("lcc/clock"),        QStringLiteral("lcc/control"),
    QStringLiteral("lcc/date"),         QStringLiteral("lcc/name"),
    QStringLiteral("lcc/description"),  QStringLiteral("session/resume"),
    QStringLiteral("session/date"),
    QStringLiteral("jmri/server"),      QStringLiteral("jmri/control"),
    QStringLiteral("dccex/station"),    QStringLiteral("z21/station"),
    QStringLiteral("remote/streams"),
};

// The file through QSettings, and the warnings about it. A value that QSettings
// cannot make sense of keeps the default it was given.
class IniReader
{
public:
    IniReader(const QString &path, QStringList &warnings)
        : m_ini(path, QSettings::IniFormat), m_path(path), m_warnings(warnings)
    {
    }

    QSettings::Status status() const { return m_ini.status(); }
    void warn(const QString &problem) { m_warnings << QStringLiteral("%1: %2").arg(m_path, problem); }

    void readFlag(const QString &key, bool &value);
    void readNumber(const QString &key, int min, int max, int &value);
    void readPort(const QString &key, quint16 &value);
    void readAddress(const QString &key, bool multicast, QString &value);
    void readProse(const QString &key, int maxLength, QString &value);
    void readPassword(const QString &key, QString &value);
    void readPeer(const QString &key, const QString &fallback, QString &host, quint16 &port);
    void readLcc(ExtensionSettings::Lcc &lcc);
    void readDate(const QString &key, QDate &value);
    void readSession(ExtensionSettings::Session &session);
    void reportUnknownKeys();

private:
    bool raw(const QString &key, const QString &listSeparator, QString *text);
    void warnValue(const QString &key, const QString &text, const QString &problem, const QString &fallback);
    static QString where(const QString &key);

    QSettings m_ini;
    QString m_path;
    QStringList &m_warnings;
};

// host, host:port or [IPv6 address]:port; the port stays as it is when not given.
bool parsePeer(const QString &text, QString &host, quint16 &port)
{
    const QString peer = text.trimmed();
    QString name = peer;
    QString portText;
    bool hasPort = false;
    if (peer.startsWith(u'[')) {  // [IPv6] or [IPv6]:port
        const qsizetype close = peer.indexOf(u']');
        const QString rest = close > 0 ? peer.mid(close + 1) : QString();
        name = close > 0 && (rest.isEmpty() || rest.startsWith(u':')) ? peer.mid(1, close - 1) : QString();
        hasPort = !rest.isEmpty();
        portText = rest.mid(1);
    } else if (peer.count(u':') == 1) {
        name = peer.section(u':', 0, 0);
        portText = peer.section(u':', 1);
        hasPort = true;
    }
    bool portOk = true;
    const int number = hasPort ? portText.toInt(&portOk, 10) : port;
    if (name.isEmpty() || name.contains(u' ') || name.contains(u'/') || !portOk || number < 1 || number > 65535)
        return false;
    host = name;
    port = quint16(number);
    return true;
}

QString IniReader::where(const QString &key)
{
    const qsizetype slash = key.indexOf(u'/');
    if (slash < 0)
        return QStringLiteral("%1= (outside any section)").arg(key);
    return QStringLiteral("[%1] %2=").arg(key.left(slash), key.mid(slash + 1));
}

void IniReader::warnValue(const QString &key, const QString &text, const QString &problem,
                          const QString &fallback)
{
    warn(QStringLiteral("%1%2 %3; using %4").arg(where(key), text, problem, fallback));
}

// The value as the user wrote it, as far as QSettings lets us see it: a value
// with a comma outside quotes comes back as a list, joined again here.
bool IniReader::raw(const QString &key, const QString &listSeparator, QString *text)
{
    if (!m_ini.contains(key))
        return false;
    const QVariant value = m_ini.value(key);
    if (!value.isValid()) {
        // "@Variant(...)" and the like: QSettings' own notation, not text.
        warn(QStringLiteral("%1 cannot be read as text; ignored").arg(where(key)));
        return false;
    }
    *text = value.userType() == QMetaType::QStringList ? value.toStringList().join(listSeparator)
                                                        : value.toString();
    return true;
}

void IniReader::readFlag(const QString &key, bool &value)
{
    QString text;
    if (!raw(key, QStringLiteral(","), &text))
        return;
    const QString word = text.trimmed().toLower();
    if (word == u"true" || word == u"false")
        value = word == u"true";
    else
        warnValue(key, text, QStringLiteral("is neither true nor false"), value ? "true" : "false");
}

void IniReader::readNumber(const QString &key, int min, int max, int &value)
{
    QString text;
    if (!raw(key, QStringLiteral(","), &text))
        return;
    bool ok = false;
    const int n = text.trimmed().toInt(&ok, 10);
    if (ok && n >= min && n <= max)
        value = n;
    else
        warnValue(key, text, QStringLiteral("is not a whole number from %1 to %2").arg(min).arg(max),
                  QString::number(value));
}

void IniReader::readPort(const QString &key, quint16 &value)
{
    int port = value;
    readNumber(key, 1, 65535, port);
    value = quint16(port);
}

// Only the plain dotted form: QHostAddress also takes "10.1" and octal parts,
// which would send to an address the user did not mean.
void IniReader::readAddress(const QString &key, bool multicast, QString &value)
{
    QString text;
    if (!raw(key, QStringLiteral(","), &text))
        return;
    const QString trimmed = text.trimmed();
    const QHostAddress address(trimmed);
    if (address.protocol() != QAbstractSocket::IPv4Protocol || address.toString() != trimmed)
        warnValue(key, text, QStringLiteral("is not an IPv4 address (four numbers from 0 to 255 with dots)"), value);
    else if (multicast && !address.isMulticast())
        warnValue(key, text, QStringLiteral("is not a multicast group (224.0.0.0 to 239.255.255.255)"), value);
    else
        value = trimmed;
}

// Text for people: a comma outside quotes most likely had a space after it.
void IniReader::readProse(const QString &key, int maxLength, QString &value)
{
    QString text;
    if (!raw(key, QStringLiteral(", "), &text))
        return;
    value = FastClockDatagram::cleanField(text, maxLength);
    if (text.toUcs4().size() > maxLength)
        warn(QStringLiteral("%1 is longer than %2 characters; cut to \"%3\"").arg(where(key)).arg(maxLength).arg(value));
}

// Never quoted in a warning. A comma outside quotes cost the spaces around
// it, and a password that differs from what the user typed is a puzzle.
void IniReader::readPassword(const QString &key, QString &value)
{
    QString text;
    if (!raw(key, QStringLiteral(","), &text))
        return;
    value = text;
    if (m_ini.value(key).userType() == QMetaType::QStringList)
        warn(QStringLiteral("%1 has a comma outside double quotes, read without the spaces around it; "
                            "put the password in double quotes to keep it exactly")
                 .arg(where(key)));
}

void IniReader::readPeer(const QString &key, const QString &fallback, QString &host, quint16 &port)
{
    QString text;
    if (raw(key, QStringLiteral(","), &text) && !parsePeer(text, host, port))
        warnValue(key, text, QStringLiteral("is not host or host:port (a port from 1 to 65535)"), fallback);
}

// hub=host[:port], node=, clock=, control=, date=, name=, description=. A
// hub without a usable node ID leaves LCC off, and the warning says so.
void IniReader::readLcc(ExtensionSettings::Lcc &lcc)
{
    QString text;
    readPeer(QStringLiteral("lcc/hub"), QStringLiteral("no hub: LCC stays off"), lcc.hubHost, lcc.hubPort);
    const bool hasNode = raw(QStringLiteral("lcc/node"), QStringLiteral(","), &text);
    if (hasNode && !OpenLcb::parseDotted(text, 6, &lcc.nodeId)) {
        lcc.nodeId = 0;
        warn(QStringLiteral("%1%2 is not a node ID (six bytes in dotted hex, not all zero, "
                            "for example 02.01.0D.00.00.03)%3")
                 .arg(where(QStringLiteral("lcc/node")), text,
                      lcc.hubHost.isEmpty() ? QString() : QStringLiteral("; LCC stays off")));
    } else if (!hasNode && !lcc.hubHost.isEmpty()) {
        warn(QStringLiteral("[lcc] hub= is set but [lcc] node= is not; LCC stays off. Set [lcc] node= to a "
                            "node ID from your own assigned range (six bytes in dotted hex, for example "
                            "02.01.0D.00.00.03): node IDs must be unique on the network"));
    }
    if (raw(QStringLiteral("lcc/clock"), QStringLiteral(","), &text)) {
        const QString word = text.trimmed().toLower();
        const QStringList names = {QStringLiteral("default"), QStringLiteral("realtime"),
                                   QStringLiteral("alternate1"), QStringLiteral("alternate2")};
        quint64 id = 0;
        if (names.contains(word))
            lcc.clockId = ExtensionSettings::Lcc::DefaultClock + quint64(names.indexOf(word));
        else if (OpenLcb::parseDotted(text, 6, &id))
            lcc.clockId = id;
        else
            warnValue(QStringLiteral("lcc/clock"), text,
                      QStringLiteral("is not default, realtime, alternate1, alternate2 or six bytes in dotted hex"),
                      OpenLcb::dotted(lcc.clockId));
    }
    readFlag(QStringLiteral("lcc/control"), lcc.control);
    readDate(QStringLiteral("lcc/date"), lcc.date);
    const auto readNodeText = [this](const QString &key, int maxBytes, QString &value) {
        QString text;
        if (!raw(key, QStringLiteral(", "), &text))
            return;
        QString clean = text;
        for (QChar &c : clean)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                c = u' ';
        const QByteArray cut = OpenLcb::utf8Cut(clean, maxBytes);
        value = QString::fromUtf8(cut);
        if (cut.size() < clean.toUtf8().size())
            warn(QStringLiteral("%1 is longer than %2 bytes of UTF-8; cut to \"%3\"").arg(where(key)).arg(maxBytes).arg(value));
    };
    readNodeText(QStringLiteral("lcc/name"), 62, lcc.name);
    readNodeText(QStringLiteral("lcc/description"), 63, lcc.description);
}

// YYYY-MM-DD in the years the layout network can tell (0001 to 4095).
void IniReader::readDate(const QString &key, QDate &value)
{
    QString text;
    if (!raw(key, QStringLiteral(","), &text))
        return;
    const QDate date = QDate::fromString(text.trimmed(), Qt::ISODate);
    if (date.isValid() && date.year() >= 1 && date.year() <= 4095 && text.trimmed().size() == 10)
        value = date;
    else
        warnValue(key, text, QStringLiteral("is not a date YYYY-MM-DD in the years 0001 to 4095"),
                  value.isValid() ? value.toString(Qt::ISODate) : QStringLiteral("no date"));
}

// resume=stopped|running, date=, and [alarms] with any key names: a line
// that is not an alarm is told once and skipped, the others stand.
void IniReader::readSession(ExtensionSettings::Session &session)
{
    QString text;
    if (raw(QStringLiteral("session/resume"), QStringLiteral(","), &text)) {
        const QString word = text.trimmed().toLower();
        if (word == u"stopped" || word == u"running")
            session.resumeRunning = word == u"running";
        else
            warnValue(QStringLiteral("session/resume"), text, QStringLiteral("is neither stopped nor running"),
                      QStringLiteral("stopped"));
    }
    readDate(QStringLiteral("session/date"), session.date);
    m_ini.beginGroup(QStringLiteral("alarms"));
    const QStringList keys = m_ini.childKeys();
    m_ini.endGroup();
    for (const QString &name : keys) {
        const QString key = QStringLiteral("alarms/") + name;
        Alarm alarm;
        QString problem;
        if (!raw(key, QStringLiteral(", "), &text))
            continue;
        if (Alarms::read(text, &alarm, &problem))
            session.alarms.push_back(alarm);
        else
            warn(QStringLiteral("%1%2 %3; this alarm is skipped").arg(where(key), text, problem));
    }
}

// Only the key is named: an unknown key may be a misspelt password.
void IniReader::reportUnknownKeys()
{
    const QStringList keys = m_ini.allKeys();
    for (const QString &key : keys) {
        if (!kKnownKeys.contains(key) && !key.startsWith(QStringLiteral("alarms/")))
            warn(QStringLiteral("%1 is not a known setting; ignored").arg(where(key)));
    }
}

void readAll(IniReader &ini, ExtensionSettings &s)
{
    using namespace FastClockDatagram;
    ini.readPassword(QStringLiteral("remote/password"), s.remote.password);
    ini.readNumber(QStringLiteral("remote/streams"), ExtensionSettings::Remote::MinStreams,
                   ExtensionSettings::Remote::MaxStreams, s.remote.streams);
    ini.readFlag(QStringLiteral("fastclock/enabled"), s.fastClock.enabled);
    ini.readAddress(QStringLiteral("fastclock/group"), true, s.fastClock.group);
    ini.readPort(QStringLiteral("fastclock/port"), s.fastClock.port);
    ini.readNumber(QStringLiteral("fastclock/ttl"), 0, 255, s.fastClock.ttl);
    ini.readProse(QStringLiteral("fastclock/name"), NameMaxLength, s.fastClock.name);
    ini.readProse(QStringLiteral("fastclock/text"), TextMaxLength, s.fastClock.text);
    ini.readNumber(QStringLiteral("fastclock/interval"), 1, 15, s.fastClock.intervalSeconds);
    ini.readAddress(QStringLiteral("display/address"), false, s.display.address);
    ini.readPort(QStringLiteral("display/port"), s.display.port);
    ini.readLcc(s.lcc);
    ini.readSession(s.session);
    ini.readPeer(QStringLiteral("jmri/server"), QStringLiteral("JMRI stays off"), s.jmri.host, s.jmri.port);
    ini.readFlag(QStringLiteral("jmri/control"), s.jmri.control);
    ini.readPeer(QStringLiteral("dccex/station"), QStringLiteral("DCC-EX stays off"), s.dccEx.host, s.dccEx.port);
    ini.readPeer(QStringLiteral("z21/station"), QStringLiteral("the Z21 stays off"), s.z21.host, s.z21.port);
    // It speaks UDP to one address, and answers only from there.
    if (!s.z21.host.isEmpty() && QHostAddress(s.z21.host).isNull()) {
        ini.warn(QStringLiteral("[z21] station=%1 is not an IP address (the Z21's own is 192.168.0.111); "
                                "the Z21 stays off").arg(s.z21.host));
        s.z21.host.clear();
    }
    ini.reportUnknownKeys();
}

}  // namespace

QString ExtensionSettings::standardPath()
{
    return userExtensionFile();
}

ExtensionSettings ExtensionSettings::read(const QString &path)
{
    ExtensionSettings s;
    if (!QFileInfo::exists(path))
        return s;
    IniReader ini(path, s.warnings);
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable() || ini.status() == QSettings::AccessError) {
        ini.warn(QStringLiteral("cannot be read; every setting in it keeps its default"));
        return s;
    }
    if (ini.status() == QSettings::FormatError)
        ini.warn(QStringLiteral("has lines that are not INI (a section name without \"]\"?); they are ignored"));
    readAll(ini, s);
    // As ssh does for its keys: a password others can read is no secret.
    const auto othersRead = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!s.remote.password.isEmpty() && (QFile::permissions(path) & othersRead))
        ini.warn(QStringLiteral("holds the control password but other users can read it; "
                                "make it private with: chmod 600 %1").arg(path));
    return s;
}
