#include "PrivateNetwork.h"

#include "clock/About.h"
#include "clock/FPortula.h"
#include "clock/frmSetSpeed.h"
#include "clock/frmSetTime.h"

#include <QtTest>
#include <QtWidgets>

// Start-up broadcasts its stop marks, so every test here runs in the private
// network.
class TstFPortula : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    AppPaths m_paths;

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        m_dir = std::make_unique<QTemporaryDir>();
        m_paths = {m_dir->filePath("QuorandelDB.mdb"), {}, m_dir->filePath("export"), m_dir->path()};
    }

    void firstRunThenStartAndStop()
    {
        FPortula w(m_paths);
        const int designHeight = w.height();
        QString error;
        QVERIFY2(w.Form_Load(&error), qPrintable(error));
        w.show();
        QVERIFY(QFile::exists(m_paths.settingsFile));
        QCOMPARE(w.settings().WebRoot, m_paths.exportFolder);
        QCOMPARE(w.clock().timer1().interval(), 0);
        // Designed wider than it may be; the height is within the limit.
        QCOMPARE(w.frameGeometry().width(), FPortula::MaxOuterWidth);
        QCOMPARE(w.height(), designHeight);

        QStringList texts{w.windowTitle()};
        for (QAction *a : w.menuBar()->actions())
            texts << a->text();
        texts << w.StartClock->text() << w.Stopclock->text() << w.LFileProgress(0)->text() << w.Text1->text();
        w.nHelp->trigger();
        texts << w.aboutWindow()->windowTitle() << w.aboutWindow()->Label1->text();
        QCOMPARE(texts, (QStringList{"Quorandel 1.40", "Configuration", "Set Quorandel", "End and Save Settings",
                                     "Help", "Start Clock", "Stop Clock", "Listening", "",
                                     "Quorandel 1.20", "Quorandel 1.40"}));
        QVERIFY(!w.Picture2->isVisible());
        QVERIFY(w.Text2->text().startsWith(QStringLiteral("Quorandel Web Server is ")));
        QVERIFY(w.Text2->text().endsWith(QStringLiteral(":8080")));

        w.clock().setSpeed(8);
        w.StartClock->click();
        QCOMPARE(w.clock().timer1().interval(), 125);
        QTRY_COMPARE_WITH_TIMEOUT(w.Text1->text(), QStringLiteral("00:00 "), 1000);
        w.Stopclock->click();
        const double stoppedAt = w.clock().clockTime();
        QTest::qWait(300);
        QCOMPARE(w.clock().clockTime(), stoppedAt);
    }

    void sizeLimits_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("limited");
        QTest::addColumn<bool>("byPanel");  // applied when the panel is resized, not called
        QTest::newRow("too wide and high") << QSize(1500, 1101) << QSize(1350, 1100) << false;
        QTest::newRow("one pixel too wide") << QSize(1351, 700) << QSize(1350, 700) << true;
        QTest::newRow("smaller stays") << QSize(1000, 700) << QSize(1000, 700) << true;
    }
    void sizeLimits()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, limited);
        QFETCH(bool, byPanel);
        FPortula w(m_paths);
        w.show();
        w.resize(size - (w.frameGeometry().size() - w.size()));
        QCOMPARE(w.frameGeometry().size(), size);
        if (byPanel)
            w.Picture1->resize(w.Picture1->size() + QSize(0, 1));
        else
            w.applySizeLimits();
        QCOMPARE(w.frameGeometry().size(), limited);
    }

    void digitsAndStatusLinesStayVisible()
    {
        FPortula w(m_paths);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.Text1->setText(QStringLiteral("88:88 "));
        const QImage image = w.Text1->grab().toImage();  // alone, so the panel cannot hide misplaced digits
        QRect digits;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                digits |= qGray(image.pixel(x, y)) < 20 ? QRect(x, y, 1, 1) : QRect();
        digits.translate(w.Text1->pos());
        const QRect box = w.Text1->geometry();
        const int panelRight = w.Picture1->geometry().right();
        const int clientWidth = w.centralWidget()->width();
        QVERIFY2(digits.left() > panelRight, "digits hidden under the status panel");
        QVERIFY2(digits.right() < clientWidth, "digits beyond the window's edge");
        QVERIFY(digits.top() > box.top() && digits.bottom() < box.bottom());
        QVERIFY2(digits.height() > box.height() * 0.6, qPrintable(QString::number(digits.height())));
        QVERIFY2(digits.width() > (clientWidth - panelRight) * 0.75, qPrintable(QString::number(digits.width())));

        // Far enough down, a connection's status line lies over the digits' box.
        QLabel *label = w.LFileProgress(15);
        QVERIFY(label && label->isVisible() && w.LFileProgress(15) == label && !w.LFileProgress(-1));
        const QPoint middle = w.Picture1->mapToParent(label->geometry().center());
        QVERIFY(box.contains(middle));
        QCOMPARE(w.centralWidget()->childAt(middle), label);
    }

    void oneWindowEach_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("speed dialog") << 0;
        QTest::newRow("time dialog") << 1;
        QTest::newRow("About") << 2;
    }
    void oneWindowEach()
    {
        QFETCH(int, which);
        FPortula w(m_paths);
        w.show();
        const auto open = [&]() -> QWidget * {
            (which == 2 ? w.nHelp : w.nFast)->trigger();
            if (which == 1)
                w.setSpeedWindow()->btnDone->click();
            return which == 0 ? static_cast<QWidget *>(w.setSpeedWindow())
                 : which == 1 ? static_cast<QWidget *>(w.setTimeWindow()) : w.aboutWindow();
        };
        QPointer<QWidget> first = open();
        QVERIFY(first && first->isVisible() && !first->isModal());
        QCOMPARE(open(), first.data());
        int shown = 0;
        for (QWidget *top : QApplication::topLevelWidgets())
            shown += top->isVisible() && top->metaObject() == first->metaObject();
        QCOMPARE(shown, 1);
        first->close();
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 1000);
        QVERIFY(open()->isVisible());
    }
};

QTEST_MAIN(TstFPortula)
#include "tst_fportula.moc"
