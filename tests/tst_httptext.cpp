#include "web/HttpText.h"

#include <QtTest>

Q_DECLARE_METATYPE(RequestStatus)

class TstHttpText : public QObject
{
    Q_OBJECT
private slots:
    void textHelpers();
    void requestPattern_data();
    void requestPattern();
    void scanRequest_data();
    void scanRequest();
    void splitRequestDecidesLikeWhole_data();
    void splitRequestDecidesLikeWhole();
    void requestPath_data();
    void requestPath();
    void localPath_data();
    void localPath();
    void contentType_data();
    void contentType();
    void responses();
};

// Compare 1 and RetError 0 are never used by the request handling; the
// request path and content type rows below cover the rest.
void TstHttpText::textHelpers()
{
    QCOMPARE(LeftRight("xABcd", "ab", 1, 1), QByteArray("cd"));
    QCOMPARE(LeftRight("xABcd", "ab", 0, 1), QByteArray());
    QCOMPARE(LeftRight("abc", ".", 0, 0), QByteArray("abc"));
    QCOMPARE(Between("b]a[b]", "[", "]", 0, 1), QByteArray("b"));
    QCOMPARE(Between("get /y http/1.0", "GET ", " HTTP/1.", 1, 1), QByteArray("/y"));
    QCOMPARE(Between("HEAD / HTTP/1.0", "GET ", " HTTP/1.", 0, 0), QByteArray("HEAD / HTTP/1.0"));
    QCOMPARE(Between("GET HTTP/1.0", "GET ", " HTTP/1.", 0, 0), QByteArray("GET HTTP/1.0"));
}

void TstHttpText::requestPattern_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("matches");
    QTest::newRow("plain") << QByteArray("GET / HTTP/1.0") << true;
    QTest::newRow("empty path") << QByteArray("GET  HTTP/1.0") << true;
    QTest::newRow("path spans a line end") << QByteArray("GET /\nx HTTP/1.0") << true;
    QTest::newRow("lower-case get") << QByteArray("get / HTTP/1.0") << false;
    QTest::newRow("HEAD") << QByteArray("HEAD / HTTP/1.0") << false;
    QTest::newRow("POST") << QByteArray("POST / HTTP/1.0") << false;
    QTest::newRow("no version") << QByteArray("GET /") << false;
    QTest::newRow("one space") << QByteArray("GET HTTP/1.0") << false;
    QTest::newRow("nothing after 1.") << QByteArray("GET / HTTP/1.") << false;
    QTest::newRow("lower-case version") << QByteArray("GET / http/1.0") << false;
    QTest::newRow("leading space") << QByteArray(" GET / HTTP/1.0") << false;
}

void TstHttpText::requestPattern()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, matches);
    QCOMPARE(matchesRequestPattern(text), matches);
}

void TstHttpText::scanRequest_data()
{
    QTest::addColumn<QByteArray>("collected");
    QTest::addColumn<RequestStatus>("status");
    QTest::addColumn<QByteArray>("text");
    const auto complete = RequestStatus::Complete, incomplete = RequestStatus::Incomplete,
               tooLong = RequestStatus::TooLong;
    QTest::newRow("request line") << QByteArray("GET / HTTP/1.0") << complete << QByteArray("GET / HTTP/1.0");
    QTest::newRow("headers follow") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n\r\n") << complete << QByteArray("GET / HTTP/1.1");
    QTest::newRow("nothing yet") << QByteArray() << incomplete << QByteArray();
    QTest::newRow("path still coming") << QByteArray("GET /index") << incomplete << QByteArray();
    QTest::newRow("version still coming") << QByteArray("GET / HTTP/1.") << incomplete << QByteArray();
    QTest::newRow("other method, line ended") << QByteArray("HEAD / HTTP/1.0\r\nX") << complete << QByteArray("HEAD / HTTP/1.0\r\n");
    QTest::newRow("no version, line ended") << QByteArray("GET /a\r\n") << complete << QByteArray("GET /a\r\n");
    QTest::newRow("8 KiB, no line end") << QByteArray(MaxRequestBytes, 'a') << incomplete << QByteArray();
    QTest::newRow("past 8 KiB, no line end") << QByteArray(MaxRequestBytes + 1, 'a') << tooLong << QByteArray();
    QTest::newRow("line end past 8 KiB") << QByteArray(9000, 'a') + '\n' << tooLong << QByteArray();
    const QByteArray nearLimit = "GET /" + QByteArray(MaxRequestBytes - 14, 'a') + " HTTP/1.0";
    QTest::newRow("request of exactly 8 KiB") << nearLimit << complete << nearLimit;
    QTest::newRow("request past 8 KiB") << nearLimit + 'x' + "\r\n" << complete << nearLimit;
    QTest::newRow("long path ends past 8 KiB")
        << "GET /" + QByteArray(MaxRequestBytes, 'a') + " HTTP/1.0\r\n" << tooLong << QByteArray();
}

