// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/IndexFile.h"

#include "TempTree.h"

#include <QtTest>

#include <algorithm>

class TstIndexFile : public QObject
{
    Q_OBJECT
private slots:
    void findIndexFile_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("indexHTML");
        QTest::addColumn<QByteArray>("found");
        QTest::newRow("name as the folder spells it") << QByteArrayList{"Index.HTM"} << QByteArray("index.htm") << QByteArray("Index.HTM");
        QTest::newRow("item order wins") << QByteArrayList{"default.htm", "index.htm"} << QByteArray("index.htm;default.htm") << QByteArray("index.htm");
        QTest::newRow("empty items skipped over") << QByteArrayList{"index.htm"} << QByteArray(";;index.htm") << QByteArray("index.htm");
        QTest::newRow("folders do not count") << QByteArrayList{"index.htm/"} << QByteArray("index.htm") << QByteArray();
        QTest::newRow("pattern, first in byte order") << QByteArrayList{"b.htm", "a.HTM"} << QByteArray("*.htm") << QByteArray("a.HTM");
        QTest::newRow("pattern backtracks") << QByteArrayList{"a.htm.txt", "b.htm.htm"} << QByteArray("*.htm") << QByteArray("b.htm.htm");
        QTest::newRow("question mark") << QByteArrayList{"ndex.htm", "Index.htm"} << QByteArray("?NDEX.htm") << QByteArray("Index.htm");
        QTest::newRow("hidden never qualifies") << QByteArrayList{".draft.htm"} << QByteArray("*.htm;.draft.htm") << QByteArray();
        QTest::newRow("other spellings in byte order") << QByteArrayList{"iNDEX.htm", "Index.htm"} << QByteArray("index.htm") << QByteArray("Index.htm");
        QTest::newRow("spelling as given wins") << QByteArrayList{"INDEX.HTM", "index.htm"} << QByteArray("index.htm") << QByteArray("index.htm");
        QTest::newRow("... after a pattern too") << QByteArrayList{"INDEX.HTM", "index.htm"} << QByteArray("*.x;index.htm") << QByteArray("index.htm");
        QTest::newRow("name after a pattern") << QByteArrayList{"b.htm", "Index.HTM"} << QByteArray("*.x;index.htm;b.htm") << QByteArray("Index.HTM");
        QTest::newRow("name of many letters") << QByteArrayList{"Quorandel-Clock.HTML"} << QByteArray("quorandel-clock.html") << QByteArray("Quorandel-Clock.HTML");
        QTest::newRow("no way into a subfolder") << QByteArrayList{"d/", "d/x.htm"} << QByteArray("d/x.htm;../x") << QByteArray();
    }

    void findIndexFile()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, indexHTML);
        QFETCH(QByteArray, found);
        TempTree tree(entries);
        QVERIFY(tree.isValid());
        QCOMPARE(FindIndexFile(tree.root(), indexHTML), found);
        QCOMPARE(FindIndexFile(tree.root() + '/', indexHTML), found);
    }

    // However the folder's reading orders its entries, the answer is the same.
    void candidatesInAnyOrder_data()
    {
        QTest::addColumn<QByteArrayList>("names");
        QTest::addColumn<QByteArrayList>("pending");
        QTest::addColumn<QByteArray>("found");
        QTest::newRow("spelling as given") << QByteArrayList{"INDEX.HTM", "index.htm", "Index.htm"}
                                           << QByteArrayList{"index.htm"} << QByteArray("index.htm");
        QTest::newRow("else byte order") << QByteArrayList{"iNDEX.HTM", "INDEX.htm", "Index.htm"}
                                         << QByteArrayList{"index.htm"} << QByteArray("INDEX.htm");
        QTest::newRow("pattern, byte order") << QByteArrayList{"c.htm", "a.htm", "b.htm"} << QByteArrayList{"*.HTM"}
                                             << QByteArray("a.htm");
        QTest::newRow("item order") << QByteArrayList{"a.htm", "z.html"} << QByteArrayList{"*.html", "*.htm"}
                                    << QByteArray("z.html");
        QTest::newRow("hidden and folders never") << QByteArrayList{".a.htm", "b.htm/"} << QByteArrayList{"*.htm", "?a.htm"}
                                                  << QByteArray();
    }

    void candidatesInAnyOrder()
    {
        QFETCH(QByteArrayList, names);
        QFETCH(QByteArrayList, pending);
        QFETCH(QByteArray, found);
        QList<FileSystem::Entry> entries;
        for (const QByteArray &name : names)
            entries.append({name.endsWith('/') ? name.chopped(1) : name, name.endsWith('/'), 0});
        std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
        do {
            IndexCandidates candidates(pending);
            for (const FileSystem::Entry &e : entries)
                candidates.see({e});
            QCOMPARE(candidates.found(), found);
        } while (std::next_permutation(entries.begin(), entries.end(),
                                       [](const auto &a, const auto &b) { return a.name < b.name; }));
    }

    // Names are asked for one spelling at a time; only what that cannot
    // settle is left for a reading of the folder, in the items' order.
    void lookUpByName_data()
    {
        QTest::addColumn<QByteArray>("indexHTML");
        QTest::addColumn<QByteArray>("found");
        QTest::addColumn<QByteArrayList>("pending");
        QTest::newRow("found by name") << QByteArray("a.htm;index.htm") << QByteArray("Index.htm") << QByteArrayList{};
        QTest::newRow("none") << QByteArray("a.htm;;.x;b") << QByteArray() << QByteArrayList{};
        QTest::newRow("pattern and what follows") << QByteArray("a.htm;*.htm;b.htm") << QByteArray()
                                                  << QByteArrayList{"*.htm", "b.htm"};
        QTest::newRow("found before a pattern") << QByteArray("index.htm;*.htm") << QByteArray("Index.htm") << QByteArrayList{};
        QTest::newRow("lookups used up") << QByteArray("index.html;index.htm") << QByteArray() << QByteArrayList{"index.htm"};
        QTest::newRow("beyond the lookups") << QByteArray("a.htm;quorandel-clock.html") << QByteArray()
                                            << QByteArrayList{"quorandel-clock.html"};
    }

    void lookUpByName()
    {
        QFETCH(QByteArray, indexHTML);
        QFETCH(QByteArray, found);
        QFETCH(QByteArrayList, pending);
        TempTree tree({"Index.htm", "x.htm"});
        QVERIFY(tree.isValid());
        const IndexLookup lookup = lookUpIndexFile(tree.root(), indexHTML);
        QCOMPARE(lookup.found, found);
        QCOMPARE(lookup.pending, pending);
    }
};

QTEST_APPLESS_MAIN(TstIndexFile)
#include "tst_indexfile.moc"
