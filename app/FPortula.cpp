// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FPortula.h"

#include "app/About.h"
#include "clock/ClockTime.h"
#include "app/DesignUnits.h"
#include "app/WindowIcon.h"
#include "app/frmSetSpeed.h"
#include "app/frmSetTime.h"
#include "platform/Log.h"
#include "settings/FConfig.h"
#include "settings/SettingsSequence.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include <algorithm>

using DesignUnits::twips;

namespace {
const int LabelStep = DesignUnits::twipsToPixels(240);

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
    DesignUnits::paintBackground(box, DesignUnits::Olive);
    return box;
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
    , m_paths(paths)
    , m_store(paths.settingsFile)
    , m_message(messageBoxSink(this, VersionCaption))
    , m_export(paths.exportFolder, [this] { return m_picture.grab(); })
{
    setWindowIcon(quorandelIcon());
    buildControls();
    m_statusRefresh.setSingleShot(true);
    m_statusRefresh.setInterval(StatusRefreshMs);
    connect(&m_statusRefresh, &QTimer::timeout, this, &FPortula::showSlotTexts);
    connect(&m_clock, &ClockEngine::displayChanged, Text1, &QLineEdit::setText);
    m_clock.addPublication(m_broadcast);
    m_clock.addPublication(m_push);
    connect(&m_clock, &ClockEngine::changed, this, &FPortula::tellFollowers);
    connect(&m_clock, &ClockEngine::minuteChanged, &m_live, &LiveClock::minuteChanged);
    connect(&m_fastClock, &FastClockMulticast::sendFailed, this,
            [](const QString &reason) { qCWarning(lcQuorandel, "%s", qUtf8Printable(reason)); });
    wireLcc();
}

// The layout network hears every change and every model minute the other
// followers hear; its set events are noted as the web control's commands are.
void FPortula::wireLcc()
{
    connect(&m_clock, &ClockEngine::changed, &m_lcc, &BroadcastTimeProducer::clockChanged);
    connect(&m_clock, &ClockEngine::minuteChanged, &m_lcc, &BroadcastTimeProducer::clockTicked);
    connect(&m_lcc, &BroadcastTimeProducer::problem, this,
            [](const QString &text) { qCWarning(lcQuorandel, "%s", qUtf8Printable(text)); });
    connect(&m_lcc, &BroadcastTimeProducer::notice, this,
            [](const QString &text) { qCInfo(lcQuorandel, "%s", qUtf8Printable(text)); });
    connect(&m_lcc, &BroadcastTimeProducer::controlNote, this,
            [this](const QByteArray &peer, const QByteArray &what, bool refused) {
                const QByteArray line = "control " + what;
                m_log.WriteLog(RequestLog::noteLine(QDateTime::currentDateTime(), peer, line));
                if (refused)
                    qCWarning(lcQuorandel, "%s: %s", peer.constData(), line.constData());
                else
                    qCInfo(lcQuorandel, "%s: %s", peer.constData(), line.constData());
            });
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
    DesignUnits::paintBackground(client, DesignUnits::Olive);
    setCentralWidget(client);
    const QSize design = twips(0, 0, 22815, 14025).size();
    resize(design.width(), design.height() + menuBar()->sizeHint().height());

    Text2 = textBox(client, QStringLiteral("Text2"), twips(0, 0, 20415, 660),
                    DesignUnits::font(30));
    buildButtons(client);
    buildStatusPanel(client);
    buildTimeDisplay(client);
    // The panel overlaps the left end of the time display; its labels must
    // stay readable, and the digits are laid out beside it.
    Picture1->raise();

    Picture2 = new QLabel(client);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(twips(0, 0, 20415, 12975));
    DesignUnits::paintBackground(Picture2, DesignUnits::Olive);
    Picture2->hide();
}

void FPortula::buildButtons(QWidget *client)
{
    StartClock = new QPushButton(QStringLiteral("Start Clock"), client);
    StartClock->setObjectName(QStringLiteral("StartClock"));
    StartClock->setGeometry(twips(5520, 1560, 3565, 1093));
    StartClock->setFont(DesignUnits::font(18));
    StartClock->setStyleSheet(buttonStyle(QColor(0, 128, 0)));
    Stopclock = new QPushButton(QStringLiteral("Stop Clock"), client);
    Stopclock->setObjectName(QStringLiteral("Stopclock"));
    Stopclock->setGeometry(twips(11280, 1440, 3565, 1093));
    Stopclock->setFont(DesignUnits::font(18));
    Stopclock->setStyleSheet(buttonStyle(QColor(192, 0, 0)));
    connect(StartClock, &QPushButton::clicked, this, &FPortula::StartClock_Click);
    connect(Stopclock, &QPushButton::clicked, this, &FPortula::Stopclock_Click);
}

void FPortula::buildStatusPanel(QWidget *client)
{
    Picture1 = new QFrame(client);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twips(120, 960, 2355, 10395));
    DesignUnits::paintBackground(Picture1, DesignUnits::Olive);
    Picture1->installEventFilter(this);