void TstHttpText::scanRequest()
{
    QFETCH(QByteArray, collected);
    QFETCH(RequestStatus, status);
    QFETCH(QByteArray, text);
    const RequestScan scan = ::scanRequest(collected);
    QCOMPARE(scan.status, status);
    QCOMPARE(scan.text, text);
}

void TstHttpText::splitRequestDecidesLikeWhole_data()
{
    QTest::addColumn<QByteArray>("whole");
    QTest::newRow("request and headers") << QByteArray("GET /a.png HTTP/1.1\r\nHost: x\r\n\r\n");
    QTest::newRow("other method") << QByteArray("POST / HTTP/1.0\r\n\r\n");
    QTest::newRow("path spans a line end") << QByteArray("GET /a\nb HTTP/1.0\r\n");
}

// Whatever the segment boundaries, the first decision is the one the whole
// data gives; here the data arrives one byte at a time.
void TstHttpText::splitRequestDecidesLikeWhole()
{
    QFETCH(QByteArray, whole);
    const RequestScan expected = ::scanRequest(whole);
    QCOMPARE(expected.status, RequestStatus::Complete);
    for (qsizetype n = 1; n <= whole.size(); ++n) {
        const RequestScan scan = ::scanRequest(whole.left(n));
        if (scan.status == RequestStatus::Incomplete)
            continue;
        QCOMPARE(scan.status, expected.status);
        QCOMPARE(scan.text, expected.text);
        return;
    }
    QFAIL("never complete");
}

void TstHttpText::requestPath_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("passes");
    QTest::newRow("query cut") << QByteArray("GET /Quorandel.png?t=1 HTTP/1.1") << QByteArray("/Quorandel.png") << true;
    QTest::newRow("short path, query cut") << QByteArray("GET /a.png?v=7 HTTP/1.1") << QByteArray("/a.png") << true;
    QTest::newRow("long path kept") << QByteArray("GET /pictures/holiday.jpg HTTP/1.0") << QByteArray("/pictures/holiday.jpg") << true;
    QTest::newRow("query only") << QByteArray("GET /?q=1 HTTP/1.0") << QByteArray("/") << true;
    QTest::newRow("first version mark") << QByteArray("GET /a HTTP/1.0 HTTP/1.1") << QByteArray("/a") << true;
    QTest::newRow("escapes kept") << QByteArray("GET /my%20file.txt HTTP/1.0") << QByteArray("/my%20file.txt") << true;
    QTest::newRow("empty") << QByteArray("GET  HTTP/1.0") << QByteArray() << false;
    QTest::newRow("query makes it empty") << QByteArray("GET ?x HTTP/1.0") << QByteArray() << false;
    QTest::newRow("dot dot") << QByteArray("GET /x/../y HTTP/1.0") << QByteArray("/x/../y") << false;
    QTest::newRow("dot") << QByteArray("GET /./y HTTP/1.0") << QByteArray("/./y") << false;
    QTest::newRow("star") << QByteArray("GET /*.png HTTP/1.0") << QByteArray("/*.png") << false;
}

void TstHttpText::requestPath()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, path);
    QFETCH(bool, passes);
    QCOMPARE(requestPathOf(text), path);
    QCOMPARE(passesPathTests(path), passes);
}

