#include "publish/ExportFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

enum Holder { NoFile, NotHeld, OpenNoLock, LockedShared, LockedExclusive };

// Another open of the file, as a second process would have it: flock locks
// belong to the open file description, so it conflicts with ours.
class FileHolder
{
public:
    FileHolder(const QString &path, Holder holder)
    {
        if (holder == NoFile)
            return;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("picture");
        f.close();
        if (holder == NotHeld)
            return;
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
        if (holder == LockedShared)
            ::flock(m_fd, LOCK_SH | LOCK_NB);
        if (holder == LockedExclusive)
            ::flock(m_fd, LOCK_EX | LOCK_NB);
    }
    ~FileHolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

private:
    int m_fd = -1;
};

bool someoneHoldsLock(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), data.size());
}

} // namespace

class TstExportFiles : public QObject
{
    Q_OBJECT
private slots:
    void readinessAndRemoval_data();
    void readinessAndRemoval();
    void replaceAtomically_data();
    void replaceAtomically();
};

void TstExportFiles::readinessAndRemoval_data()
{
    QTest::addColumn<int>("holder");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<bool>("removed");
    QTest::newRow("missing") << int(NoFile) << false << true;
    QTest::newRow("nobody holds it") << int(NotHeld) << true << true;
    QTest::newRow("open without a lock") << int(OpenNoLock) << true << true;
    QTest::newRow("shared lock elsewhere") << int(LockedShared) << false << false;
    QTest::newRow("exclusive lock elsewhere") << int(LockedExclusive) << false << false;
}

void TstExportFiles::readinessAndRemoval()
{
    QFETCH(int, holder);
    QFETCH(bool, ready);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    const QString path = dir.filePath("Quorandel1.png");
    const FileHolder held(path, Holder(holder));
    const bool locked = holder == LockedShared || holder == LockedExclusive;

    QCOMPARE(isReadyExclusive(path), ready);
    // Checking must neither take the other's lock away nor keep one of its own.
    QCOMPARE(someoneHoldsLock(path), locked);

    QCOMPARE(removeUnlessLocked(path), removed);
    QCOMPARE(QFile::exists(path), !removed);
}

void TstExportFiles::replaceAtomically_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<bool>("sourceExists");
    QTest::newRow("new target") << false << true;
    QTest::newRow("existing target") << true << true;
    QTest::newRow("missing source") << true << false;
}

void TstExportFiles::replaceAtomically()
{
    QFETCH(bool, targetExists);
    QFETCH(bool, sourceExists);
    QTemporaryDir dir;
    const QString source = dir.filePath("Quorandel1.png");
    const QString target = dir.filePath("Quorandel.png");
    const QByteArray fresh(100000, 'n');
    if (sourceExists)
        writeFile(source, fresh);
    if (targetExists)
        writeFile(target, "old picture");
    const QByteArray before = contentOf(target);

    QCOMPARE(::replaceAtomically(source, target), sourceExists);

    QCOMPARE(contentOf(target), sourceExists ? fresh : before);
    if (sourceExists)
        QVERIFY(QFileInfo(target).permissions() & QFile::ReadOther);
    // No half-made copy is left lying beside the picture.
    QStringList expected;
    if (sourceExists || targetExists)
        expected << "Quorandel.png";
    if (sourceExists)
        expected << "Quorandel1.png";
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

QTEST_MAIN(TstExportFiles)
#include "tst_exportfiles.moc"
