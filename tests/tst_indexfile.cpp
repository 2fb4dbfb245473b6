#include "web/IndexFile.h"

#include "TempTree.h"

#include <QtTest>

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
};

QTEST_APPLESS_MAIN(TstIndexFile)
#include "tst_indexfile.moc"
