#include "PrivateNetwork.h"

#include "clock/About.h"
#include "clock/ClockTime.h"
#include "clock/FPortula.h"
#include "clock/frmSetSpeed.h"
#include "clock/frmSetTime.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
enum class Which { SpeedDialog, TimeDialog, AboutWindow };

// Where the dark pixels of a picture lie inside an area of it.
QRect darkPixels(const QImage &image, const QRect &area)
{
    QRect found;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 20)
                found |= QRect(x, y, 1, 1);
    return found;
}
}  // namespace

Q_DECLARE_METATYPE(Which)

class TstFPortula : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void sizeLimits_data();
    void sizeLimits();
    void layout_data();
    void layout();
    void textsUsersSee();
    void colours_data();
    void colours();
    void timeFillsTheFreePartOfItsBox();
    void statusLabels();
    void oneWindowEach_data();
    void oneWindowEach();
    void endSavesTheSettings();

private:
    std::unique_ptr<FPortula> loaded();
    QWidget *open(FPortula &w, Which which);

    QTemporaryDir m_dir;
    AppPaths m_paths;
    QStringList m_messages;
};

// Start-up broadcasts its stop marks, so these run in the private network.
void TstFPortula::init()
{
    REQUIRE_PRIVATE_NETWORK();
    QVERIFY(m_dir.isValid());
    m_paths.settingsFile = m_dir.filePath(QStringLiteral("QuorandelDB.mdb"));
    m_paths.exportFolder = m_dir.filePath(QStringLiteral("export"));
    m_paths.executableFolder = m_dir.path();
    QFile::remove(m_paths.settingsFile);
    m_messages.clear();
}

std::unique_ptr<FPortula> TstFPortula::loaded()
{
    auto w = std::make_unique<FPortula>(m_paths);
    w->setMessageSink([this](const QString &text) { m_messages << text; });
    QString error;
    if (!w->Form_Load(&error))
        qWarning("start-up failed: %s", qPrintable(error));
    return w;
}

void TstFPortula::sizeLimits_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("limited");
    QTest::addColumn<bool>("byPanel");
    const QList<std::tuple<const char *, QSize, QSize>> cases{
        {"too wide and high", {1500, 1200}, {1350, 1100}},
        {"exactly the limits", {1350, 1100}, {1350, 1100}},
        {"one pixel too wide", {1351, 700}, {1350, 700}},
        {"one pixel too high", {1000, 1101}, {1000, 1100}},
        {"smaller stays", {1000, 700}, {1000, 700}},
    };
    for (const auto &[name, size, limited] : cases) {
        QTest::addRow("%s, applied", name) << size << limited << false;
        QTest::addRow("%s, panel resized", name) << size << limited << true;
    }
}

void TstFPortula::sizeLimits()
{
    QFETCH(QSize, size);
    QFETCH(QSize, limited);
    QFETCH(bool, byPanel);
    FPortula w(m_paths);
    w.show();
    const QSize frame = w.frameGeometry().size() - w.size();
    w.resize(size - frame);
    QCOMPARE(w.frameGeometry().size(), size);
    if (byPanel)
        w.Picture1->resize(w.Picture1->size() + QSize(0, 1));
    else
        w.applySizeLimits();
    QCOMPARE(w.frameGeometry().size(), limited);
}

void TstFPortula::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    // Design twips / 15, rounded.
    QTest::newRow("Text2") << "Text2" << QRect(0, 0, 1361, 44);
    QTest::newRow("StartClock") << "StartClock" << QRect(368, 104, 238, 73);
    QTest::newRow("Stopclock") << "Stopclock" << QRect(752, 96, 238, 73);
    QTest::newRow("Text1") << "Text1" << QRect(16, 256, 1361, 481);
    QTest::newRow("Picture1") << "Picture1" << QRect(8, 64, 157, 693);
    QTest::newRow("Picture2") << "Picture2" << QRect(0, 0, 1361, 865);
}

void TstFPortula::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    FPortula w(m_paths);
    auto *control = w.centralWidget()->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
    QVERIFY(control);
    QCOMPARE(control->geometry(), rect);
}

void TstFPortula::textsUsersSee()
{
    auto w = loaded();
    w->show();
    QCOMPARE(w->windowTitle(), QStringLiteral("Quorandel 1.40"));
    QVERIFY(!w->windowIcon().isNull());
    QStringList menu;
    for (QAction *a : w->menuBar()->actions())
        menu << a->text();
    QCOMPARE(menu, (QStringList{"Configuration", "Set Quorandel", "End and Save Settings", "Help"}));
    QCOMPARE(w->StartClock->text(), QStringLiteral("Start Clock"));
    QCOMPARE(w->Stopclock->text(), QStringLiteral("Stop Clock"));
    QCOMPARE(w->LFileProgress(0)->text(), QStringLiteral("Listening"));
    QVERIFY(w->Text2->text().startsWith(QStringLiteral("Quorandel Web Server is ")));
    QVERIFY(w->Text2->text().endsWith(QStringLiteral(":8080")));
    QCOMPARE(w->Text1->text(), QString());
    QVERIFY(w->Text1->isReadOnly());
    QVERIFY(!w->Picture2->isVisible());
    // The client area keeps its design height below the menu bar.
    QCOMPARE(w->centralWidget()->height(), 935);

    w->nHelp->trigger();
    About *about = w->aboutWindow();
    QVERIFY(about);
    QCOMPARE(about->windowTitle(), QStringLiteral("Quorandel 1.20"));
    QCOMPARE(about->size(), QSize(318, 217));
    QCOMPARE(about->Label1->text(), QStringLiteral("Quorandel 1.40"));
}