    // Element 0 is as wide as the panel, not as its design box, so that the
    // longer texts of a transfer can be read.
    auto *first = new QLabel(QStringLiteral("(No Connection)"), Picture1);
    first->setObjectName(QStringLiteral("LFileProgress0"));
    first->setGeometry(0, 0, Picture1->width(), twips(0, 0, 1155, 195).height());
    first->setFont(DesignUnits::font(8.25));
    first->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette look = first->palette();
    look.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    look.setColor(QPalette::WindowText, Qt::black);
    first->setPalette(look);
    first->setAutoFillBackground(true);
    m_fileProgress.append(first);
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
    nHelp = menuBar()->addAction(QStringLiteral("Help"), this, &FPortula::nHelp_Click);
    MConfig->setObjectName(QStringLiteral("MConfig"));
    nFast->setObjectName(QStringLiteral("nFast"));
    nEnd->setObjectName(QStringLiteral("nEnd"));
    nHelp->setObjectName(QStringLiteral("nHelp"));
}

bool FPortula::Form_Load(QString *error)
{
    applySizeLimits();
    if (!loadSettings(error))
        return false;
    readExtensionSettings();
    m_clock.timer1().setInterval(0);
    m_broadcast.HaltBroadcast();
    // A port that cannot be bound is shown in the status panel; the clock and
    // its broadcasts run on without the web server.
    m_web.startListening();
    setWindowTitle(VersionCaption);
    Text2->setText(QStringLiteral("Quorandel Web Server is %1:%2").arg(m_web.localIP(), m_settings.LPort));
    m_export.start();
    m_broadcast.SetUpBroadcast();
    m_live.install();
    m_fastClock.start();
    m_lcc.start();
    return true;
}

// Problems in the file are told once each and never stop the program.
void FPortula::readExtensionSettings()
{
    for (const QString &warning : std::as_const(m_extension.warnings))
        qCWarning(lcQuorandel, "%s", qUtf8Printable(warning));
    m_push.setDevice(m_extension.display.address, m_extension.display.port);
}

// The live page's streams and the slave clocks hear of a start, a stop, a
// speed or a time set at once, after the click that made it has done its work.
void FPortula::tellFollowers(const ClockSnapshot &)
{
    m_live.clockChanged();
    m_fastClock.changed();
}

ClockSnapshot FPortula::clockSnapshot() const
{
    return m_clock.snapshot();
}

// What the speed dialog's option does.
void FPortula::setSpeed(qint16 speed)
{
    m_clock.setSpeed(speed);
}

// What the time dialog's Set does with accepted entries.
void FPortula::setTimeAndHold(int hour, int minute)
{
    m_clock.setTimeAndHold(hour, minute);
}

bool FPortula::loadSettings(QString *error)
{
    const RegistryHive registry = RegistryHive::fromFile(m_paths.registryFile);
    if (!registry.error().isEmpty())
        qCWarning(lcQuorandel, "logging switches left off: %s", qUtf8Printable(registry.error()));
    LoadHooks hooks;
    hooks.defaultWebRoot = m_paths.exportFolder;
    hooks.openRequestLog = [this] {
        return m_log.open(requestLogFolder(m_paths.executableFolder) + QStringLiteral("/PortulaLog.txt"));
    };
    hooks.putTrimsIntoConfig = [this] { loadConfig()->putTrims(); };
    return LoadSettings(m_store, registry, m_settings, m_clock, hooks, error);
}

void FPortula::StartClock_Click()
{
    m_clock.start();
}

void FPortula::Stopclock_Click()
{
    haltClockTimers();
    m_broadcast.SendStopBurst(100);
}

