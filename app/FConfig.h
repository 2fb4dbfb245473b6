// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMimeData;
class QPushButton;
struct Settings;

// The configuration dialog: port, web root, index file names and the seven
// speed trims. It edits the settings in memory only; what it changes reaches
// the store at the next orderly exit. Modeless; it exists from start-up
// (hidden) until its Close or its close box, and `Config` says whether it does.
class FConfig : public QWidget
{
    Q_OBJECT
public:
    static constexpr int MaxPort = 65535;

    // Creating the dialog is its load: it fills itself from the settings.
    explicit FConfig(Settings &settings, QWidget *parent = nullptr);
    ~FConfig() override;

    void putTrims();
    void CIndexAdd_Click();
    void CIndexRemove_Click();
    void TWebRoot_OLEDragDrop(const QMimeData *data);
    void SaveTrim_Click();
    void CSave_Click();

    QComboBox *CPort = nullptr;
    QLabel *portNote = nullptr;
    QLineEdit *TWebRoot = nullptr;
    QLineEdit *TIndex = nullptr;
    QPushButton *CIndexAdd = nullptr;
    QListWidget *LIndex = nullptr;
    QPushButton *CIndexRemove = nullptr;
    // TextX1 .. TextX6, then TextX8: there is no speed 7.
    std::array<QLineEdit *, 7> TextX{};
    QPushButton *SaveTrim = nullptr;
    QPushButton *CSave = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void Form_Unload();
    void buildControls();
    QWidget *buildServerGroups();
    QWidget *buildTrimGroup();
    void showPortNote();

    Settings &m_settings;
};
