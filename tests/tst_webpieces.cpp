// SPDX-License-Identifier: GPL-3.0-or-later
// The web server's pieces without sockets: the request scan, the path
// mapping, the slot rules, the request log, folder listings and index files.

#include "web/DirListing.h"
#include "web/HttpRequest.h"
#include "web/HttpText.h"
#include "web/IndexFile.h"
#include "web/RequestLog.h"
#include "web/SlotRules.h"

#include "TempTree.h"

#include <QtTest>

#include <algorithm>

namespace {

// A complete request as "method|rawPath|query|decodedPath|version|GET?|headers|body"; else the scan's status.
QByteArray described(const RequestScan &scan)
{
    const char *const statuses[] = {"Incomplete", "", "TooLong", "HeadersTooLarge", "BodyTooLarge", "LengthRequired", "BadLength", "NulByte"};
    if (scan.status != RequestStatus::Complete)
        return statuses[int(scan.status)];
    const HttpRequest &r = scan.request;
    QByteArray headers;
    for (const auto &[name, value] : r.headers)
        headers += name + '=' + value + ';';
    return QByteArrayList{r.method, r.rawPath, r.query, r.decodedPath, r.version, r.matchesGet ? "GET" : "-", headers, r.body}.join('|');
}

// "W3@a": a slot waiting for its request (F free, A answering, S streaming),
// arrived third, from address a.
std::vector<SlotState> slotsOf(const QString &table)
{
    std::vector<SlotState> states;
    for (const QString &slot : table.split(u' ', Qt::SkipEmptyParts))
        states.push_back({SlotState::Use(QStringLiteral("FWAS").indexOf(slot[0])), slot.mid(1).section(u'@', 0, 0).toULongLong(),
                          slot.section(u'@', 1).toLatin1()});
    return states;
}

QByteArray page(const QByteArray &folders, const QByteArray &files)
{
    const QByteArray table = "<br><b>Files:</b><br><table width=\"100%\" border=\"1\" cellpadding=\"3\" cellspacing=\"2\">\n";
    return "<html><body>" + (folders.isEmpty() ? "" : "<b>Directories:</b><br>" + folders)
        + (files.isEmpty() ? "" : table + files + "</table>\n") + "</body></html>";
}
QByteArray fileRow(const QByteArray &href, const QByteArray &text, const QByteArray &size)
{
    return "<tr>\n<td width=\"100%\"><a href=\"" + href + "\">" + text + "</a></td>\n<td nowrap>" + size + " KBytes</td>\n</tr>\n";
}

}  // namespace

