#include "publish/FastClockDatagram.h"

#include <QRegularExpression>
#include <QtTest>

Q_DECLARE_METATYPE(FastClockState)

namespace {

// A slave clock's reading of the format, written from its description: the
// first line is "fastclock", then key=value lines in any order, ended by CR,
// LF or both. Empty on anything else.
QMap<QByteArray, QByteArray> parseFastClock(const QByteArray &datagram)
{
    static const QRegularExpression lineEnds(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = QString::fromUtf8(datagram).split(lineEnds, Qt::SkipEmptyParts);
    if (lines.value(0) != u"fastclock")
        return {};
    QMap<QByteArray, QByteArray> fields;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype eq = lines[i].indexOf(u'=');
        if (eq <= 0 || fields.contains(lines[i].left(eq).toUtf8()))
            return {};
        fields.insert(lines[i].left(eq).toUtf8(), lines[i].mid(eq + 1).toUtf8());
    }
    static const QRegularExpression clock(QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d$"));
    const bool valid = fields.value("version") == "2" && fields.contains("name") && fields.contains("text")
                       && (fields.value("active") == "yes" || fields.value("active") == "no")
                       && fields.value("speed").toInt() > 0 && fields.value("interval").toInt() > 0
                       && clock.match(QString::fromUtf8(fields.value("clock"))).hasMatch();
    return valid ? fields : QMap<QByteArray, QByteArray>();
}

FastClockState state(const QString &name, const QString &text, bool active, int speed, int seconds)
{
    return {name, QStringLiteral("10.77.0.1"), 8080, text, active, speed, seconds, 2};
}

QByteArray expected(const QByteArray &name, const QByteArray &text, const QByteArray &active,
                    const QByteArray &speed, const QByteArray &clock)
{
    return "fastclock\r\nversion=2\r\nname=" + name + "\r\nip-address=10.77.0.1\r\nip-port=8080\r\ntext=" + text
           + "\r\nclocktype=fastclock\r\nactive=" + active + "\r\nspeed=" + speed + "\r\nclock=" + clock
           + "\r\nweekday=none\r\ninterval=2\r\n";
}

}  // namespace

class TstFastClockDatagram : public QObject
{
    Q_OBJECT
private slots:
    void datagram_data()
    {
        QTest::addColumn<FastClockState>("state");
        QTest::addColumn<QByteArray>("text");
        const QString name20 = QStringLiteral("Modultreffen Bebra 2");
        const QString text255(255, u'x');
        QTest::newRow("running") << state("Quorandel", "", true, 4, 12 * 3600 + 34 * 60 + 56)
                                 << expected("Quorandel", "", "yes", "4", "12:34:56");
        QTest::newRow("stopped, early morning") << state("Quorandel", "Hall 2", false, 1, 5 * 3600 + 7)
                                                << expected("Quorandel", "Hall 2", "no", "1", "05:00:07");
        QTest::newRow("last second of the day") << state("Quorandel", "", true, 8, 86399)
                                                << expected("Quorandel", "", "yes", "8", "23:59:59");
        QTest::newRow("a whole day wraps") << state("Quorandel", "", true, 8, 86400)
                                           << expected("Quorandel", "", "yes", "8", "00:00:00");
        QTest::newRow("longest name and text") << state(name20, text255, true, 3, 0)
                                               << expected(name20.toUtf8(), text255.toLatin1(), "yes", "3", "00:00:00");
        QTest::newRow("too long: cut") << state(name20 + "X", text255 + "yz", true, 3, 0)
                                       << expected(name20.toUtf8(), text255.toLatin1(), "yes", "3", "00:00:00");
        QTest::newRow("line breaks and tabs become spaces")
            << state("North\r\nSouth", "one\ntwo\rthree\tfour\u2028five", true, 2, 60)
            << expected("North  South", "one two three four five", "yes", "2", "00:01:00");
        // A character outside the BMP counts as one, and is never split.
        QTest::newRow("UTF-8, cut by characters")
            << state(QString(19, u'\u00e4') + QStringLiteral("\U0001F682x"), "Gr\u00fc\u00dfe", false, 5, 3600)
            << expected(QString(19, u'\u00e4').toUtf8() + "\xF0\x9F\x9A\x82", "Gr\xC3\xBC\xC3\x9F" "e", "no", "5",
                        "01:00:00");
    }

    void datagram()
    {
        QFETCH(FastClockState, state);
        QFETCH(QByteArray, text);
        QCOMPARE(fastClockDatagram(state), text);
    }

    // Every datagram above, read back by the slave's parser, says what the
    // state said.
    void parserAcceptsEveryDatagram_data() { datagram_data(); }
    void parserAcceptsEveryDatagram()
    {
        QFETCH(FastClockState, state);
        const auto fields = parseFastClock(fastClockDatagram(state));
        QVERIFY(!fields.isEmpty());
        QCOMPARE(fields.size(), 11);
        QCOMPARE(fields.value("active"), QByteArray(state.active ? "yes" : "no"));
        QCOMPARE(fields.value("speed").toInt(), state.speed);
        const QList<QByteArray> hms = fields.value("clock").split(':');
        QCOMPARE((hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt()), state.secondsOfDay % 86400);
        using namespace FastClockDatagram;
        QCOMPARE(QString::fromUtf8(fields.value("name")), cleanField(state.name, NameMaxLength));
        QCOMPARE(QString::fromUtf8(fields.value("text")), cleanField(state.text, TextMaxLength));
    }

    // The parser itself: what it must take and what it must refuse, so that
    // the test above can fail.
    void parser_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("accepted");
        const QByteArray body = "version=2\nname=A\ntext=\nactive=no\nspeed=2\nclock=07:08:09\ninterval=3";
        QTest::newRow("LF only") << "fastclock\n" + body << true;
        QTest::newRow("CR only") << QByteArray("fastclock\n" + body).replace('\n', '\r') << true;
        QTest::newRow("CR LF, keys reordered")
            << QByteArray("fastclock\r\nclock=07:08:09\r\nspeed=2\r\nactive=yes\r\nname=A\r\ntext=\r\ninterval=3\r\n"
                          "version=2\r\n")
            << true;
        QTest::newRow("no first line") << body << false;
        QTest::newRow("hour 24") << QByteArray("fastclock\n" + body).replace("07:08:09", "24:00:00") << false;
        QTest::newRow("line without =") << "fastclock\n" + body + "\nweekday" << false;
        QTest::newRow("active neither yes nor no") << QByteArray("fastclock\n" + body).replace("=no", "=1") << false;
    }

    void parser()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, accepted);
        QCOMPARE(!parseFastClock(text).isEmpty(), accepted);
    }
};

QTEST_APPLESS_MAIN(TstFastClockDatagram)
#include "tst_fastclockdatagram.moc"
