// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/HttpRequest.h"
#include "web/HttpText.h"

#include <QtTest>

Q_DECLARE_METATYPE(RequestStatus)

class TstHttpRequest : public QObject
{
    Q_OBJECT
private slots:
    // What the peer sent so far: is the request complete, what is its text,
    // and is that text a GET the server answers (any other gets 501)?
    void scanRequest_data()
    {
        QTest::addColumn<QByteArray>("collected");
        QTest::addColumn<RequestStatus>("status");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("isGet");
        const auto complete = RequestStatus::Complete, incomplete = RequestStatus::Incomplete,
                   tooLong = RequestStatus::TooLong;
        const QByteArray atLimit = "GET /" + QByteArray(MaxRequestBytes - 14, 'a') + " HTTP/1.0";
        QTest::newRow("headers follow") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n\r\n") << complete << QByteArray("GET / HTTP/1.1") << true;
        QTest::newRow("empty path") << QByteArray("GET  HTTP/1.0\r\n") << complete << QByteArray("GET  HTTP/1.0") << true;
        QTest::newRow("one space") << QByteArray("GET HTTP/1.0\r\n") << complete << QByteArray("GET HTTP/1.0\r\n") << false;
        QTest::newRow("other method") << QByteArray("HEAD / HTTP/1.0\r\nX") << complete << QByteArray("HEAD / HTTP/1.0\r\n") << false;
        QTest::newRow("lower-case version") << QByteArray("GET / http/1.0\n") << complete << QByteArray("GET / http/1.0\n") << false;
        QTest::newRow("path still coming") << QByteArray("GET /index") << incomplete << QByteArray() << false;
        QTest::newRow("version still coming") << QByteArray("GET / HTTP/1.") << incomplete << QByteArray() << false;
        QTest::newRow("8 KiB, no line end") << QByteArray(MaxRequestBytes, 'a') << incomplete << QByteArray() << false;
        QTest::newRow("past 8 KiB, no line end") << QByteArray(MaxRequestBytes + 1, 'a') << tooLong << QByteArray() << false;
        QTest::newRow("line end past 8 KiB") << QByteArray(9000, 'a') + '\n' << tooLong << QByteArray() << false;
        QTest::newRow("8 KiB request, more after it") << atLimit + "x\r\n" << complete << atLimit << true;
        // Built-in pages wait for their header block and body; a file request
        // never does, so the rows above keep their answers.
        const QByteArray get = "GET /quorandel/state.json HTTP/1.1\r\nHost: a\r\n\r\n";
        const QByteArray post = "POST /quorandel/control HTTP/1.1\r\nContent-Length: 12\r\n\r\n";
        QTest::newRow("GET, headers whole") << get + "junk" << complete << get << true;
        QTest::newRow("GET, headers coming") << get.left(40) << incomplete << QByteArray() << false;
        QTest::newRow("LF-only header block") << QByteArray("GET /quorandel/ HTTP/1.0\n\nx") << complete
                                              << QByteArray("GET /quorandel/ HTTP/1.0\n\n") << true;
        QTest::newRow("POST, body coming") << post + "action=st" << incomplete << QByteArray() << false;
        QTest::newRow("POST, body whole") << post + "action=start" << complete << post + "action=start" << false;
        QTest::newRow("POST without length") << QByteArray("POST /quorandel/control HTTP/1.1\r\n\r\n")
                                             << RequestStatus::LengthRequired << QByteArray() << false;
        QTest::newRow("length not a number") << QByteArray("POST /quorandel/control HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n")
                                             << RequestStatus::BadLength << QByteArray() << false;
        QTest::newRow("negative length") << QByteArray("POST /quorandel/control HTTP/1.1\r\nContent-Length: -5\r\n\r\n")
                                         << RequestStatus::BadLength << QByteArray() << false;
        QTest::newRow("body over 1 KiB") << QByteArray("POST /quorandel/control HTTP/1.1\r\nContent-Length: 1025\r\n\r\n")
                                         << RequestStatus::BodyTooLarge << QByteArray() << false;
        QTest::newRow("headers past 8 KiB") << "GET /quorandel/ HTTP/1.1\r\nX: " + QByteArray(MaxRequestBytes, 'a')
                                            << RequestStatus::HeadersTooLarge << QByteArray() << false;
        QTest::newRow("headers end past 8 KiB") << "GET /quorandel/ HTTP/1.1\r\nX: " + QByteArray(MaxRequestBytes, 'a') + "\r\n\r\n"
                                                << RequestStatus::HeadersTooLarge << QByteArray() << false;
        // A NUL in a built-in request's head is refused as soon as it is seen,
        // even where it keeps the head from ever ending; a file request's
        // path is judged later, as before, and a body is the route's to judge.
        const QByteArray nul(1, '\0');
        const auto refused = RequestStatus::NulByte;
        QTest::newRow("NUL in a header value") << "GET /quorandel/ HTTP/1.1\r\nX: a" + nul + "b\r\n\r\n" << refused << QByteArray() << false;
        QTest::newRow("NUL line among headers") << post.left(34) + nul + "\r\n" + post.mid(34) << refused << QByteArray() << false;
        QTest::newRow("NUL after the password") << "POST /quorandel/control HTTP/1.1\r\nAuthorization: Bearer pw" + nul
                                                       + "\r\nContent-Length: 0\r\n\r\n" << refused << QByteArray() << false;
        QTest::newRow("NUL in the path") << "GET /quorandel/state.json" + nul + " HTTP/1.1\r\n\r\n" << refused << QByteArray() << false;
        QTest::newRow("NUL in the version") << "POST /quorandel/control HTTP/1.1" + nul + "\r\n" << refused << QByteArray() << false;
        QTest::newRow("NUL in the blank line, head never ends") << "GET /quorandel/ HTTP/1.1\r\nX: a\r\n\r" + nul + "\n\r\n"
                                                                << refused << QByteArray() << false;
        QTest::newRow("NUL in the body") << post + "action=st" + nul + "rt" << complete << post + "action=st" + nul + "rt" << false;
        QTest::newRow("NUL in a file path") << "GET /a" + nul + ".htm HTTP/1.0\r\n" << complete << "GET /a" + nul + ".htm HTTP/1.0" << true;
        QTest::newRow("prefix of a file name") << QByteArray("GET /quorandel.png HTTP/1.1\r\nHost") << complete
                                               << QByteArray("GET /quorandel.png HTTP/1.1") << true;
    }

