// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowPicture.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <functional>
#include <memory>

namespace {
// A small main window: a status label beside a time display whose digits are
// too large for the glyph cache, as in the real one.
struct Window
{
    Window()
    {
        top.resize(400, 260);
        label = new QLabel(QStringLiteral("Listening"), &top);
        label->setGeometry(4, 4, 120, 20);
        display = new QLineEdit(QStringLiteral("12:34 "), &top);
        display->setGeometry(0, 40, 400, 200);
        display->setReadOnly(true);
        display->setFrame(false);
        display->setTextMargins(130, 0, 0, 0);
        QFont font;
        font.setPixelSize(150);
        font.setBold(true);
        display->setFont(font);
    }
    QImage grabbed() { return top.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    QWidget top;
    QLabel *label = nullptr;
    QLineEdit *display = nullptr;
};
using Change = std::function<void(Window &)>;
}  // namespace

class tst_WindowPicture : public QObject
{
    Q_OBJECT
private slots:
    void sameAsGrabAfterEachChange_data();
    void sameAsGrabAfterEachChange();
};

void tst_WindowPicture::sameAsGrabAfterEachChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::newRow("nothing") << Change([](Window &) {});
    QTest::newRow("a status text") << Change([](Window &w) { w.label->setText(QStringLiteral("192.168.1.20")); });
    QTest::newRow("the model time") << Change([](Window &w) { w.display->setText(QStringLiteral("12:35 ")); });
    QTest::newRow("the time selected") << Change([](Window &w) { w.display->selectAll(); });
    QTest::newRow("the display moved") << Change([](Window &w) { w.display->move(20, 50); });
    QTest::newRow("its margin widened") << Change([](Window &w) { w.display->setTextMargins(180, 0, 0, 0); });
    QTest::newRow("the window resized") << Change([](Window &w) { w.top.resize(420, 280); });
    QTest::newRow("the display hidden") << Change([](Window &w) { w.display->hide(); });
}

// Whatever changed between two seconds, the second picture is the window as
// it is now, never the digits of the second before.
void tst_WindowPicture::sameAsGrabAfterEachChange()
{
    QFETCH(Change, change);
    Window window;
    WindowPicture picture(window.top);
    picture.setTimeDisplay(window.display);
    QCOMPARE(picture.grab().convertToFormat(QImage::Format_RGB32), window.grabbed());
    change(window);
    QCOMPARE(picture.grab().convertToFormat(QImage::Format_RGB32), window.grabbed());
    QCOMPARE(picture.grab().convertToFormat(QImage::Format_RGB32), window.grabbed());
}

QTEST_MAIN(tst_WindowPicture)
#include "tst_windowpicture.moc"