void TstFPortula::colours_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("window") << "window" << QColor(65, 71, 31);
    QTest::newRow("Text1") << "Text1" << QColor(65, 71, 31);
    QTest::newRow("Text2") << "Text2" << QColor(65, 71, 31);
    QTest::newRow("Picture1") << "Picture1" << QColor(65, 71, 31);
    QTest::newRow("StartClock") << "StartClock" << QColor(0, 128, 0);
    QTest::newRow("Stopclock") << "Stopclock" << QColor(192, 0, 0);
}

void TstFPortula::colours()
{
    QFETCH(QString, what);
    QFETCH(QColor, colour);
    FPortula w(m_paths);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage image = w.centralWidget()->grab().toImage();
    // A point of each control that no text or other control covers.
    QPoint at(1200, 800);
    if (auto *control = w.centralWidget()->findChild<QWidget *>(what)) {
        const QRect r = control->geometry();
        at = QPoint(r.left() + 12, r.bottom() - 12);
    }
    QCOMPARE(image.pixelColor(at), colour);
}

void TstFPortula::timeFillsTheFreePartOfItsBox()
{
    FPortula w(m_paths);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Text1->setText(QStringLiteral("88:88 "));
    // Text1 alone, so that the panel above it cannot hide misplaced digits.
    const QImage image = w.Text1->grab().toImage();
    const QRect digits = darkPixels(image, image.rect()).translated(w.Text1->pos());
    const QRect box = w.Text1->geometry();
    const int panelRight = w.Picture1->geometry().right();
    const int clientWidth = w.centralWidget()->width();
    QVERIFY2(digits.left() > panelRight, "digits hidden under the status panel");
    QVERIFY2(digits.right() < clientWidth, "digits beyond the window's edge");
    QVERIFY(digits.top() > box.top() && digits.bottom() < box.bottom());
    QVERIFY2(digits.height() > box.height() * 0.6, qPrintable(QString::number(digits.height())));
    QVERIFY2(digits.width() > (clientWidth - panelRight) * 0.75,
             qPrintable(QString::number(digits.width())));
    const QFontInfo face(w.Text1->font());
    QCOMPARE(face.family(), QStringLiteral("Liberation Sans Narrow"));
    QVERIFY(face.bold());
}

void TstFPortula::statusLabels()
{
    FPortula w(m_paths);
    w.show();
    QLabel *first = w.LFileProgress(0);
    QLabel *label = w.LFileProgress(15);
    QVERIFY(first && label);
    QCOMPARE(w.LFileProgress(15), label);
    QCOMPARE(label->parentWidget(), w.Picture1);
    QCOMPARE(label->geometry(), first->geometry().translated(0, 15 * 16));
    QCOMPARE(label->font(), first->font());
    QVERIFY(label->isVisible());
    QCOMPARE(w.LFileProgress(-1), nullptr);

    SlotStatus &status = w;
    status.setSlotText(0, QStringLiteral("Listening"));
    status.setSlotText(2, QStringLiteral("Closed"));
    QCOMPARE(first->text(), QStringLiteral("Listening"));
    QCOMPARE(w.LFileProgress(2)->text(), QStringLiteral("Closed"));

    // Label 15 lies over the time display, and must be the one that is seen.
    const QPoint middle = label->geometry().center();
    QCOMPARE(w.centralWidget()->childAt(w.Picture1->mapToParent(middle)), label);
    QVERIFY(w.Text1->geometry().contains(w.Picture1->mapToParent(middle)));
}

void TstFPortula::oneWindowEach_data()
{
    QTest::addColumn<Which>("which");
    QTest::newRow("speed dialog") << Which::SpeedDialog;
    QTest::newRow("time dialog") << Which::TimeDialog;
    QTest::newRow("About") << Which::AboutWindow;
}

QWidget *TstFPortula::open(FPortula &w, Which which)
{
    switch (which) {
    case Which::SpeedDialog:
        w.nFast->trigger();
        return w.setSpeedWindow();
    case Which::TimeDialog:
        w.nFast->trigger();
        w.setSpeedWindow()->btnDone->click();
        return w.setTimeWindow();
    case Which::AboutWindow:
        w.nHelp->trigger();
        return w.aboutWindow();
    }
    return nullptr;
}

void TstFPortula::oneWindowEach()
{
    QFETCH(Which, which);
    auto w = loaded();
    w->show();
    QPointer<QWidget> first = open(*w, which);
    QVERIFY(first && first->isVisible());
    QVERIFY(!first->isModal());
    QCOMPARE(open(*w, which), first.data());
    int shown = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        shown += top->isVisible() && top->metaObject() == first->metaObject();
    QCOMPARE(shown, 1);

    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 1000);
    QWidget *again = open(*w, which);
    QVERIFY(again && again->isVisible());
}

void TstFPortula::endSavesTheSettings()
{
    {
        auto w = loaded();
        w->clock().selectSpeed(6);
        w->clock().setTime(17, 45);
        w->nEnd->trigger();
        QCOMPARE(m_messages, QStringList());
    }
    auto w = loaded();
    QCOMPARE(w->clock().clockSpeed(), qint16(6));
    QCOMPARE(ClockTimeMath::secondsOfDay(w->clock().clockTime()), 17 * 3600 + 45 * 60);
}

QTEST_MAIN(TstFPortula)
#include "tst_fportula.moc"
