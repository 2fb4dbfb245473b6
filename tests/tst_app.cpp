// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"
#include "app/WindowPicture.h"
#include "app/FConfig.h"
#include "settings/Settings.h"

#include "QuorandelVersion.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>

Q_DECLARE_METATYPE(CommandLine::Action)

namespace {
// A small main window: a status label beside a time display whose digits are
// too large for the glyph cache, as in the real one.
struct Window
{
    Window()
    {
        top.resize(400, 260);
        label->setGeometry(4, 4, 120, 20);
        display->setGeometry(0, 40, 400, 200);
        display->setReadOnly(true);
        display->setFrame(false);
        display->setTextMargins(130, 0, 0, 0);
        display->setFont(QFont(QString(), 110, QFont::Bold));
    }
    QWidget top;
    QLabel *label = new QLabel("Listening", &top);
    QLineEdit *display = new QLineEdit("12:34 ", &top);
};
using Change = std::function<void(Window &)>;
}  // namespace

class TstApp : public QObject
{
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        using A = CommandLine::Action;
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLine::Action>("action");
        QTest::addColumn<QString>("error");
        QTest::newRow("first of help and version wins") << QStringList{"-v", "-h"} << A::ShowVersion << "";
        QTest::newRow("bad option after help") << QStringList{"--help", "--bogus"} << A::Refuse << "unknown option '--bogus'";
        QTest::newRow("stray argument") << QStringList{"clock"} << A::Refuse << "unexpected argument 'clock'";
        QTest::newRow("Qt options for Qt") << QStringList{"-platform", "offscreen", "--style=fusion", "-reverse"} << A::Run << "";
        QTest::newRow("Qt option without its value") << QStringList{"-v", "-platform"} << A::Refuse << "option '-platform' needs a value";
        QTest::newRow("Qt flag given a value") << QStringList{"-reverse=1"} << A::Refuse << "unknown option '-reverse=1'";
        QTest::newRow("value not taken as an option") << QStringList{"-style", "--help"} << A::Run << "";
        QTest::newRow("headless") << QStringList{"--headless"} << A::Run << "";
        QTest::newRow("headless and version") << QStringList{"--headless", "--version"} << A::ShowVersion << "";
    }
    void commandLine()
    {
        using A = CommandLine::Action;
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Action, action);
        QFETCH(QString, error);
        const CommandLine line = CommandLine::parse(arguments);
        QCOMPARE(line.action(), action);
        QCOMPARE(line.error(), error);
        QCOMPARE(line.headless(), arguments.contains("--headless"));
        if (action == A::Run)
            return;
        // The built program answers, with no display and no platform named,
        // before anything needs a screen.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(QUORANDEL_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(10000) && program.exitStatus() == QProcess::NormalExit);
        const QByteArray help = CommandLine::helpText().toUtf8();
        const QByteArray out = action == A::ShowVersion ? QByteArray("quorandel ") + QuorandelVersion + '\n' : help;
        QCOMPARE(program.exitCode(), action == A::Refuse ? 2 : 0);
        QCOMPARE(program.readAllStandardOutput(), action == A::Refuse ? QByteArray() : out);
        QCOMPARE(program.readAllStandardError(), action == A::Refuse ? "quorandel: " + error.toUtf8() + '\n' + help : QByteArray());
    }

    // Whatever changed between two seconds, the picture is the window as it
    // is now, never the digits of the second before.
    void windowPicture_data()
    {
        QTest::addColumn<Change>("change");
        QTest::newRow("a status text") << Change([](Window &w) { w.label->setText("192.168.1.20"); });
        QTest::newRow("the model time") << Change([](Window &w) { w.display->setText("12:35 "); });
        QTest::newRow("the time selected") << Change([](Window &w) { w.display->selectAll(); });
        QTest::newRow("the display moved") << Change([](Window &w) { w.display->move(20, 50); });
        QTest::newRow("the window resized") << Change([](Window &w) { w.top.resize(420, 280); });
        QTest::newRow("the display hidden") << Change([](Window &w) { w.display->hide(); });
    }
    void windowPicture()
    {
        QFETCH(Change, change);
        Window window;
        WindowPicture picture(window.top);
        picture.setTimeDisplay(window.display);
        const auto grabbed = [&] { return window.top.grab().toImage().convertToFormat(QImage::Format_RGB32); };
        QCOMPARE(picture.grab().convertToFormat(QImage::Format_RGB32), grabbed());
        change(window);
        QCOMPARE(picture.grab().convertToFormat(QImage::Format_RGB32), grabbed());
    }

    // The configuration dialog opened on the settings below, the steps a
    // person takes in it, then Close: what the settings hold then.
    void configuration_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("after");  // index files|port|web root|trim of 5:1|the port's note
        const QString kept = "a|8081|/srv/old|204.5|";
        QTest::newRow("empty middle kept") << "a;;b" << "" << "a;;b|8081|/srv/old|204.5|";
        QTest::newRow("add: empty, same, other case, new") << "a" << "add:;add:a;add:A;add:b.htm;add:b.htm" << "a;A;b.htm|8081|/srv/old|204.5|";
        QTest::newRow("remove the selected") << "a;b;c;d" << "select:1;select:2;remove" << "a;d|8081|/srv/old|204.5|";
        for (auto [typed, taken] : {std::pair{"8080abc", "8080"}, {" 80 8\t0", "8080"}, {"&H50", "80"}, {"0", "8081"},
                                    {"-5", "8081"}, {"http", "8081"}, {"65535", "65535"}})
            QTest::addRow("port %s", typed) << "a" << QString("port:") + typed << QString(kept).replace("8081", taken);
        QTest::newRow("port too high") << "a" << "port:70000" << kept + "Ports go up to 65535";
        QTest::newRow("folders dropped, text not") << "a" << "drop:folders;drop:text" << "a|8081|/srv/first|204.5|";
        QTest::newRow("trim saved as typed") << "a" << "trim: 199 ;save" << "a|8081|/srv/old| 199 |";
        QTest::newRow("trim edits: opening again drops them, Close ignores them") << "a" << "trim:199;open;save;trim:150" << kept;
    }
    void configuration()
    {
        QFETCH(QString, index);
        QFETCH(QString, steps);
        Settings settings{"8081", "/srv/old", index, "", "", "", "", "204.5", "", ""};
        QPointer<FConfig> dialog = new FConfig(settings);  // deletes itself when closed
        QMimeData folders, text;
        folders.setUrls({QUrl::fromLocalFile("/srv/first"), QUrl::fromLocalFile("/srv/second")});
        text.setText("/srv/typed");
        const QHash<QString, std::function<void(const QString &)>> act{
            {"add", [&](const QString &v) { dialog->TIndex->setText(v); dialog->CIndexAdd->click(); }},
            {"select", [&](const QString &v) { dialog->LIndex->item(v.toInt())->setSelected(true); }},
            {"remove", [&](const QString &) { dialog->CIndexRemove->click(); }},
            {"port", [&](const QString &v) { dialog->CPort->setEditText(v); }},
            {"drop", [&](const QString &v) { dialog->TWebRoot_OLEDragDrop(v == "folders" ? &folders : &text); }},
            {"trim", [&](const QString &v) { dialog->TextX[4]->setText(v); }},
            {"open", [&](const QString &) { dialog->putTrims(); }},
            {"save", [&](const QString &) { dialog->SaveTrim->click(); }}};
        dialog->putTrims();
        for (const QString &step : steps.split(u';', Qt::SkipEmptyParts))
            act[step.section(u':', 0, 0)](step.section(u':', 1));
        const QString note = dialog->portNote->text();
        QVERIFY(settings.Config);
        dialog->CSave->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull() && !settings.Config, 1000);
        QTEST(QStringList({settings.IndexHTML, settings.LPort, settings.WebRoot, settings.RatioX5, note}).join('|'), "after");
    }
};

QTEST_MAIN(TstApp)
#include "tst_app.moc"