void TstHttpText::localPath_data()
{
    QTest::addColumn<QByteArray>("root");
    QTest::addColumn<QByteArray>("requestPath");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("local");
    const QByteArray root("/srv/www");
    auto ok = [&](const char *name, const QByteArray &r, const char *path, const char *local) {
        QTest::newRow(name) << r << QByteArray(path) << true << QByteArray(local);
    };
    auto reject = [&](const char *name, const char *path) {
        QTest::newRow(name) << root << QByteArray(path) << false << QByteArray();
    };
    ok("root folder", root, "/", "/srv/www/");
    ok("root with slash", "/srv/www/", "/a.png", "/srv/www/a.png");
    ok("space", root, "/my%20file.txt", "/srv/www/my file.txt");
    ok("any escape, either case", root, "/%41%62c%2fd%2Fe", "/srv/www/Abc/d/e");
    ok("escaped percent", root, "/100%2525.txt", "/srv/www/100%25.txt");
    ok("malformed escapes and plus stay", root, "/a+b%zz%4", "/srv/www/a+b%zz%4");
    ok("backslash is a name byte", root, "/a\\b.txt", "/srv/www/a\\b.txt");
    ok("dots inside names", root, "/a..b/...", "/srv/www/a..b/...");
    ok("root is never decoded", "/srv/my%20root", "/x", "/srv/my%20root/x");
    ok("one collapse pass", root, "///x", "/srv/www//x");
    reject("encoded dot dot", "/%2e%2e/etc/passwd");
    reject("encoded upper case", "/%2E%2E/etc/passwd");
    reject("half encoded", "/.%2e/x");
    reject("encoded dot", "/%2e/x");
    reject("dot dot at end", "/x/..");
    reject("dot at end", "/x/.");
    reject("encoded slashes", "/%2f..%2f");
    reject("encoded NUL", "/a%00.png");
    reject("backslash dot dot", "/..\\etc\\passwd");
    reject("backslash inside", "/a\\..\\..\\b");
    reject("encoded backslash", "/%2e%2e%5cx");
    reject("encoded star", "/a%2a");
    reject("no leading slash", "x");
    reject("encoded leading slash", "%2fetc");
}

void TstHttpText::localPath()
{
    QFETCH(QByteArray, root);
    QFETCH(QByteArray, requestPath);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, local);
    const std::optional<QByteArray> mapped = localPathFor(root, requestPath);
    QCOMPARE(mapped.has_value(), accepted);
    if (accepted)
        QCOMPARE(*mapped, local);
}

void TstHttpText::contentType_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("type");
    QTest::newRow("jpg, upper case") << QByteArray("/Photo.JPG") << QByteArray("image/jpeg");
    QTest::newRow("htm") << QByteArray("/index.htm") << QByteArray("text/html");
    QTest::newRow("html") << QByteArray("/sub/Index.Html") << QByteArray("text/html");
    QTest::newRow("m3u") << QByteArray("/a.m3u") << QByteArray("audio/x-mpegurl");
    QTest::newRow("after the first dot") << QByteArray("/rel.2/a.htm") << QByteArray("*/*");
    QTest::newRow("no extension") << QByteArray("/README") << QByteArray("*/*");
    QTest::newRow("bare dot") << QByteArray("/a.") << QByteArray("*/*");
}

void TstHttpText::contentType()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, type);
    QCOMPARE(contentTypeLine(path), "Content-Type: " + type);
}

void TstHttpText::responses()
{
    const QByteArray version("Quorandel 1.40");
    QCOMPARE(okHeader("Content-Type: image/png", 1234, version),
             QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: image/png\nContent-Length: 1234\n\n"));
    QCOMPARE(okHeader("Content-Type: */*", 0, version),
             QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: */*\nContent-Length: 0\n\n"));
    QCOMPARE(notFoundResponse(version), QByteArray("HTTP/1.0 404 Not Found\nServer: Quorandel 1.40\n\n"));
    QCOMPARE(notImplementedResponse(version), QByteArray("HTTP/1.0 501 Not Implemented\nServer: Quorandel 1.40\n\n"));
}

QTEST_APPLESS_MAIN(TstHttpText)
#include "tst_httptext.moc"
