// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/HttpText.h"

#include <QtTest>

Q_DECLARE_METATYPE(Compare)
Q_DECLARE_METATYPE(OnMissing)

class TstHttpText : public QObject
{
    Q_OBJECT
private slots:
    void pathTests_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("passes");
        QTest::newRow("plain") << QByteArray("/Quorandel.png") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("dot dot") << QByteArray("/x/../y") << false;
        QTest::newRow("dot") << QByteArray("/./y") << false;
        QTest::newRow("star") << QByteArray("/*.png") << false;
        QTest::newRow("query left in") << QByteArray("/a?t=1") << false;
    }

    void pathTests()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, passes);
        QCOMPARE(passesPathTests(path), passes);
    }

    // An empty local path: the request must not reach the disk at all.
    void localPath_data()
    {
        QTest::addColumn<QByteArray>("root");
        QTest::addColumn<QByteArray>("requestPath");
        QTest::addColumn<QByteArray>("local");
        const QByteArray root("/srv/www");
        QTest::newRow("root with slash") << QByteArray("/srv/www/") << QByteArray("/a.png") << QByteArray("/srv/www/a.png");
        QTest::newRow("escapes, either case") << root << QByteArray("/my%20file%2etxt%2Fa%2fb") << QByteArray("/srv/www/my file.txt/a/b");
        QTest::newRow("decoded once only") << root << QByteArray("/100%2525.txt") << QByteArray("/srv/www/100%25.txt");
        QTest::newRow("malformed escapes, plus") << root << QByteArray("/a+b%zz%4") << QByteArray("/srv/www/a+b%zz%4");
        QTest::newRow("backslash is a name byte") << root << QByteArray("/a\\b.txt") << QByteArray("/srv/www/a\\b.txt");
        QTest::newRow("dots inside names") << root << QByteArray("/a..b/...") << QByteArray("/srv/www/a..b/...");
        QTest::newRow("root never decoded") << QByteArray("/srv/my%20root") << QByteArray("/x") << QByteArray("/srv/my%20root/x");
        QTest::newRow("encoded dot dot") << root << QByteArray("/%2e%2e/etc/passwd") << QByteArray();
        QTest::newRow("dot at end") << root << QByteArray("/x/.") << QByteArray();
        QTest::newRow("encoded NUL") << root << QByteArray("/a%00.png") << QByteArray();
        QTest::newRow("backslash dot dot") << root << QByteArray("/..\\etc\\passwd") << QByteArray();
        QTest::newRow("encoded star") << root << QByteArray("/a%2a") << QByteArray();
        QTest::newRow("no leading slash") << root << QByteArray("x") << QByteArray();
    }

    void localPath()
    {
        QFETCH(QByteArray, root);
        QFETCH(QByteArray, requestPath);
        QFETCH(QByteArray, local);
        QCOMPARE(localPathFor(root, requestPath).value_or(QByteArray()), local);
    }

    // The answers' bytes are tst_webserver's.
    void contentTypes()
    {
        QCOMPARE(contentTypeLine("/Photo.JPG"), QByteArray("Content-Type: image/jpeg"));
        QCOMPARE(contentTypeLine("/rel.2/a.htm"), QByteArray("Content-Type: */*")); // after the first dot
    }

    // LeftRight gives what follows "GET ", Between what lies between it and " HTTP/1.".
    void textHelpers_data()
    {
        QTest::addColumn<QByteArray>("src");
        QTest::addColumn<Compare>("compare");
        QTest::addColumn<OnMissing>("onMissing");
        QTest::addColumn<QByteArray>("leftRight");
        QTest::addColumn<QByteArray>("between");
        const QByteArray lower("get /a http/1.0");
        QTest::newRow("found") << QByteArray("GET /a HTTP/1.0") << Compare::Exact << OnMissing::Empty
                               << QByteArray("/a HTTP/1.0") << QByteArray("/a");
        QTest::newRow("case differs, empty") << lower << Compare::Exact << OnMissing::Empty << QByteArray() << QByteArray();
        QTest::newRow("case differs, source") << lower << Compare::Exact << OnMissing::Source << lower << lower;
        QTest::newRow("case ignored") << lower << Compare::IgnoreCase << OnMissing::Empty << QByteArray("/a http/1.0")
                                      << QByteArray("/a");
        QTest::newRow("end missing") << QByteArray("GET /a") << Compare::Exact << OnMissing::Source << QByteArray("/a")
                                     << QByteArray("GET /a");
    }
    void textHelpers()
    {
        QFETCH(QByteArray, src);
        QFETCH(Compare, compare);
        QFETCH(OnMissing, onMissing);
        QFETCH(QByteArray, leftRight);
        QFETCH(QByteArray, between);
        QCOMPARE(LeftRight(src, "GET ", compare, onMissing), leftRight);
        QCOMPARE(Between(src, "GET ", " HTTP/1.", compare, onMissing), between);
    }
};

QTEST_APPLESS_MAIN(TstHttpText)
#include "tst_httptext.moc"
