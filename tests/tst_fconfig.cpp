#include "settings/FConfig.h"
#include "settings/LeadingNumber.h"
#include "settings/Settings.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QtTest>

namespace {
QStringList entries(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}
}  // namespace

class TstFConfig : public QObject
{
    Q_OBJECT
private slots:
    void leadingNumber_data();
    void leadingNumber();
    void indexListRoundTrip_data();
    void indexListRoundTrip();
    void addKeepsNamesUnique();
    void removeEverySelected();
    void closeTakesPort_data();
    void closeTakesPort();
    void webRootField();
    void trimsNeedSave();
    void configFollowsLife();

private:
    Settings m_settings;
};

void TstFConfig::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("letters after") << "8080abc" << 8080.0;
    QTest::newRow("leading blank") << " 80" << 80.0;
    QTest::newRow("blanks inside") << "80 8\t0" << 8080.0;
    QTest::newRow("hex") << "&H50" << 80.0;
    QTest::newRow("hex 16-bit wraps") << "&HFFFF" << -1.0;
    QTest::newRow("octal") << "&o120" << 80.0;
    QTest::newRow("point") << "80.5x" << 80.5;
    QTest::newRow("exponent") << "8e3" << 8000.0;
    QTest::newRow("dangling exponent") << "80e" << 80.0;
    QTest::newRow("negative") << "-5" << -5.0;
    QTest::newRow("letters only") << "port" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
}

void TstFConfig::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(::leadingNumber(text), value);
}

void TstFConfig::indexListRoundTrip_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("two names") << "index.htm;default.html" << QStringList{"index.htm", "default.html"};
    QTest::newRow("empty middle") << "a.htm;;b.htm" << QStringList{"a.htm", "", "b.htm"};
    QTest::newRow("empty list") << "" << QStringList{};
    QTest::newRow("blanks kept") << " a.htm " << QStringList{" a.htm "};
}

void TstFConfig::indexListRoundTrip()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, shown);
    m_settings.IndexHTML = stored;
    auto *dialog = new FConfig(m_settings);
    QCOMPARE(entries(dialog->LIndex), shown);
    dialog->CSave->click();
    QCOMPARE(m_settings.IndexHTML, stored);
}

void TstFConfig::addKeepsNamesUnique()
{
    m_settings.IndexHTML = "index.htm";
    FConfig dialog(m_settings);
    for (const char *name : {"index.htm", "", "INDEX.HTM", "home.html", "home.html"}) {
        dialog.TIndex->setText(name);
        dialog.CIndexAdd->click();
    }
    QCOMPARE(entries(dialog.LIndex), (QStringList{"index.htm", "INDEX.HTM", "home.html"}));
    QCOMPARE(dialog.TIndex->text(), QString("home.html"));
}

void TstFConfig::removeEverySelected()
{
    m_settings.IndexHTML = "a;b;c;d";
    FConfig dialog(m_settings);
    dialog.CIndexRemove->click();
    QCOMPARE(entries(dialog.LIndex).size(), 4);
    dialog.LIndex->item(1)->setSelected(true);
    dialog.LIndex->item(2)->setSelected(true);
    dialog.CIndexRemove->click();
    QCOMPARE(entries(dialog.LIndex), (QStringList{"a", "d"}));
}

void TstFConfig::closeTakesPort_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("note");
    QTest::newRow("letters after") << "8080abc" << "8080" << false;
    QTest::newRow("leading blank") << " 80" << "80" << false;
    QTest::newRow("hex") << "&H50" << "80" << false;
    QTest::newRow("zero") << "0" << "8081" << false;
    QTest::newRow("negative") << "-5" << "8081" << false;
    QTest::newRow("letters") << "http" << "8081" << false;
    QTest::newRow("too high") << "70000" << "8081" << true;
    QTest::newRow("highest") << "65535" << "65535" << false;
}

void TstFConfig::closeTakesPort()
{
    QFETCH(QString, typed);
    QFETCH(QString, port);
    QFETCH(bool, note);
    m_settings.LPort = "8081";
    auto *dialog = new FConfig(m_settings);
    QCOMPARE(dialog->CPort->currentText(), QString("8081"));
    dialog->CPort->setEditText(typed);
    QCOMPARE(!dialog->portNote->text().isEmpty(), note);
    dialog->CSave->click();
    QCOMPARE(m_settings.LPort, port);
}

void TstFConfig::webRootField()
{
    m_settings.WebRoot = "/srv/old";
    auto *dialog = new FConfig(m_settings);
    dialog->TWebRoot->clear();
    dialog->CSave->click();
    QCOMPARE(m_settings.WebRoot, QString("/srv/old"));

    dialog = new FConfig(m_settings);
    QMimeData text;
    text.setText("/srv/typed");
    dialog->TWebRoot_OLEDragDrop(&text);
    QCOMPARE(dialog->TWebRoot->text(), QString("/srv/old"));
    QMimeData folders;
    folders.setUrls({QUrl::fromLocalFile("/srv/first"), QUrl::fromLocalFile("/srv/second")});
    dialog->TWebRoot_OLEDragDrop(&folders);
    QCOMPARE(dialog->TWebRoot->text(), QString("/srv/first"));
    QCOMPARE(m_settings.WebRoot, QString("/srv/old"));  // applied by Close only
    dialog->CSave->click();
    QCOMPARE(m_settings.WebRoot, QString("/srv/first"));
}

void TstFConfig::trimsNeedSave()
{
    m_settings.RatioX5 = "204.5";
    m_settings.RatioX8 = "125.485";
    auto *dialog = new FConfig(m_settings);
    dialog->putTrims();
    QCOMPARE(dialog->TextX[6]->text(), QString("125.485"));
    dialog->TextX[4]->setText("199");
    dialog->putTrims();  // reopened without saving
    QCOMPARE(dialog->TextX[4]->text(), QString("204.5"));
    dialog->TextX[4]->setText(" 199 ");
    dialog->SaveTrim->click();
    QCOMPARE(m_settings.RatioX5, QString(" 199 "));
    dialog->TextX[6]->setText("120");
    dialog->CSave->click();  // Close does not take the trims
    QCOMPARE(m_settings.RatioX8, QString("125.485"));
}

void TstFConfig::configFollowsLife()
{
    m_settings.Config = false;
    QPointer<FConfig> dialog = new FConfig(m_settings);
    QVERIFY(m_settings.Config);
    dialog->show();
    dialog->close();  // the close box applies nothing
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(!m_settings.Config);
}

QTEST_MAIN(TstFConfig)
#include "tst_fconfig.moc"