class TstWebPieces : public QObject
{
    Q_OBJECT
private slots:
    // A file request is complete with its request line; a built-in one with
    // its header block and body. Headers and body are read for built-in pages only.
    void scan_data()
    {
        QTest::addColumn<QByteArray>("collected");
        QTest::addColumn<QByteArray>("request");
        const QByteArray atLimit = "GET /" + QByteArray(MaxRequestBytes - 14, 'a') + " HTTP/1.0", nul(1, '\0');
        const QByteArray post = "POST /quorandel/control HTTP/1.1\r\nContent-Length: 12\r\n\r\n";
        const auto row = [](const char *name, const QByteArray &collected, const QByteArray &request) {
            QTest::newRow(name) << collected << request;
        };
        row("file, headers never read", "GET /a%20b.png?t=1 HTTP/1.1\r\nHost: a\r\n\r\n", "GET|/a%20b.png|t=1|/a b.png|1.1|GET||");
        row("empty path", "GET  HTTP/1.0\r\n", "GET||||1.0|GET||");
        row("lower-case version: no GET", "GET / http/1.0\n", "GET|/||/||-||");
        row("other method, NUL in its path", "HEAD /a" + nul + " HTTP/1.0\r\nX", "HEAD|/a" + nul + "||/a" + nul + "|1.0|-||");
        row("8 KiB, no line end", QByteArray(MaxRequestBytes, 'a'), "Incomplete");
        row("past 8 KiB, no line end", QByteArray(MaxRequestBytes + 1, 'a'), "TooLong");
        row("line end past 8 KiB", QByteArray(9000, 'a') + '\n', "TooLong");
        row("8 KiB request, more after it", atLimit + "x\r\n",
            "GET|" + atLimit.mid(4, MaxRequestBytes - 13) + "||" + atLimit.mid(4, MaxRequestBytes - 13) + "|1.0|GET||");
        row("name that starts like the prefix", "GET /quorandel.png HTTP/1.1\r\nHost", "GET|/quorandel.png||/quorandel.png|1.1|GET||");
        row("built-in, headers whole", "GET /quorandel/state.json?x HTTP/1.1\r\nHost:  a \r\n\r\njunk",
            "GET|/quorandel/state.json|x|/quorandel/state.json|1.1|GET|Host=a;|");
        row("LF-only header block", "GET /quorandel HTTP/1.0\n\nx", "GET|/quorandel||/quorandel|1.0|GET||");
        row("body coming", post + "action=st", "Incomplete");
        row("body whole, NUL in it", post + "action" + nul + "start",
            "POST|/quorandel/control||/quorandel/control|1.1|-|Content-Length=12;|action" + nul + "start");
        row("negative length", "POST /quorandel/control HTTP/1.1\r\nContent-Length: -5\r\n\r\n", "BadLength");
        row("header block ends past 8 KiB", "GET /quorandel/ HTTP/1.1\r\nX: " + QByteArray(MaxRequestBytes, 'a') + "\r\n\r\n",
            "HeadersTooLarge");
        row("NUL in the path", "GET /quorandel/state.json" + nul + " HTTP/1.1\r\n\r\n", "NulByte");
        row("NUL in the blank line, head never ends", "GET /quorandel/ HTTP/1.1\r\nX: a\r\n\r" + nul + "\n\r\n", "NulByte");
    }
    void scan()
    {
        QFETCH(QByteArray, collected);
        QFETCH(QByteArray, request);
        QCOMPARE(described(scanRequest(collected)), request);
    }

    // However the peer's bytes are split, the first decision is the one the
    // whole gives; here they come one at a time.
    void splitRequestDecidesLikeWhole()
    {
        for (const QByteArray whole : {"GET /a.png HTTP/1.1\r\nHost: x\r\n\r\n", "GET /a\nb HTTP/1.0\r\n",
                                       "POST /quorandel/control HTTP/1.1\r\nContent-Length: 3\r\n\r\na=b"}) {
            qsizetype n = 1;
            while (scanRequest(whole.left(n)).status == RequestStatus::Incomplete)
                ++n;
            QCOMPARE(described(scanRequest(whole.left(n))), described(scanRequest(whole)));
        }
    }

    // An empty local path: the request must not reach the disk at all.
    void localPath_data()
    {
        QTest::addColumn<QByteArray>("root");
        QTest::addColumn<QByteArray>("requestPath");
        QTest::addColumn<QByteArray>("local");
        const auto row = [](const char *name, const char *root, const char *path, const char *local) {
            QTest::newRow(name) << QByteArray(root) << QByteArray(path) << QByteArray(local);
        };
        row("root with slash", "/srv/www/", "/a.png", "/srv/www/a.png");
        row("escapes, either case", "/srv/www", "/my%20file%2etxt%2Fa%2fb", "/srv/www/my file.txt/a/b");
        row("decoded once only", "/srv/www", "/100%2525.txt", "/srv/www/100%25.txt");
        row("malformed escapes, plus", "/srv/www", "/a+b%zz%4", "/srv/www/a+b%zz%4");
        row("backslash is a name byte", "/srv/www", "/a\\b.txt", "/srv/www/a\\b.txt");
        row("dots inside names", "/srv/www", "/a..b/...", "/srv/www/a..b/...");
        row("root never decoded", "/srv/my%20root", "/x", "/srv/my%20root/x");
        for (const char *path : {"/x/.", "/a%2a", "x"})
            row(path, "/srv/www", path, "");
    }
    void localPath()
    {
        QFETCH(QByteArray, root);
        QFETCH(QByteArray, requestPath);
        QFETCH(QByteArray, local);
        QCOMPARE(localPathFor(root, percentDecoded(requestPath)).value_or(QByteArray()), local);
        QCOMPARE(contentTypeLine("/Photo.JPG"), QByteArray("Content-Type: image/jpeg"));
        QCOMPARE(contentTypeLine("/rel.2/a.htm"), QByteArray("Content-Type: */*"));  // after the first dot
    }