    void scanRequest()
    {
        QFETCH(QByteArray, collected);
        QFETCH(RequestStatus, status);
        QFETCH(QByteArray, text);
        QFETCH(bool, isGet);
        const RequestScan scan = ::scanRequest(collected);
        QCOMPARE(scan.status, status);
        QCOMPARE(scan.text, text);
        QCOMPARE(matchesRequestPattern(scan.text), isGet);
    }

    // However the peer's bytes are split, the first decision is the one that
    // the whole data gives; here they come one at a time.
    void splitRequestDecidesLikeWhole()
    {
        for (const QByteArray whole : {"GET /a.png HTTP/1.1\r\nHost: x\r\n\r\n", "GET /a\nb HTTP/1.0\r\n",
                                       "POST /quorandel/control HTTP/1.1\r\nContent-Length: 3\r\n\r\na=b"}) {
            qsizetype n = 1;
            while (::scanRequest(whole.left(n)).status == RequestStatus::Incomplete)
                ++n;
            QCOMPARE(::scanRequest(whole.left(n)).text, ::scanRequest(whole).text);
        }
    }

    void parse()
    {
        const HttpRequest file = parseRequest("GET /a%20b.png?t=1 HTTP/1.1");
        QCOMPARE(QByteArrayList({file.method, file.rawPath, file.query, file.decodedPath, file.version}),
                 QByteArrayList({"GET", "/a%20b.png", "t=1", "/a b.png", "1.1"}));
        QVERIFY(!file.builtIn && file.headers.isEmpty());
        const HttpRequest control = parseRequest("POST /quorandel/control HTTP/1.0\r\nauthorization:  Bearer x \r\n"
                                                 "Content-Length: 3\r\n\r\na=b");
        QVERIFY(control.builtIn);
        QCOMPARE(QByteArrayList({control.method, control.rawPath, control.version, control.body}),
                 QByteArrayList({"POST", "/quorandel/control", "1.0", "a=b"}));
        QCOMPARE(control.header("Authorization"), QByteArray("Bearer x"));
        QVERIFY(control.header("Cookie").isNull());
    }
};

QTEST_APPLESS_MAIN(TstHttpRequest)
#include "tst_httprequest.moc"
