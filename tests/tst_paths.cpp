// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Paths.h"

#include <QtTest>

// The request log's folder: an installed program cannot write beside itself.
// Tests may run as root, for whom permission bits stop no write, so a read-only
// folder is stood in for by the check that is handed in; a folder that cannot
// exist is unwritable for anyone and goes through the real check.
class TstPaths : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString scratch(const QString &relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(scratch("bin")));
        QFile file(scratch("plainfile"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QDir().mkpath(scratch("home")));
        qputenv("HOME", QFile::encodeName(scratch("home")));
    }

    void logFolder_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("deemedReadOnly");
        QTest::addColumn<QString>("stateHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("writable program folder") << "bin" << false << "state" << "bin";
        QTest::newRow("program folder cannot exist") << "plainfile/bin" << false << "state" << "state/Quorandel";
        QTest::newRow("read-only program folder") << "bin" << true << "state" << "state/Quorandel";
        QTest::newRow("no XDG_STATE_HOME") << "plainfile/bin" << false << "" << "home/.local/state/Quorandel";
        QTest::newRow("relative XDG_STATE_HOME ignored")
            << "plainfile/bin" << false << "relative/state" << "home/.local/state/Quorandel";
    }

    void logFolder()
    {
        QFETCH(QString, program);
        QFETCH(bool, deemedReadOnly);
        QFETCH(QString, stateHome);
        QFETCH(QString, expected);
        if (stateHome.isEmpty())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.startsWith("relative") ? stateHome : scratch(stateHome)));
        const auto readOnly = [](const QString &) { return false; };
        const QString folder = deemedReadOnly ? requestLogFolder(scratch(program), readOnly)
                                              : requestLogFolder(scratch(program));
        QCOMPARE(folder, scratch(expected));
        QVERIFY2(folderIsWritable(folder), qPrintable(folder));
    }
};

QTEST_APPLESS_MAIN(TstPaths)
#include "tst_paths.moc"
