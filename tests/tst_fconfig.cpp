// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FConfig.h"
#include "settings/Settings.h"

#include <QtTest>
#include <QtWidgets>

static QStringList entries(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// The dialog deletes itself when it closes, so the tests make it with new.
class TstFConfig : public QObject
{
    Q_OBJECT
    Settings m_settings;

private slots:
    void indexListRoundTrip_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("two names") << "index.htm;default.html" << QStringList{"index.htm", "default.html"};
        QTest::newRow("empty middle") << "a.htm;;b.htm" << QStringList{"a.htm", "", "b.htm"};
        QTest::newRow("empty list") << "" << QStringList{};
        QTest::newRow("blanks kept") << " a.htm " << QStringList{" a.htm "};
    }
    void indexListRoundTrip()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, shown);
        m_settings.IndexHTML = stored;
        auto *dialog = new FConfig(m_settings);
        QCOMPARE(entries(dialog->LIndex), shown);
        dialog->CSave->click();
        QCOMPARE(m_settings.IndexHTML, stored);
    }

    void addAndRemove()
    {
        m_settings.IndexHTML = "index.htm;a;b";
        auto *dialog = new FConfig(m_settings);
        for (const char *name : {"index.htm", "", "INDEX.HTM", "home.html", "home.html"}) {
            dialog->TIndex->setText(name);
            dialog->CIndexAdd->click();
        }
        QCOMPARE(entries(dialog->LIndex), (QStringList{"index.htm", "a", "b", "INDEX.HTM", "home.html"}));
        dialog->LIndex->item(1)->setSelected(true);
        dialog->LIndex->item(2)->setSelected(true);
        dialog->CIndexRemove->click();
        dialog->CSave->click();
        QCOMPARE(m_settings.IndexHTML, QString("index.htm;INDEX.HTM;home.html"));
    }

    // Read as the classic reader read it: the number the text begins with.
    void closeTakesPort_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("note");
        QTest::newRow("letters after") << "8080abc" << "8080" << false;
        QTest::newRow("blanks inside") << " 80 8\t0" << "8080" << false;
        QTest::newRow("hex") << "&H50" << "80" << false;
        QTest::newRow("zero") << "0" << "8081" << false;
        QTest::newRow("negative") << "-5" << "8081" << false;
        QTest::newRow("letters") << "http" << "8081" << false;
        QTest::newRow("too high") << "70000" << "8081" << true;
        QTest::newRow("highest") << "65535" << "65535" << false;
    }
    void closeTakesPort()
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

    void webRoot()
    {
        m_settings.WebRoot = "/srv/old";
        auto *dialog = new FConfig(m_settings);
        dialog->TWebRoot->clear();
        dialog->CSave->click();
        QCOMPARE(m_settings.WebRoot, QString("/srv/old"));

        dialog = new FConfig(m_settings);
        QMimeData text, folders;
        text.setText("/srv/typed");
        dialog->TWebRoot_OLEDragDrop(&text);
        QCOMPARE(dialog->TWebRoot->text(), QString("/srv/old"));
        folders.setUrls({QUrl::fromLocalFile("/srv/first"), QUrl::fromLocalFile("/srv/second")});
        dialog->TWebRoot_OLEDragDrop(&folders);
        QCOMPARE(dialog->TWebRoot->text(), QString("/srv/first"));
        QCOMPARE(m_settings.WebRoot, QString("/srv/old"));  // until Close
        dialog->CSave->click();
        QCOMPARE(m_settings.WebRoot, QString("/srv/first"));
    }

    void trimsLostWithoutSave()
    {
        m_settings.RatioX5 = "204.5";
        m_settings.RatioX8 = "125.485";
        auto *dialog = new FConfig(m_settings);
        dialog->show();
        dialog->putTrims();
        QCOMPARE(dialog->TextX[6]->text(), QString("125.485"));
        dialog->TextX[4]->setText("199");
        dialog->putTrims();  // opened again without Save
        QCOMPARE(dialog->TextX[4]->text(), QString("204.5"));
        dialog->TextX[4]->setText(" 199 ");
        dialog->SaveTrim->click();
        QCOMPARE(m_settings.RatioX5, QString(" 199 "));
        dialog->TextX[6]->setText("120");
        QVERIFY(m_settings.Config);
        dialog->CSave->click();  // Close does not take the trims
        QCOMPARE(m_settings.RatioX8, QString("125.485"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_settings.Config, 1000);
    }
};

QTEST_MAIN(TstFConfig)
#include "tst_fconfig.moc"