// Every timer is at rest before stop marks go out, so none of them can slip a
// datagram in after the burst.
void FPortula::haltClockTimers()
{
    m_clock.stop();
}

// The dialog is created hidden at start-up; after its Close it is created
// afresh from the settings.
FConfig *FPortula::loadConfig()
{
    if (!m_config)
        m_config = new FConfig(m_settings, this);
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
        auto *dialog = new frmSetSpeed(m_clock, this);
        connect(dialog, &frmSetSpeed::doneClicked, this, &FPortula::showSetTime);
        return dialog;
    });
}

void FPortula::showSetTime()
{
    showOnce(m_setTime, [this] {
        return new frmSetTime(m_clock, [this](const QString &text) { showMessage(text); }, this);
    });
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
// steps. The two variants differ in the size of the burst and its place: the
// menu command tells the remote clocks right after saving, a closed window
// just before the end. The clock's timers are halted first: the stop marks
// must be the last word to the remote clocks.
void FPortula::ShutDown(ExitVariant variant)
{
    if (m_shutDownDone)
        return;
    m_shutDownDone = true;
    haltClockTimers();
    const bool saved = SaveSettings(m_store, m_settings, m_clock, &m_shutDownError);
    if (variant == ExitVariant::MenuCommand)
        m_broadcast.SendStopBurst(100);
    if (m_settings.LogOpen)
        m_log.close();
    if (m_settings.Config)
        delete m_config;
    if (variant == ExitVariant::WindowClosed)
        m_broadcast.SendStopBurst(10);
    m_fastClock.stop();
    m_lcc.stop();
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

QString FPortula::livePageAddress() const
{
    return QStringLiteral("http://%1:%2/quorandel/").arg(m_web.localIP()).arg(m_web.localPort());
}

void FPortula::nHelp_Click()
{
    showOnce(m_about, [this] { return new About(VersionCaption, this); });
}

frmSetSpeed *FPortula::setSpeedWindow() const
{
    return m_setSpeed;
}

frmSetTime *FPortula::setTimeWindow() const
{
    return m_setTime;
}

About *FPortula::aboutWindow() const
{
    return m_about;
}

FConfig *FPortula::configWindow() const
{
    return m_config;
}

QLabel *FPortula::LFileProgress(int index)
{
    if (index < 0)
        return nullptr;
    if (index >= m_fileProgress.size())
        m_fileProgress.resize(index + 1, nullptr);
    if (QLabel *label = m_fileProgress[index])
        return label;
    const QLabel *first = m_fileProgress[0];
    auto *label = new QLabel(Picture1);
    label->setObjectName(QStringLiteral("LFileProgress%1").arg(index));
    label->setGeometry(first->x(), index * LabelStep, first->width(), first->height());
    label->setFont(first->font());
    label->setPalette(first->palette());
    label->setAutoFillBackground(first->autoFillBackground());
    label->setAlignment(first->alignment());
    label->show();
    m_fileProgress[index] = label;
    return label;
}

// A new slot's line starts as a copy of the listener's, text included.
void FPortula::loadSlot(int slot)
{
    if (LFileProgress(slot))
        setSlotText(slot, slotText(0));
}

QString FPortula::slotText(int slot) const
{
    if (m_waitingTexts.contains(slot))
        return m_waitingTexts.value(slot);
    return slot >= 0 && slot < m_fileProgress.size() && m_fileProgress[slot] ? m_fileProgress[slot]->text()
                                                                             : QString();
}

void FPortula::setSlotText(int slot, const QString &text)
{
    QLabel *label = LFileProgress(slot);
    if (!label)
        return;
    if (m_statusRefresh.isActive()) {
        m_waitingTexts.insert(slot, text);
        return;
    }
    label->setText(text);
    label->setToolTip(text);  // a long transfer line is cut at the panel's edge
    m_statusRefresh.start();
}

void FPortula::showSlotTexts()
{
    if (m_waitingTexts.isEmpty())
        return;
    for (auto it = m_waitingTexts.cbegin(); it != m_waitingTexts.cend(); ++it) {
        m_fileProgress[it.key()]->setText(it.value());
        m_fileProgress[it.key()]->setToolTip(it.value());
    }
    m_waitingTexts.clear();
    m_statusRefresh.start();
}

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
