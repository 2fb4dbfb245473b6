#include "platform/FileSystem.h"

#include "TempTree.h"

#include <QtTest>

// Enumeration order, hidden entries in listings and pattern matching are
// checked through their users in tst_dirlisting and tst_indexfile.
class TstFileSystem : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void exists_data();
    void exists();
    void nonUtf8NamesRoundTrip();

private:
    TempTree m_tree{{"a.txt=5", ".hidden", "sub/", ".hdir/", "sub/x.htm"}};
};

void TstFileSystem::initTestCase()
{
    QVERIFY(m_tree.isValid());
    QCOMPARE(::mkfifo(m_tree.path("pipe").constData(), 0644), 0);
    QCOMPARE(::symlink(m_tree.path("sub").constData(), m_tree.path("linked").constData()), 0);
    QCOMPARE(::symlink("nowhere", m_tree.path("dangling").constData()), 0);
}

void TstFileSystem::exists_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("folder");
    QTest::newRow("file") << QByteArray("a.txt") << true << false;
    QTest::newRow("folder") << QByteArray("sub") << true << true;
    QTest::newRow("folder with slash") << QByteArray("sub/") << true << true;
    QTest::newRow("file with slash") << QByteArray("a.txt/") << false << false;
    QTest::newRow("letter case differs") << QByteArray("A.TXT") << false << false;
    QTest::newRow("hidden file") << QByteArray(".hidden") << false << false;
    QTest::newRow("hidden folder") << QByteArray(".hdir") << false << true;
    QTest::newRow("hidden folder itself") << QByteArray(".hdir/") << true << true;
    QTest::newRow("pipe") << QByteArray("pipe") << false << false;
    QTest::newRow("through a link") << QByteArray("linked/x.htm") << true << false;
    QTest::newRow("dangling link") << QByteArray("dangling") << false << false;
}

void TstFileSystem::exists()
{
    QFETCH(QByteArray, relative);
    QFETCH(bool, exists);
    QFETCH(bool, folder);
    QCOMPARE(FileSystem::exists(m_tree.path(relative)), exists);
    QCOMPARE(FileSystem::isFolder(m_tree.path(relative)), folder);
}

void TstFileSystem::nonUtf8NamesRoundTrip()
{
    TempTree tree({"caf\xe9.txt=7"});
    const QList<FileSystem::Entry> all = FileSystem::entries(tree.root());
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first().name, QByteArray("caf\xe9.txt"));
    QVERIFY(FileSystem::exists(tree.path(all.first().name)));
    QCOMPARE(FileSystem::fileLength(tree.path(all.first().name)), 7);
}

QTEST_APPLESS_MAIN(TstFileSystem)
#include "tst_filesystem.moc"