    // Which slot a new connection takes ("0" refused), or which streams close
    // before a new one from the given address opens; at most 2 per address.
    void slotRules_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("newcomer");  // "connection", or "stream from" an address
        QTest::addColumn<QString>("outcome");
        QTest::newRow("first connection: a new slot") << "" << 3 << "connection" << "1";
        QTest::newRow("lowest free first") << "A1 F W3 F" << 4 << "connection" << "2";
        QTest::newRow("none free: a new slot below the limit") << "A1 A2" << 3 << "connection" << "3";
        QTest::newRow("at the limit: the oldest waiting") << "A1 W5 S2@a W4" << 4 << "connection" << "4";
        QTest::newRow("none waiting: the oldest stream") << "A1 S5@a S3@b A2" << 4 << "connection" << "3";
        QTest::newRow("every request in progress: refused") << "A1 A2 A3" << 3 << "connection" << "0";
        QTest::newRow("within the caps") << "S1@a A2" << 8 << "stream from a" << "";
        QTest::newRow("per address: that address's oldest") << "S3@a S1@b S2@a" << 8 << "stream from a" << "3";
        QTest::newRow("half the slots: the oldest of all") << "S2@a S1@b S3@c S4@d" << 8 << "stream from e" << "2";
        QTest::newRow("both caps in turn") << "S1@b S2@a S3@a S4@c S5@d" << 8 << "stream from a" << "2 1";
        QTest::newRow("one stream at least") << "S1@a W2" << 1 << "stream from b" << "1";
    }
    void slotRules()
    {
        QFETCH(QString, table);
        QFETCH(int, limit);
        QFETCH(QString, newcomer);
        QFETCH(QString, outcome);
        QStringList got;
        if (newcomer == "connection")
            got << QString::number(slotForNewConnection(slotsOf(table), limit));
        else
            for (const int n : streamsToClose(slotsOf(table), newcomer.section(u' ', 2).toLatin1(), 2, limit))
                got << QString::number(n);
        QCOMPARE(got.join(u' '), outcome);
    }

    // Control characters as %XX; no time zone; at exactly midnight (to the
    // second) the date alone. Lines are appended to earlier runs' at once.
    void log()
    {
        const QLocale us(QLocale::English, QLocale::UnitedStates), de(QLocale::German, QLocale::Germany);
        const QDate day(2024, 3, 5);
        QCOMPARE(RequestLog::connectLine(QDateTime(day, QTime(14, 7, 9)), "192.168.1.20", "/w/\t\x1b[2J\x7f\xc3\xa4~", de),
                 QByteArray("05.03.24 14:07:09: 192.168.1.20: /w/%09%1B[2J%7F\xc3\xa4~"));
        QCOMPARE(RequestLog::errorLine(QDateTime(day, QTime(14, 7, 9)), 3, 11, "Division by zero", us),
                 QByteArray("3/5/24 2:07:09 PM: (3) Error 11 - Division by zero"));
        QCOMPARE(RequestLog::dateTimeText(QDateTime(day, QTime(0, 0, 0, 500)), de), QByteArray("05.03.24"));
        QCOMPARE(RequestLog::dateTimeText(QDateTime(day, QTime(0, 0, 1)), us), QByteArray("3/5/24 12:00:01 AM"));
        TempTree tree({"PortulaLog.txt=3"});
        const QString path = QFile::decodeName(tree.path("PortulaLog.txt"));
        RequestLog log;
        QVERIFY(log.open(path));
        log.WriteLog("a");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\0\0\0a\r\n", 6));
        // One warning, in the program's own category, for a log that cannot be opened.
        QTest::ignoreMessage(QtWarningMsg, qPrintable("cannot open the request log " + path + "/x: Not a directory"));
        QTest::failOnWarning(QRegularExpression("."));
        QVERIFY(!log.open(path + "/x") && !log.open(path + "/x") && !log.isOpen());
    }

    void listing_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("requestPath");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const QByteArrayList &entries, const char *path, const QByteArray &expected) {
            QTest::newRow(name) << entries << QByteArray(path) << expected;
        };
        const QByteArray empty = "<html><body>This folder is empty.</body></html>";
        row("hidden never shown", {".hidden", ".hdir/"}, "/", empty);
        row("folders in byte order", {"b/", "a/", "B/"}, "/", page("<a href=\"/B\">B</a><br>\n<a href=\"/a\">a</a><br>\n<a href=\"/b\">b</a><br>\n", ""));
        row("sizes grouped, path without slash", {"sub/", "sub/small=500", "sub/two=1600", "sub/big=2000000"}, "/sub",
            page("", fileRow("/sub/big", "big", "1,953") + fileRow("/sub/small", "small", "0") + fileRow("/sub/two", "two", "2")));
        row("escaped path with slash", {"my dir/", "my dir/f=1024", "my dir/d/"}, "/my%20dir/",
            page("<a href=\"/my dir/d\">d</a><br>\n", fileRow("/my dir/f", "f", "1")));
        row("names escaped in text and link", {"a&b<\"c\">#1?%.txt"}, "/",
            page("", fileRow("/a&amp;b&lt;&quot;c&quot;&gt;%231%3F%25.txt", "a&amp;b&lt;&quot;c&quot;&gt;#1?%.txt", "0")));
        row("not UTF-8: encoded in the link only", {"caf\xe9"}, "/", page("", fileRow("/caf%E9", "caf\xe9", "0")));
        for (const char *path : {"/..", "/%2e%2e/", "/..\\", "/sub/%2e%2e/.."})
            row(path, {"sub/", "x"}, path, empty);
    }
    void listing()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, requestPath);
        QFETCH(QByteArray, expected);
        TempTree tree(entries);
        QVERIFY(tree.isValid());
        QCOMPARE(DirListing(tree.root(), requestPath, QLocale(QLocale::English, QLocale::UnitedStates)), expected);
        for (const QByteArray &entry : entries)  // QTemporaryDir cannot remove a name that is not UTF-8
            ::unlink(tree.path(entry.split('=').first()).constData());
    }

    // Whatever order the folder is read in, the answer is the same.
    void indexFile_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("indexHTML");
        QTest::addColumn<QByteArray>("found");
        const auto row = [](const char *name, const QByteArrayList &entries, const char *indexHTML, const char *found) {
            QTest::newRow(name) << entries << QByteArray(indexHTML) << QByteArray(found);
        };
        row("name as the folder spells it", {"Index.HTM"}, "index.htm", "Index.HTM");
        row("item order wins, empty items skipped", {"default.htm", "index.htm"}, ";;index.htm;default.htm", "index.htm");
        row("folders do not count", {"index.htm/"}, "index.htm", "");
        row("pattern: first in byte order", {"b.htm", "a.HTM", "c.htm"}, "*.htm", "a.HTM");
        row("pattern backtracks", {"a.htm.txt", "b.htm.htm"}, "*.htm", "b.htm.htm");
        row("question mark", {"ndex.htm", "Index.htm"}, "?NDEX.htm", "Index.htm");
        row("hidden never", {".draft.htm"}, "*.htm;.draft.htm", "");
        row("spelling as given wins, after a pattern too", {"INDEX.HTM", "index.htm", "Index.htm"}, "*.x;index.htm", "index.htm");
        row("else other spellings in byte order", {"iNDEX.htm", "Index.htm"}, "index.htm", "Index.htm");
        row("no way into a subfolder", {"d/", "d/x.htm"}, "d/x.htm;../x", "");
    }
    void indexFile()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, indexHTML);
        QFETCH(QByteArray, found);
        TempTree tree(entries);
        QVERIFY(tree.isValid());
        QCOMPARE(FindIndexFile(tree.root() + '/', indexHTML), found);
        QList<FileSystem::Entry> seen;
        for (const QByteArray &name : entries)
            seen.append({name.chopped(name.endsWith('/')), name.endsWith('/'), 0});
        const auto byName = [](const auto &a, const auto &b) { return a.name < b.name; };
        std::sort(seen.begin(), seen.end(), byName);
        do {
            IndexCandidates candidates(indexHTML.split(';'));
            for (const FileSystem::Entry &e : seen)
                candidates.see({e});
            QCOMPARE(candidates.found(), found);
        } while (std::next_permutation(seen.begin(), seen.end(), byName));
    }
};

QTEST_GUILESS_MAIN(TstWebPieces)
#include "tst_webpieces.moc"
