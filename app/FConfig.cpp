// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FConfig.h"

#include "settings/LeadingNumber.h"
#include "settings/Settings.h"
#include "settings/StoredNumber.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char *const kTrimLabels[] = {"ClockSpeed X1 Trim", "Clockspeed X2 Trim", "Clockspeed X3 Trim",
                                   "Clockspeed X4 Trim", "Clockspeed X5 Trim", "Clockspeed X6 Trim",
                                   "Clockspeed X8 Trim"};
}

FConfig::FConfig(Settings &settings, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_settings(settings)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Quorandel Config"));
    buildControls();
    Form_Load();
}

FConfig::~FConfig()
{
    Form_Unload();
}

void FConfig::buildControls()
{
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(buildServerGroups());
    layout->addWidget(buildTrimGroup());
}

QWidget *FConfig::buildServerGroups()
{
    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    auto *fPort = new QGroupBox(QStringLiteral("Port"), column);
    CPort = new QComboBox(fPort);
    CPort->setEditable(true);
    CPort->addItems({QStringLiteral("80"), QStringLiteral("8080")});
    portNote = new QLabel(fPort);
    auto *portRow = new QHBoxLayout(fPort);
    portRow->addWidget(CPort);
    portRow->addWidget(portNote);
    connect(CPort, &QComboBox::editTextChanged, this, &FConfig::showPortNote);

    auto *fWebRoot = new QGroupBox(QStringLiteral("Web Root"), column);
    TWebRoot = new QLineEdit(fWebRoot);
    TWebRoot->setAcceptDrops(true);
    TWebRoot->installEventFilter(this);
    (new QVBoxLayout(fWebRoot))->addWidget(TWebRoot);

    auto *fIndex = new QGroupBox(QStringLiteral("HTML Index"), column);
    TIndex = new QLineEdit(fIndex);
    CIndexAdd = new QPushButton(QStringLiteral("Add"), fIndex);
    LIndex = new QListWidget(fIndex);
    LIndex->setSelectionMode(QAbstractItemView::ExtendedSelection);
    CIndexRemove = new QPushButton(QStringLiteral("Remove"), fIndex);
    auto *indexLayout = new QVBoxLayout(fIndex);
    for (QWidget *w : {static_cast<QWidget *>(TIndex), static_cast<QWidget *>(CIndexAdd),
                       static_cast<QWidget *>(LIndex), static_cast<QWidget *>(CIndexRemove)})
        indexLayout->addWidget(w);
    connect(CIndexAdd, &QPushButton::clicked, this, &FConfig::CIndexAdd_Click);
    connect(CIndexRemove, &QPushButton::clicked, this, &FConfig::CIndexRemove_Click);

    for (QWidget *w : {static_cast<QWidget *>(fPort), static_cast<QWidget *>(fWebRoot), static_cast<QWidget *>(fIndex)})
        layout->addWidget(w);
    return column;
}

QWidget *FConfig::buildTrimGroup()
{
    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    auto *form = new QFormLayout;
    for (size_t i = 0; i < TextX.size(); ++i) {
        TextX[i] = new QLineEdit(column);
        auto *label = new QLabel(QString::fromLatin1(kTrimLabels[i]), column);
        label->setObjectName(QStringLiteral("LabelX%1").arg(OfferedSpeeds::All[i]));
        form->addRow(label, TextX[i]);
    }
    SaveTrim = new QPushButton(QStringLiteral("Save Trim Settings"), column);
    CSave = new QPushButton(QStringLiteral("Close"), column);
    layout->addLayout(form);
    layout->addWidget(SaveTrim);
    layout->addStretch();
    layout->addWidget(CSave);
    connect(SaveTrim, &QPushButton::clicked, this, &FConfig::SaveTrim_Click);
    connect(CSave, &QPushButton::clicked, this, &FConfig::CSave_Click);
    return column;
}

void FConfig::Form_Load()
{
    m_settings.Config = true;
    CPort->setEditText(m_settings.LPort);
    TWebRoot->setText(m_settings.WebRoot);
    // Empty pieces stay entries of their own, so the list gives back the same
    // text on Close.
    if (!m_settings.IndexHTML.isEmpty())
        LIndex->addItems(m_settings.IndexHTML.split(u';'));
}

void FConfig::Form_Unload()
{
    m_settings.Config = false;
}

// Every opening shows the trims as last saved, dropping unsaved edits.
void FConfig::putTrims()
{
    const auto t = m_settings.trims();
    for (size_t i = 0; i < TextX.size(); ++i)
        TextX[i]->setText(*t[i]);
}

void FConfig::CIndexAdd_Click()
{
    const QString name = TIndex->text();
    if (name.isEmpty())
        return;
    for (int i = 0; i < LIndex->count(); ++i) {
        if (LIndex->item(i)->text() == name)
            return;
    }
    LIndex->addItem(name);
}

void FConfig::CIndexRemove_Click()
{
    for (int i = 0; i < LIndex->count();) {
        if (LIndex->item(i)->isSelected())
            delete LIndex->takeItem(i);
        else
            ++i;
    }
}

void FConfig::TWebRoot_OLEDragDrop(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty() || !data->urls().first().isLocalFile())
        return;
    TWebRoot->setText(data->urls().first().toLocalFile());
}

bool FConfig::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != TWebRoot)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (drag->mimeData()->hasUrls())
            drag->acceptProposedAction();
        return drag->mimeData()->hasUrls();
    }
    if (event->type() == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        TWebRoot_OLEDragDrop(drop->mimeData());
        drop->acceptProposedAction();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FConfig::SaveTrim_Click()
{
    const auto t = m_settings.trims();
    for (size_t i = 0; i < TextX.size(); ++i)
        *t[i] = TextX[i]->text();
}

void FConfig::showPortNote()
{
    const bool tooHigh = leadingNumber(CPort->currentText()) > MaxPort;
    portNote->setText(tooHigh ? QStringLiteral("Ports go up to %1").arg(MaxPort) : QString());
}

void FConfig::CSave_Click()
{
    QStringList names;
    for (int i = 0; i < LIndex->count(); ++i)
        names << LIndex->item(i)->text();
    m_settings.IndexHTML = names.join(u';');
    const double port = leadingNumber(CPort->currentText());
    if (port > 0 && port <= MaxPort)
        m_settings.LPort = numberText(port);
    if (!TWebRoot->text().isEmpty())
        m_settings.WebRoot = TWebRoot->text();
    close();
}
