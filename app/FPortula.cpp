// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FPortula.h"

#include "app/About.h"
#include "app/DesignUnits.h"
#include "app/FConfig.h"
#include "app/LiveCodeWindow.h"
#include "app/StatusPanel.h"
#include "app/WindowIcon.h"
#include "app/frmSetSpeed.h"
#include "app/frmSetTime.h"
#include "look/Olive.h"
#include "platform/Log.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <algorithm>

using DesignUnits::twips;

namespace {
QString buttonStyle(const QColor &color)
{
    return QStringLiteral("QPushButton { background-color: %1; color: black;"
                          " border: 2px outset %1; }"
                          " QPushButton:pressed { border-style: inset; }")
        .arg(color.name());
}

QLineEdit *textBox(QWidget *parent, const QString &name, const QRect &rect, const QFont &font)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(rect);
    box->setFont(font);
    box->setFrame(false);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    DesignUnits::paintBackground(box, QColor(Olive));
    return box;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &caption, const QRect &rect,
                    const QColor &color)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(rect);
    b->setFont(DesignUnits::font(18));
    b->setStyleSheet(buttonStyle(color));
    return b;
}

// Each of the other windows exists once: showing it again brings the open one
// to the front; only a closed (and so deleted) one is made afresh.
template <class Window, class Make>
Window *showOnce(QPointer<Window> &window, Make make)
{
    if (!window) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
}  // namespace

FPortula::FPortula(const AppPaths &paths, QWidget *parent)
    : QMainWindow(parent)
    , Picture1(new StatusPanel(nullptr))
    , m_message(messageBoxSink(this, VersionCaption))
    , m_master(paths, *Picture1, [this] { return m_picture.grab(); }, VersionCaption)
{
    setWindowIcon(quorandelIcon());
    buildControls();
    connect(&m_master.clock(), &ClockEngine::displayChanged, Text1, &QLineEdit::setText);
    connect(&m_master, &MasterClock::statusShown, Picture1, &StatusPanel::showTopic);
}

// The dialog keeps the settings' `Config` flag; it must go before they do.
FPortula::~FPortula()
{
    delete m_config;
}

void FPortula::buildControls()
{
    buildMenu();
    auto *client = new QWidget(this);
    DesignUnits::paintBackground(client, QColor(Olive));
    setCentralWidget(client);
    const QSize design = twips(0, 0, 22815, 14025).size();
    resize(design.width(), design.height() + menuBar()->sizeHint().height());

    Text2 = textBox(client, QStringLiteral("Text2"), twips(0, 0, 20415, 660), DesignUnits::font(30));
    buildButtons(client);
    Picture1->setParent(client);
    Picture1->show();
    Picture1->installEventFilter(this);
    buildTimeDisplay(client);
    // The panel overlaps the left end of the time display; its labels must
    // stay readable, and the digits are laid out beside it.
    Picture1->raise();

    Picture2 = new QLabel(client);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(twips(0, 0, 20415, 12975));
    DesignUnits::paintBackground(Picture2, QColor(Olive));
    Picture2->hide();
}

void FPortula::buildButtons(QWidget *client)
{
    StartClock = button(client, QStringLiteral("StartClock"), QStringLiteral("Start Clock"),
                        twips(5520, 1560, 3565, 1093), QColor(0, 128, 0));
    Stopclock = button(client, QStringLiteral("Stopclock"), QStringLiteral("Stop Clock"),
                       twips(11280, 1440, 3565, 1093), QColor(192, 0, 0));
    connect(StartClock, &QPushButton::clicked, this, &FPortula::StartClock_Click);
    connect(Stopclock, &QPushButton::clicked, this, &FPortula::Stopclock_Click);
}

void FPortula::buildTimeDisplay(QWidget *client)
{
    Text1 = textBox(client, QStringLiteral("Text1"), twips(240, 3840, 20415, 7215), QFont());
    Text1->setAlignment(Qt::AlignCenter);
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Text, Qt::black);
    Text1->setPalette(palette);

    // The digits go into the part of the box that is neither under the panel
    // nor beyond the widest the window may be.
    const QRect box = Text1->geometry();
    const int gap = 8;
    const int left = std::max(0, Picture1->geometry().right() + 1 - box.left() + gap);
    const int right = std::max(0, box.right() + 1 - MaxOuterWidth + gap);
    Text1->setTextMargins(left, 0, right, 0);

    // The design asked for 350.25 pt of "Arial Narrow" bold; the same face at
    // whatever size makes "hh:mm " fill the free width without leaving the box.
    QFont font = DesignUnits::font(350.25, true, QStringLiteral("Liberation Sans Narrow"));
    const QFontMetricsF metrics(font);
    const double byWidth = (box.width() - left - right - 8) / metrics.horizontalAdvance(QStringLiteral("00:00 "));
    const double byHeight = box.height() * 0.85 / metrics.capHeight();
    font.setPixelSize(int(font.pixelSize() * std::min(byWidth, byHeight)));
    Text1->setFont(font);
    m_picture.setTimeDisplay(Text1);
}

