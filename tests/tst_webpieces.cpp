// SPDX-License-Identifier: GPL-3.0-or-later
// The web server's pieces without sockets: the request scan, the path
// mapping, the slot rules, folder listings and index files, and the live
// page's control form and password gate.

#include "web/ControlCommand.h"
#include "web/ControlGate.h"
#include "../bench/ListingInOneGo.h"
#include "web/FormBody.h"
#include "web/HttpRequest.h"
#include "web/HttpText.h"
#include "web/IndexFile.h"
#include "web/SlotRules.h"
#include "web/WebServer.h"

#include "TempTree.h"

#include <QtTest>

#include <algorithm>
#include <limits>

namespace {

using V = ControlGate::Verdict;
const char *const VerdictNames[] = {"Accepted", "ControlOff", "Missing", "Wrong", "LockedOut"};

// A complete request as "method|rawPath|query|decodedPath|version|GET?|headers|body"; else the scan's status.
QByteArray described(const RequestScan &scan)
{
    const char *const statuses[] = {"Incomplete", "", "TooLong", "HeadersTooLarge", "BodyTooLarge", "LengthRequired", "BadLength", "NulByte", "TwoLengths", "TransferEncoding"};
    if (scan.status != RequestStatus::Complete)
        return statuses[int(scan.status)];
    const HttpRequest &r = scan.request;
    QByteArray headers;
    for (const auto &[name, value] : r.headers)
        headers += name + '=' + value + ';';
    return QByteArrayList{r.method, r.rawPath, r.query, r.decodedPath, r.version, r.matchesGet ? "GET" : "-", headers, r.body}.join('|');
}

// "W3": a slot waiting for its request (F free, A answering), arrived third.
std::vector<SlotState> slotsOf(const QString &table)
{
    std::vector<SlotState> states;
    for (const QString &slot : table.split(u' ', Qt::SkipEmptyParts))
        states.push_back({SlotState::Use(QStringLiteral("FWA").indexOf(slot[0])), slot.mid(1).toULongLong()});
    return states;
}

// "3@a": an events stream that arrived third, from address a.
std::vector<StreamState> streamsOf(const QString &table)
{
    std::vector<StreamState> streams;
    for (const QString &stream : table.split(u' ', Qt::SkipEmptyParts))
        streams.push_back({stream.section(u'@', 0, 0).toULongLong(), stream.section(u'@', 1).toLatin1()});
    return streams;
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
    // What a piece makes of some bytes from a peer. The scan: a file request
    // is complete with its request line, a built-in one with its header block
    // and body, whose headers and body are read for built-in pages only. The
    // path under the web root "/srv/www": "-" when the request must not reach
    // the disk at all. The control form: every refusal, which quotes the peer
    // on one short, printable line (what an accepted one does: tst_liveclock).
    void pieces_data()
    {
        QTest::addColumn<QByteArray>("piece");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        const QByteArray nul(1, '\0');
        const QByteArray post = "POST /quorandel/control HTTP/1.1\r\nContent-Length: 12\r\n\r\n";
        QByteArray piece = "scan";  // each split of the peer's bytes decides as the whole does
        const auto row = [&piece](const char *name, const QByteArray &input, const QByteArray &output) {
            QTest::addRow("%s: %s", piece.constData(), name) << piece << input << output;
        };
        row("file, headers never read", "GET /a%20b.png?t=1 HTTP/1.1\r\nHost: a\r\n\r\n", "GET|/a%20b.png|t=1|/a b.png|1.1|GET||");
        row("lower-case version: no GET", "GET / http/1.0\n", "GET|/||/||-||");
        row("line end before the version: no GET", "GET /a\nb HTTP/1.0\r\n", "GET|/a||/a||-||");
        row("8 KiB, no line end", QByteArray(MaxRequestBytes, 'a'), "Incomplete");
        row("past 8 KiB, no line end", QByteArray(MaxRequestBytes + 1, 'a'), "TooLong");
        row("name that starts like the prefix", "GET /quorandel.png HTTP/1.1\r\nHost", "GET|/quorandel.png||/quorandel.png|1.1|GET||");
        row("built-in, headers whole", "GET /quorandel/state.json?x HTTP/1.1\r\nHost:  a \r\n\r\njunk",
            "GET|/quorandel/state.json|x|/quorandel/state.json|1.1|GET|Host=a;|");
        row("LF-only header block", "GET /quorandel HTTP/1.0\n\nx", "GET|/quorandel||/quorandel|1.0|GET||");
        row("body whole, NUL in it", post + "action" + nul + "start",
            "POST|/quorandel/control||/quorandel/control|1.1|-|Content-Length=12;|action" + nul + "start");
        row("negative length", "POST /quorandel/control HTTP/1.1\r\nContent-Length: -5\r\n\r\n", "BadLength");
        row("two lengths that differ", "POST /quorandel/control HTTP/1.1\r\nContent-Length: 12\r\ncontent-length: 5\r\n\r\naction=start", "TwoLengths");
        row("the same length twice", post.left(post.size() - 2) + "Content-Length: 12\r\n\r\naction=start",
            "POST|/quorandel/control||/quorandel/control|1.1|-|Content-Length=12;Content-Length=12;|action=start");
        row("chunked beside a length", "POST /quorandel/control HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n"
            "c\r\naction=start\r\n0\r\n\r\n", "TransferEncoding");
        row("header block ends past 8 KiB", "GET /quorandel/ HTTP/1.1\r\nX: " + QByteArray(MaxRequestBytes, 'a') + "\r\n\r\n",
            "HeadersTooLarge");
        row("NUL in the path", "GET /quorandel/state.json" + nul + " HTTP/1.1\r\n\r\n", "NulByte");
        row("NUL in the blank line, head never ends", "GET /quorandel/ HTTP/1.1\r\nX: a\r\n\r" + nul + "\n\r\n", "NulByte");
        piece = "path";
        row("escapes, either case", "/my%20file%2etxt%2Fa%2fb", "/srv/www/my file.txt/a/b");
        row("decoded once only", "/100%2525.txt", "/srv/www/100%25.txt");
        row("malformed escapes, plus", "/a+b%zz%4", "/srv/www/a+b%zz%4");
        row("backslash is a name byte, dots inside names", "/a\\b/a..b/...", "/srv/www/a\\b/a..b/...");
        row("slashes collapsed", "//a//b", "/srv/www/a/b");
        for (const char *path : {"/x/.", "/a%2a", "x"})
            row(path, path, "-");
        piece = "form";
        row("no action", "speed=4", "The action is missing: start, stop or set.");
        row("unknown field", "action=start&force=1", "Unknown field \"force\".");
        row("speed 04", "action=set&speed=04", "Speed \"04\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.");
        row("hour 24, the dialog's words", "action=set&time=24:00", "Enter Less Than 24");
        row("bad minute refuses the speed too", "action=set&speed=4&time=9:60", "Enter Less Than 60");
        row("29 February 1957", "action=set&date=1957-02-29", "Date \"1957-02-29\" is not a date. Enter YYYY-MM-DD (years 0001 to 4095).");
        row("two-digit year", "action=set&speed=4&date=57-06-14", "Date \"57-06-14\" is not a date. Enter YYYY-MM-DD (years 0001 to 4095).");
        row("non-ASCII digits", "action=set&time=%D9%A7:05", "Time \"??:05\" is not a time. Enter H:MM or HH:MM.");
        row("no '='", "action", "The field \"action\" has no '='.");
        row("empty name", "=stop", "A field has no name.");
        row("twice once decoded, CR LF quoted", "a%0D%0Ab=1&a%0d%0ab=2", "The field \"a??b\" is given twice.");
        row("'%' one digit", "a=%4", "The field \"a=%4\" has a '%' without two hex digits.");
        row("NUL byte", QByteArray("action=st\0art", 13), "The form holds a NUL byte.");
        row("NUL byte escaped", "action=start%00", "The field \"action=start%00\" holds a NUL byte.");
        row("largest form", "action=start&x=" + QByteArray(MaxFormBodyBytes - 15, 'x'), "Unknown field \"x\".");
        row("one byte too many", "action=start&x=" + QByteArray(MaxFormBodyBytes - 14, 'x'), "The form is larger than 1024 bytes.");
    }
    void pieces()
    {
        QFETCH(QByteArray, piece);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        for (qsizetype n = 1; piece == "scan" && n < input.size(); ++n) {
            if (scanRequest(input.left(n)).status != RequestStatus::Incomplete)
                QCOMPARE(described(scanRequest(input.left(n))), output);
        }
        if (piece == "scan")
            QCOMPARE(described(scanRequest(input)), output);
        else if (piece == "path")
            QCOMPARE(localPathFor("/srv/www", percentDecoded(input)).value_or("-"), output);
        else
            QCOMPARE(readControlCommand(decodeFormBody(input)).reason, output);
    }

    // Which slot a new connection takes ("0" refused), or which streams
    // (their arrivals) close before a new one from the given address opens,
    // at most 2 per address, `limit` the streams' capacity.
    void slotRules_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("newcomer");  // "connection", or "stream from" an address
        QTest::addColumn<QString>("outcome");
        QTest::newRow("first connection: a new slot") << "" << 3 << "connection" << "1";
        QTest::newRow("lowest free first") << "A1 F W3 F" << 4 << "connection" << "2";
        QTest::newRow("none free: a new slot below the limit") << "A1 A2" << 3 << "connection" << "3";
        QTest::newRow("at the limit: the oldest waiting") << "A1 W5 A2 W4" << 4 << "connection" << "4";
        QTest::newRow("every request in progress: refused") << "A1 A2 A3" << 3 << "connection" << "0";
        QTest::newRow("within the caps") << "1@a 2@b" << 8 << "stream from a" << "";
        QTest::newRow("per address: that address's oldest") << "3@a 1@b 2@a" << 8 << "stream from a" << "2";
        QTest::newRow("below the capacity no one gives way") << "2@a 1@b 3@c" << 4 << "stream from e" << "";
        QTest::newRow("capacity full: the oldest of all") << "2@a 1@b 3@c 4@d" << 4 << "stream from e" << "1";
        QTest::newRow("both caps in turn") << "1@b 2@a 3@a 4@c 5@d" << 4 << "stream from a" << "2 1";
        QTest::newRow("one stream at least") << "1@a" << 1 << "stream from b" << "1";
    }
    void slotRules()
    {
        QFETCH(QString, table);
        QFETCH(int, limit);
        QFETCH(QString, newcomer);
        QFETCH(QString, outcome);
        QStringList got;
        const std::vector<StreamState> streams = streamsOf(table);
        if (newcomer == "connection")
            got << QString::number(slotForNewConnection(slotsOf(table), limit));
        else
            for (const int i : streamsToClose(streams, newcomer.section(u' ', 2).toLatin1(), 2, limit))
                got << QString::number(streams[size_t(i)].arrival);
        QCOMPARE(got.join(u' '), outcome);
    }

