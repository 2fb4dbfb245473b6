#include "clock/FPortula.h"

#include "settings/SettingsSequence.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

namespace {
// Design rectangles are in twips; 15 twips make one pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}
}  // namespace

FPortula::FPortula(const AppPaths &paths, QWidget *parent)
    : QMainWindow(parent)
    , m_paths(paths)
    , m_store(paths.settingsFile)
    , m_export(paths.exportFolder, [this] { return grab().toImage(); })
{
    buildControls();
    connect(&m_clock, &ClockEngine::displayChanged, Text1, &QLineEdit::setText);
}

FPortula::~FPortula() = default;

void FPortula::buildControls()
{
    auto *client = new QWidget(this);
    setCentralWidget(client);
    resize(twips(0, 0, 22815, 14025).size());

    Text1 = new QLineEdit(client);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(240, 3840, 20415, 7215));
    StartClock = new QPushButton(QStringLiteral("Start Clock"), client);
    StartClock->setObjectName(QStringLiteral("StartClock"));
    StartClock->setGeometry(twips(5520, 1560, 3565, 1093));
    Stopclock = new QPushButton(QStringLiteral("Stop Clock"), client);
    Stopclock->setObjectName(QStringLiteral("Stopclock"));
    Stopclock->setGeometry(twips(11280, 1440, 3565, 1093));

    connect(StartClock, &QPushButton::clicked, this, &FPortula::StartClock_Click);
    connect(Stopclock, &QPushButton::clicked, this, &FPortula::Stopclock_Click);
}

bool FPortula::Form_Load(QString *error)
{
    applySizeLimits();
    if (!loadSettings(error))
        return false;
    m_clock.timer1().setInterval(0);
    m_broadcast.HaltBroadcast();
    // The web server's listener and the address line follow here.
    setWindowTitle(VersionCaption);
    m_export.start();
    m_broadcast.SetUpBroadcast();
    return true;
}

bool FPortula::loadSettings(QString *error)
{
    const RegistryHive registry = RegistryHive::fromFile(m_paths.registryFile);
    if (!registry.error().isEmpty())
        std::fprintf(stderr, "quorandel: logging switches left off: %s\n", qPrintable(registry.error()));
    LoadHooks hooks;
    hooks.defaultWebRoot = m_paths.exportFolder;
    return LoadSettings(m_store, registry, m_settings, m_clock, hooks, error);
}

// Timer1, Timer3, Timer4, in this order.
void FPortula::StartClock_Click()
{
    m_clock.start();
    m_broadcast.StartBroadcast();
    m_push.StartPush();
}

// Every timer is at rest before the stop marks go out, so none of them can
// slip a rate datagram in after the burst.
void FPortula::Stopclock_Click()
{
    m_clock.stop();
    m_broadcast.HaltBroadcast();
    m_push.StopPush();
    m_broadcast.SendStopBurst(100);
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
