#include "web/DirListing.h"

#include "TempTree.h"

#include <QtTest>

namespace {

const QByteArray Head = "<html><body>";
const QByteArray Tail = "</body></html>";
const QByteArray Folders = "<b>Directories:</b><br>";
const QByteArray Table = "<br><b>Files:</b><br><table width=\"100%\" border=\"1\" cellpadding=\"3\" cellspacing=\"2\">\n";

QByteArray folderLine(const QByteArray &href, const QByteArray &text)
{
    return "<a href=\"" + href + "\">" + text + "</a><br>\n";
}

QByteArray fileRow(const QByteArray &href, const QByteArray &text, const QByteArray &size)
{
    return "<tr>\n<td width=\"100%\"><a href=\"" + href + "\">" + text + "</a></td>\n<td nowrap>" + size
        + " KBytes</td>\n</tr>\n";
}

}  // namespace

class TstDirListing : public QObject
{
    Q_OBJECT
private slots:
    void page_data();
    void page();
    void sizesFollowTheLocale_data();
    void sizesFollowTheLocale();
    void neverLeavesTheRoot();
};

void TstDirListing::page_data()
{
    QTest::addColumn<QByteArrayList>("entries");
    QTest::addColumn<QByteArray>("requestPath");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty root") << QByteArrayList{} << QByteArray("/")
                                << Head + "This folder is empty." + Tail;
    QTest::newRow("hidden and . .. never shown")
        << QByteArrayList{".hidden", ".hdir/"} << QByteArray("/") << Head + "This folder is empty." + Tail;
    QTest::newRow("only folders") << QByteArrayList{"b/", "a/"} << QByteArray("/")
                                  << Head + Folders + folderLine("/a", "a") + folderLine("/b", "b") + Tail;
    QTest::newRow("only files, sub without slash")
        << QByteArrayList{"sub/", "sub/small=500", "sub/two=1600", "sub/big=2000000"} << QByteArray("/sub")
        << Head + Table + fileRow("/sub/big", "big", "1,953") + fileRow("/sub/small", "small", "0")
               + fileRow("/sub/two", "two", "2") + "</table>\n" + Tail;
    QTest::newRow("folders then files, sub with slash")
        << QByteArrayList{"sub/", "sub/f=1024", "sub/d/"} << QByteArray("/sub/")
        << Head + Folders + folderLine("/sub/d", "d") + Table + fileRow("/sub/f", "f", "1") + "</table>\n" + Tail;
    QTest::newRow("escaped space in the path")
        << QByteArrayList{"my dir/", "my dir/n.txt"} << QByteArray("/my%20dir")
        << Head + Table + fileRow("/my dir/n.txt", "n.txt", "0") + "</table>\n" + Tail;
    QTest::newRow("names escaped in text and link")
        << QByteArrayList{"a&b<\"c\">#1?%.txt", "x y/"} << QByteArray("/")
        << Head + Folders + folderLine("/x y", "x y") + Table
               + fileRow("/a&amp;b&lt;&quot;c&quot;&gt;%231%3F%25.txt", "a&amp;b&lt;&quot;c&quot;&gt;#1?%.txt", "0")
               + "</table>\n" + Tail;
    QTest::newRow("bytes beyond ASCII encoded in the link only")
        << QByteArrayList{"caf\xc3\xa9"} << QByteArray("/")
        << Head + Table + fileRow("/caf%C3%A9", "caf\xc3\xa9", "0") + "</table>\n" + Tail;
}

void TstDirListing::page()
{
    QFETCH(QByteArrayList, entries);
    QFETCH(QByteArray, requestPath);
    QFETCH(QByteArray, expected);
    TempTree tree(entries);
    QVERIFY(tree.isValid());
    QCOMPARE(DirListing(tree.root(), requestPath, QLocale(QLocale::English, QLocale::UnitedStates)), expected);
    QCOMPARE(DirListing(tree.root() + '/', requestPath, QLocale(QLocale::English, QLocale::UnitedStates)), expected);
}

void TstDirListing::sizesFollowTheLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QByteArray>("size");
    QTest::newRow("C") << QLocale::c() << QByteArray("1,953");
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << QByteArray("1,953");
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << QByteArray("1.953");
}

void TstDirListing::sizesFollowTheLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QByteArray, size);
    TempTree tree({"big=2000000"});
    QVERIFY(DirListing(tree.root(), "/", locale).contains("<td nowrap>" + size + " KBytes</td>"));
}

void TstDirListing::neverLeavesTheRoot()
{
    TempTree tree({"root/", "secret.txt"});
    const QByteArray empty = Head + "This folder is empty." + Tail;
    for (const QByteArray path : {"/..", "/%2e%2e/", "/.%2e", "/..\\", "/sub/%2e%2e/.."})
        QCOMPARE(DirListing(tree.path("root"), path), empty);
}

QTEST_APPLESS_MAIN(TstDirListing)
#include "tst_dirlisting.moc"