    // How many streams fit in a limit of open files beside every slot, file
    // number and the margin (639 descriptors), within what was asked for.
    void streamsThatFit_data()
    {
        QTest::addColumn<qint64>("openFiles");
        QTest::addColumn<int>("wanted");
        QTest::addColumn<int>("fits");
        QTest::newRow("a desktop's usual 1024") << qint64(1024) << 2000 << 385;
        QTest::newRow("exactly enough") << qint64(2639) << 2000 << 2000;
        QTest::newRow("one short") << qint64(2638) << 2000 << 1999;
        QTest::newRow("plenty") << qint64(1 << 20) << 20000 << 20000;
        QTest::newRow("unlimited") << std::numeric_limits<qint64>::max() << 16 << 16;
        QTest::newRow("too few even for the slots: the least") << qint64(256) << 2000 << 16;
    }
    void streamsThatFit()
    {
        QFETCH(qint64, openFiles);
        QFETCH(int, wanted);
        QTEST(WebServer::streamsThatFit(openFiles, wanted), "fits");
    }

    // What a folder of the web root gives: for a request path, its listing;
    // for index file names, the index file, whatever order the folder is
    // read in.
    void folder_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<QByteArray>("given");
        const auto row = [](const char *name, const QByteArrayList &entries, const char *asked, const QByteArray &given) {
            QTest::newRow(name) << entries << QByteArray(asked) << given;
        };
        const QByteArray empty = "<html><body>This folder is empty.</body></html>";
        row("hidden never listed", {".hidden", ".hdir/"}, "/", empty);
        row("folders, then files in byte order, sizes grouped, escaped path without slash",
            {"my dir/", "my dir/b/", "my dir/a/", "my dir/small=500", "my dir/two=1600", "my dir/big=2000000"}, "/my%20dir",
            page("<a href=\"/my dir/a\">a</a><br>\n<a href=\"/my dir/b\">b</a><br>\n", fileRow("/my dir/big", "big", "1,953")
                 + fileRow("/my dir/small", "small", "0") + fileRow("/my dir/two", "two", "2")));
        row("names escaped in text and link", {"a&b<\"c\">#1?%.txt"}, "/",
            page("", fileRow("/a&amp;b&lt;&quot;c&quot;&gt;%231%3F%25.txt", "a&amp;b&lt;&quot;c&quot;&gt;#1?%.txt", "0")));
        row("not UTF-8: encoded in the link only", {"caf\xe9"}, "/", page("", fileRow("/caf%E9", "caf\xe9", "0")));
        row("index: name as the folder spells it", {"Index.HTM"}, "index.htm", "Index.HTM");
        row("index: item order wins, empty items skipped", {"default.htm", "index.htm"}, ";;index.htm;default.htm", "index.htm");
        row("index: pattern, first in byte order", {"b.htm", "a.HTM", "c.htm"}, "*.htm", "a.HTM");
        row("index: hidden never", {".draft.htm"}, "*.htm;.draft.htm", "");
        row("index: spelling as given wins, after a pattern too", {"INDEX.HTM", "index.htm", "Index.htm"}, "*.x;index.htm", "index.htm");
        row("index: else other spellings in byte order", {"iNDEX.htm", "Index.htm"}, "*.x;index.htm", "Index.htm");
        row("index: no way into a subfolder", {"d/", "d/x.htm"}, "d/x.htm;../x", "");
    }
    void folder()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, asked);
        QFETCH(QByteArray, given);
        TempTree tree(entries);
        QVERIFY(tree.isValid());
        const auto cleanUp = qScopeGuard([&] {  // QTemporaryDir cannot remove a name that is not UTF-8
            for (const QByteArray &entry : entries)
                ::unlink(tree.path(entry.split('=').first()).constData());
        });
        if (asked.startsWith('/')) {
            QCOMPARE(listingInOneGo(tree.root(), asked, QLocale(QLocale::English, QLocale::UnitedStates)), given);
            return;
        }
        QCOMPARE(FindIndexFile(tree.root() + '/', asked), given);
        QList<FileSystem::Entry> seen;
        for (const QByteArray &name : entries)
            seen.append({name.chopped(name.endsWith('/')), name.endsWith('/'), 0});
        const auto byName = [](const auto &a, const auto &b) { return a.name < b.name; };
        std::sort(seen.begin(), seen.end(), byName);
        do {
            IndexCandidates candidates(asked.split(';'));
            for (const FileSystem::Entry &e : seen)
                candidates.see({e});
            QCOMPARE(candidates.found(), given);
        } while (std::next_permutation(seen.begin(), seen.end(), byName));
    }

    // Steps "ms|address|Authorization|verdict" against the password
    // "tw\xc3\xb6 words" (UTF-8), on a clock that only moves when a step says
    // so. The comparison takes the same time whatever is guessed; a timing
    // test would only be noise, so these check that it is right.
    void gate_data()
    {
        QTest::addColumn<QByteArrayList>("steps");
        const auto row = [](const char *name, const QByteArrayList &steps) { QTest::newRow(name) << steps; };
        const QByteArray right = "Bearer tw\xc3\xb6 words";
        const QByteArrayList fourWrong{"0|a|Bearer 1|Wrong", "1000|a|Bearer 2|Wrong", "2000|a|Bearer 3|Wrong", "3000|a|Bearer 4|Wrong"};
        row("right: scheme in any case, blanks around", {"0|a| bEARER   tw\xc3\xb6 words |Accepted"});
        row("wrong: shorter, letter case, Latin-1",
            {"0|a|Bearer tw\xc3\xb6 word|Wrong", "0|b|Bearer Tw\xc3\xb6 words|Wrong", "0|c|Bearer tw\xf6 words|Wrong"});
        row("missing: none, scheme alone, another", {"0|a||Missing", "0|a|Bearer   |Missing", "0|a|Basic dHfDtiB3b3Jkcw==|Missing"});
        row("fifth wrong locks that address for 60 s, even the right password",
            fourWrong + QByteArrayList{"4000|a|Bearer 5|LockedOut", "4000|b|" + right + "|Accepted", "63999|a|" + right + "|LockedOut",
                                       "64000|a|" + right + "|Accepted"});
        row("over more than a minute", {"0|a|Bearer 1|Wrong", "15000|a|Bearer 2|Wrong", "30000|a|Bearer 3|Wrong", "45000|a|Bearer 4|Wrong",
                                        "60000|a|Bearer 5|Wrong", "60001|a|Bearer 6|LockedOut"});
        row("missing ones do not count, the right one clears the count",
            fourWrong + QByteArrayList{"3500|a||Missing", "3500|a|" + right + "|Accepted", "4000|a|Bearer 5|Wrong"});
        QByteArrayList spread;  // one wrong password from each of 30 addresses, over the minute
        for (int i = 0; i < ControlGate::WrongPerWindowAll; ++i)
            spread << QByteArray::number(i * 1000) + "|s" + QByteArray::number(i) + "|Bearer x|Wrong";
        row("beyond 30 wrong a minute from all, every wrong is locked out until it has passed",
            spread + QByteArrayList{"29000|t1|Bearer x|LockedOut", "59999|s0|Bearer x|LockedOut", "59999|t2|" + right + "|Accepted",
                                    "60000|t3|Bearer x|Wrong", "60000|t4|Bearer x|LockedOut", "61000|t5|Bearer x|Wrong"});
        // A full table makes no room for guessing newcomers: they are locked
        // out (two taking turns used to throw out each other's count), while
        // an address already counted goes on being counted.
        QByteArrayList full = spread;
        for (int i = 0; i < ControlGate::MaxAddresses + 10; ++i)  // locked out for all, counted while there is room
            full << "30000|s" + QByteArray::number(i) + "|Bearer x|LockedOut";
        for (int i = 0; i < 10; ++i)  // the lock for all has lifted, every record still counts
            full << "89000|pair" + QByteArray::number(i % 2) + "|Bearer x|LockedOut";
        row("a full table", full + QByteArrayList{"89000|s7|Bearer x|Wrong", "89000|t6|" + right + "|Accepted",
                                                  "200000|t7|Bearer x|Wrong"});  // all lapsed: room again
    }
    void gate()
    {
        QFETCH(QByteArrayList, steps);
        qint64 now = 0;
        ControlGate gate("tw\xc3\xb6 words", [&now] { return now; });
        QHash<QByteArray, QHostAddress> addresses;  // one per name
        QByteArrayList got;  // the steps with the verdicts given, so that a failure names its step
        for (const QByteArray &step : steps) {
            QByteArrayList part = step.split('|');
            now = part.at(0).toLongLong();
            if (!addresses.contains(part.at(1)))
                addresses.insert(part.at(1), QHostAddress(quint32(0x0a000001 + addresses.size())));
            part[3] = VerdictNames[int(gate.check(part.at(2), addresses.value(part.at(1))))];
            got << part.join('|');
        }
        QCOMPARE(got, steps);
        QCOMPARE(ControlGate("").check("Bearer ", QHostAddress("10.0.0.1")), V::ControlOff);
    }
};

QTEST_GUILESS_MAIN(TstWebPieces)
#include "tst_webpieces.moc"