void FPortula::buildMenu()
{
    MConfig = menuBar()->addAction(QStringLiteral("Configuration"), this, &FPortula::MConfig_Click);
    nFast = menuBar()->addAction(QStringLiteral("Set Quorandel"), this, &FPortula::nFast_Click);
    nEnd = menuBar()->addAction(QStringLiteral("End and Save Settings"), this, &FPortula::nEnd_Click);
    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    nHelp = help->addAction(QStringLiteral("About Quorandel"), this, &FPortula::nHelp_Click);
    nCode = help->addAction(QStringLiteral("Show the Live Page's Code"), this, &FPortula::nCode_Click);
    MConfig->setObjectName(QStringLiteral("MConfig"));
    nFast->setObjectName(QStringLiteral("nFast"));
    nEnd->setObjectName(QStringLiteral("nEnd"));
    nHelp->setObjectName(QStringLiteral("nHelp"));
    nCode->setObjectName(QStringLiteral("nCode"));
}

bool FPortula::Form_Load(QString *error)
{
    applySizeLimits();
    if (!m_master.loadSettings([this] { loadConfig()->putTrims(); }, error))
        return false;
    m_master.startPublishing();
    setWindowTitle(VersionCaption);
    Text2->setText(QStringLiteral("Quorandel Web Server is %1:%2")
                       .arg(m_master.web().localIP(), m_master.settings().LPort));
    return true;
}

void FPortula::StartClock_Click()
{
    m_master.clock().start();
}

void FPortula::Stopclock_Click()
{
    m_master.clock().stop();
}

// The dialog is created hidden at start-up; after its Close it is created
// afresh from the settings.
FConfig *FPortula::loadConfig()
{
    if (!m_config)
        m_config = new FConfig(m_master.settings(), this);
    return m_config;
}

void FPortula::MConfig_Click()
{
    FConfig *config = loadConfig();
    config->show();
    config->raise();
    config->activateWindow();
    config->putTrims();
}

void FPortula::nFast_Click()
{
    showOnce(m_setSpeed, [this] {
        auto *dialog = new frmSetSpeed(m_master.clock(), this);
        connect(dialog, &frmSetSpeed::doneClicked, this, &FPortula::showSetTime);
        return dialog;
    });
}

void FPortula::showSetTime()
{
    showOnce(m_setTime, [this] {
        return new frmSetTime(m_master.clock(), [this](const QString &text) { showMessage(text); }, this);
    });
}

void FPortula::nHelp_Click()
{
    showOnce(m_about, [this] { return new About(VersionCaption, this); });
}

void FPortula::nCode_Click()
{
    showOnce(m_code, [this] { return new LiveCodeWindow(m_master.livePageAddress(), this); });
}

void FPortula::nEnd_Click()
{
    ShutDown(ExitVariant::MenuCommand);
}

void FPortula::closeEvent(QCloseEvent *event)
{
    ShutDown(ExitVariant::WindowClosed);
    event->accept();
}

// NOTE: this runs to its end, so no tick, request or click runs between the
// steps. The two variants differ in the size of the stop burst and its place:
// the menu command tells the remote clocks right after saving, a closed window
// just before the end. The burst halts every clock timer first: the stop marks
// must be the last word to the remote clocks.
void FPortula::ShutDown(ExitVariant variant)
{
    if (m_shutDownDone)
        return;
    m_shutDownDone = true;
    const bool saved = m_master.saveSettings(&m_shutDownError);
    if (variant == ExitVariant::MenuCommand)
        m_master.finish(100);
    m_master.closeLog();
    if (m_master.settings().Config)
        delete m_config;
    if (variant == ExitVariant::WindowClosed)
        m_master.finish(10);
    if (!saved)
        reportSaveFailure();
    if (m_endProgram)
        m_endProgram(saved ? 0 : 1);
    else
        QCoreApplication::exit(saved ? 0 : 1);
}

// The remote clocks already know the clock stopped; the person must learn
// that this run's settings are lost.
void FPortula::reportSaveFailure()
{
    qCWarning(lcQuorandel, "the settings were not stored: %s", qUtf8Printable(m_shutDownError));
    showMessage(QStringLiteral("The settings were not stored: %1").arg(m_shutDownError));
}

frmSetSpeed *FPortula::setSpeedWindow() const { return m_setSpeed; }
frmSetTime *FPortula::setTimeWindow() const { return m_setTime; }
About *FPortula::aboutWindow() const { return m_about; }
LiveCodeWindow *FPortula::codeWindow() const { return m_code; }
FConfig *FPortula::configWindow() const { return m_config; }

bool FPortula::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Picture1 && event->type() == QEvent::Resize)
        applySizeLimits();
    return QMainWindow::eventFilter(watched, event);
}

void FPortula::applySizeLimits()
{
    const QRect outer = frameGeometry();
    const int extraWidth = outer.width() - width();
    const int extraHeight = outer.height() - height();
    if (outer.width() >= MaxOuterWidth)
        resize(MaxOuterWidth - extraWidth, height());
    if (frameGeometry().height() >= MaxOuterHeight)
        resize(width(), MaxOuterHeight - extraHeight);
}
