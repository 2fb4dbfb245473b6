// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileSystem.h"

#include "TempTree.h"

#include <QtTest>

// Listing order, hidden entries in listings and name patterns are checked
// through their users in tst_dirlisting and tst_indexfile.
class TstFileSystem : public QObject
{
    Q_OBJECT
    TempTree m_tree{{"a.txt=5", "caf\xe9.txt=7", ".hidden", "sub/", ".hdir/", "sub/x.htm=3"}};

private slots:
    void initTestCase()
    {
        QVERIFY(m_tree.isValid());
        QCOMPARE(::mkfifo(m_tree.path("pipe").constData(), 0644), 0);
        QCOMPARE(::symlink(m_tree.path("sub").constData(), m_tree.path("linked").constData()), 0);
        QCOMPARE(::symlink("nowhere", m_tree.path("dangling").constData()), 0);
    }

    void whatTheWebMaySee_data()
    {
        QTest::addColumn<QByteArray>("relative");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<qint64>("length");
        QTest::newRow("file") << QByteArray("a.txt") << true << false << qint64(5);
        QTest::newRow("name not UTF-8") << QByteArray("caf\xe9.txt") << true << false << qint64(7);
        QTest::newRow("folder") << QByteArray("sub") << true << true << qint64(-1);
        QTest::newRow("file with slash") << QByteArray("a.txt/") << false << false << qint64(-1);
        QTest::newRow("hidden file") << QByteArray(".hidden") << false << false << qint64(-1);
        QTest::newRow("hidden folder") << QByteArray(".hdir") << false << true << qint64(-1);
        QTest::newRow("hidden folder itself") << QByteArray(".hdir/") << true << true << qint64(-1);
        QTest::newRow("pipe") << QByteArray("pipe") << false << false << qint64(-1);
        QTest::newRow("through a link") << QByteArray("linked/x.htm") << true << false << qint64(3);
        QTest::newRow("dangling link") << QByteArray("dangling") << false << false << qint64(-1);
    }

    void whatTheWebMaySee()
    {
        QFETCH(QByteArray, relative);
        QFETCH(bool, exists);
        QFETCH(bool, folder);
        QFETCH(qint64, length);
        const QByteArray path = m_tree.path(relative);
        QCOMPARE(FileSystem::exists(path), exists);
        QCOMPARE(FileSystem::isFolder(path), folder);
        if (exists)
            QCOMPARE(FileSystem::fileLength(path), length);
    }
};

QTEST_APPLESS_MAIN(TstFileSystem)
#include "tst_filesystem.moc"
