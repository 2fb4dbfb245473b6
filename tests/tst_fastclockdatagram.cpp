// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/FastClockDatagram.h"

#include <QRegularExpression>
#include <QtTest>

Q_DECLARE_METATYPE(FastClockState)

namespace {

// A slave clock's reading, written from the format alone: "fastclock", then
// key=value lines in any order, ended by CR, LF or both. Empty when invalid.
QMap<QByteArray, QByteArray> parseFastClock(const QByteArray &datagram)
{
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    static const QRegularExpression clock(QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d$"));
    const QStringList lines = QString::fromUtf8(datagram).split(lineEnd, Qt::SkipEmptyParts);
    QMap<QByteArray, QByteArray> f;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype eq = lines[i].indexOf(u'=');
        if (eq <= 0)
            return {};
        f.insert(lines[i].left(eq).toUtf8(), lines[i].mid(eq + 1).toUtf8());
    }
    const bool valid = lines.value(0) == u"fastclock" && f.value("version") == "2" && f.contains("name")
                       && QByteArrayList{"yes", "no"}.contains(f.value("active")) && f.value("speed").toInt() > 0
                       && clock.match(QString::fromUtf8(f.value("clock"))).hasMatch();
    return valid ? f : QMap<QByteArray, QByteArray>();
}

FastClockState state(const QString &name, const QString &text, bool active, int speed, int seconds)
{
    return {name, QStringLiteral("10.77.0.1"), 8080, text, active, speed, seconds, 2};
}

QByteArray datagram(const QByteArray &name, const QByteArray &text, const char *active, int speed,
                    const char *clock)
{
    return "fastclock\r\nversion=2\r\nname=" + name + "\r\nip-address=10.77.0.1\r\nip-port=8080\r\ntext=" + text
           + "\r\nclocktype=fastclock\r\nactive=" + active + "\r\nspeed=" + QByteArray::number(speed)
           + "\r\nclock=" + clock + "\r\nweekday=none\r\ninterval=2\r\n";
}

}  // namespace

class TstFastClockDatagram : public QObject
{
    Q_OBJECT
private slots:
    void text_data()
    {
        QTest::addColumn<FastClockState>("state");
        QTest::addColumn<QByteArray>("text");
        const QString name20 = QStringLiteral("Modultreffen Bebra 2"), text255(255, u'x');
        const QByteArray ae19 = QString(19, u'\u00e4').toUtf8();
        QTest::newRow("running") << state("Quorandel", "", true, 4, 45296)
                                 << datagram("Quorandel", "", "yes", 4, "12:34:56");
        QTest::newRow("stopped, last second") << state("Quorandel", "Hall 2", false, 1, 86399)
                                              << datagram("Quorandel", "Hall 2", "no", 1, "23:59:59");
        QTest::newRow("longest name and text") << state(name20, text255, true, 3, 0)
                                               << datagram(name20.toUtf8(), text255.toUtf8(), "yes", 3, "00:00:00");
        QTest::newRow("line breaks") << state("N\r\nS", "one\ntwo\rthree\tfour\u2028five", true, 2, 60)
                                     << datagram("N  S", "one two three four five", "yes", 2, "00:01:00");
        // Cut by characters: one outside the BMP counts as one and is never split.
        QTest::newRow("cut, UTF-8")
            << state(QString(19, u'\u00e4') + QStringLiteral("\U0001F682x"), text255 + "\u00fc", false, 5, 3600)
            << datagram(ae19 + "\xF0\x9F\x9A\x82", text255.toUtf8(), "no", 5, "01:00:00");
    }

    // The parser, written from the format alone, must read every datagram made.
    void text()
    {
        QFETCH(FastClockState, state);
        QFETCH(QByteArray, text);
        QCOMPARE(fastClockDatagram(state), text);
        QCOMPARE(parseFastClock(text).size(), 11);
    }

    // So that the check above can fail.
    void parser_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("accepted");
        const QByteArray text = "fastclock\nclock=07:08:09\nspeed=2\nactive=no\nname=A\nversion=2";
        QTest::newRow("LF only, any order") << text << true;
        QTest::newRow("CR only") << QByteArray(text).replace('\n', '\r') << true;
        QTest::newRow("no first line") << text.mid(10) << false;
        QTest::newRow("hour 24") << QByteArray(text).replace("07:", "24:") << false;
        QTest::newRow("line without =") << text + "\nweekday" << false;
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
