// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/DirListing.h"

#include "TempTree.h"
#include "platform/FolderReader.h"
#include "web/ListingBuilder.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <map>

namespace {

const QByteArray Head = "<html><body>";
const QByteArray Tail = "</body></html>";
const QByteArray Empty = Head + "This folder is empty." + Tail;
const QByteArray Folders = "<b>Directories:</b><br>";
const QByteArray Table = "<br><b>Files:</b><br><table width=\"100%\" border=\"1\" cellpadding=\"3\" cellspacing=\"2\">\n";
const QByteArray TableEnd = "</table>\n";

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
    void page_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("requestPath");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("hidden entries never shown") << QByteArrayList{".hidden", ".hdir/"} << QByteArray("/") << Empty;
        QTest::newRow("only folders") << QByteArrayList{"b/", "a/"} << QByteArray("/")
                                      << Head + Folders + folderLine("/a", "a") + folderLine("/b", "b") + Tail;
        QTest::newRow("only files, path without slash")
            << QByteArrayList{"sub/", "sub/small=500", "sub/two=1600", "sub/big=2000000"} << QByteArray("/sub")
            << Head + Table + fileRow("/sub/big", "big", "1,953") + fileRow("/sub/small", "small", "0")
                   + fileRow("/sub/two", "two", "2") + TableEnd + Tail;
        QTest::newRow("folders then files, escaped path with slash")
            << QByteArrayList{"my dir/", "my dir/f=1024", "my dir/d/"} << QByteArray("/my%20dir/")
            << Head + Folders + folderLine("/my dir/d", "d") + Table + fileRow("/my dir/f", "f", "1") + TableEnd + Tail;
        QTest::newRow("names escaped in text and link")
            << QByteArrayList{"a&b<\"c\">#1?%.txt"} << QByteArray("/")
            << Head + Table + fileRow("/a&amp;b&lt;&quot;c&quot;&gt;%231%3F%25.txt", "a&amp;b&lt;&quot;c&quot;&gt;#1?%.txt", "0")
                   + TableEnd + Tail;
        QTest::newRow("name not UTF-8, encoded in the link only")
            << QByteArrayList{"caf\xe9"} << QByteArray("/") << Head + Table + fileRow("/caf%E9", "caf\xe9", "0") + TableEnd + Tail;
    }

    void page()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, requestPath);
        QFETCH(QByteArray, expected);
        TempTree tree(entries);
        QVERIFY(tree.isValid());
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(DirListing(tree.root(), requestPath, us), expected);
        QCOMPARE(DirListing(tree.root() + '/', requestPath, us), expected);
    }

    // Thousands of entries in random order, handed over and written a few at
    // a time, give the page of the listing made in one go, and that page is
    // the one expected.
    void largeFolderInSteps()
    {
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        std::map<QByteArray, qint64> folders, files;  // sorted as the page lists them
        TempTree tree;
        for (int i = 0; i < 2000; ++i) {
            QByteArray name = QByteArray::number(random.generate64(), 36);
            name[0] = "aAzZ09"[random.bounded(6)];
            const qint64 size = random.bounded(3'000'000);
            const bool folder = random.bounded(10) == 0;
            (folder ? folders : files).emplace(name, folder ? 0 : size);
            tree.add(folder ? name + '/' : name + '=' + QByteArray::number(size));
        }
        QVERIFY(tree.isValid());
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QByteArray expected = Head + Folders;
        for (const auto &[name, size] : folders)
            expected += folderLine('/' + name, name);
        expected += Table;
        for (const auto &[name, size] : files)
            expected += fileRow('/' + name, name, us.toString((size + 512) / 1024).toLatin1());
        expected += TableEnd + Tail;

        QList<FileSystem::Entry> all;
        for (FolderReader reader(tree.root()); !reader.atEnd();)
            all += reader.next(int(random.bounded(1, 50)));
        QCOMPARE(all.size(), qsizetype(folders.size() + files.size()));
        std::shuffle(all.begin(), all.end(), random);
        ListingBuilder listing("/", us);
        for (qsizetype at = 0; at < all.size(); at += 37)
            listing.add(all.mid(at, 37));
        int steps = 0;
        while (!listing.write(int(random.bounded(1, 40))))
            ++steps;
        QVERIFY(steps > 40);
        QCOMPARE(listing.page(), expected);
        QCOMPARE(DirListing(tree.root(), "/", us), expected);
    }

    void neverLeavesTheRoot()
    {
        TempTree tree({"root/", "secret.txt"});
        for (const QByteArray path : {"/..", "/%2e%2e/", "/..\\", "/sub/%2e%2e/.."})
            QCOMPARE(DirListing(tree.path("root"), path), Empty);
    }
};

QTEST_APPLESS_MAIN(TstDirListing)
#include "tst_dirlisting.moc"
