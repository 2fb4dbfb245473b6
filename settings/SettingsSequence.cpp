#include "settings/SettingsSequence.h"

#include "clock/ClockEngine.h"
#include "platform/RegistryHive.h"
#include "settings/RegMod.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "settings/StoredNumber.h"

#include <array>
#include <cmath>

namespace {

enum Field {
    ClockSpeedField, DLogField, FLogField, IndexHTMLField, LogCField, LogEField, ClockTimeField,
    LPortField, RatioX1Field, RatioX2Field, RatioX3Field, RatioX4Field, RatioX5Field,
    RatioX6Field, RatioX8Field, WebRootField,
};

const std::array<double, 7> kDefaultTrims = {1000, 500.2, 349.54, 253, 204.5, 175, 125.485};

// Converts each stored value to the kind of its variable, collecting the first
// problem as a message.
class FieldReader
{
public:
    explicit FieldReader(const SettingsStore &store) : m_store(store) {}
    QString error() const { return m_error; }

    QVariant value(int pos)
    {
        const QVariant v = m_store.ReadField(pos);
        if (!v.isValid())
            problem(pos, QStringLiteral("has no value"));
        return v;
    }
    double number(int pos)
    {
        const QVariant v = value(pos);
        bool ok = v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double;
        double d = v.toDouble();
        if (v.typeId() == QMetaType::QString)
            ok = storedNumber(v.toString(), &d);
        if (v.isValid() && (!ok || !std::isfinite(d)))
            problem(pos, QStringLiteral("holds \"%1\", which is not a number").arg(v.toString()));
        return ok ? d : 0.0;
    }
    qint16 int16(int pos)
    {
        const double d = std::nearbyint(number(pos));
        if (d < -32768 || d > 32767)
            problem(pos, QStringLiteral("holds %1, which is out of range").arg(d));
        return d < -32768 || d > 32767 ? 0 : qint16(d);
    }
    bool boolean(int pos)
    {
        const QVariant v = value(pos);
        const QString t = v.toString().toLower();
        if (v.typeId() == QMetaType::QString && t != QStringLiteral("true") && t != QStringLiteral("false"))
            return number(pos) != 0.0;
        return v.typeId() == QMetaType::QString ? t == QStringLiteral("true") : v.toDouble() != 0.0;
    }
    QString text(int pos)
    {
        const QVariant v = value(pos);
        if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double)
            return numberText(v.toDouble());
        return v.toString();
    }

private:
    void problem(int pos, const QString &what)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("field %1 (%2) %3").arg(pos).arg(SettingsStore::FieldNames.at(pos), what);
    }
    const SettingsStore &m_store;
    QString m_error;
};

void readRecord(FieldReader &r, Settings &s, ClockEngine &clock)
{
    clock.setSpeed(r.int16(ClockSpeedField));
    s.DLog = r.boolean(DLogField);
    s.FLog = r.boolean(FLogField);
    s.IndexHTML = r.text(IndexHTMLField);
    s.LogC = r.boolean(LogCField);
    s.LogE = r.boolean(LogEField);
    clock.restoreTime(r.number(ClockTimeField));
    s.LPort = r.text(LPortField);
    const auto t = s.trims();
    for (int i = 0; i < 7; ++i)
        *t[i] = r.text(RatioX1Field + i);
    s.WebRoot = r.text(WebRootField);
}

void applyDefaults(Settings &s, ClockEngine &clock, const QString &defaultWebRoot, QString *error)
{
    if (s.WebRoot.isEmpty())
        s.WebRoot = defaultWebRoot;
    if (s.IndexHTML == QStringLiteral(" "))
        s.IndexHTML = QStringLiteral("index.htm");
    double port = 0;
    if (!storedNumber(s.LPort, &port)) {
        *error = QStringLiteral("field 7 (LPort) holds \"%1\", which is not a port number").arg(s.LPort);
        return;
    }
    if (port == 0)
        s.LPort = numberText(8080);
    if (clock.clockSpeed() == 0)
        clock.setSpeed(1);
}

void readSwitches(const RegistryHive &registry, Settings &s)
{
    s.FLog = RegMod::readSwitch(registry, QStringLiteral("FileLog"));
    s.DLog = RegMod::readSwitch(registry, QStringLiteral("DebugLog"));
    s.LogC = RegMod::readSwitch(registry, QStringLiteral("LogConnects"));
    s.LogE = RegMod::readSwitch(registry, QStringLiteral("LogErrors"));
}

}  // namespace

bool LoadSettings(SettingsStore &store, const RegistryHive &registry, Settings &settings,
                  ClockEngine &clock, const LoadHooks &hooks, QString *error)
{
    settings.Config = false;
    if (!store.Open()) {
        *error = store.errorString();
        return false;
    }
    FieldReader reader(store);
    readRecord(reader, settings, clock);
    QString problem = reader.error();
    if (problem.isEmpty())
        applyDefaults(settings, clock, hooks.defaultWebRoot, &problem);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("The settings file \"%1\" cannot be used: %2").arg(store.path(), problem);
        return false;
    }
    readSwitches(registry, settings);
    const bool logOpened = settings.FLog && hooks.openRequestLog && hooks.openRequestLog();
    const auto t = settings.trims();
    for (int i = 0; i < 7; ++i) {
        if (t[i]->isEmpty())
            *t[i] = numberText(kDefaultTrims[i]);
    }
    if (hooks.putTrimsIntoConfig)
        hooks.putTrimsIntoConfig();
    settings.LogOpen = logOpened;
    return true;
}

bool SaveSettings(SettingsStore &store, const Settings &s, const ClockEngine &clock, QString *error)
{
    store.BeginEdit();
    const QVariantList values = {
        QVariant::fromValue<short>(clock.clockSpeed()), s.DLog, s.FLog, s.IndexHTML, s.LogC, s.LogE,
        clock.clockTime(), s.LPort, s.RatioX1, s.RatioX2, s.RatioX3, s.RatioX4, s.RatioX5, s.RatioX6,
        s.RatioX8, s.WebRoot,
    };
    for (int pos = 0; pos < values.size(); ++pos)
        store.WriteField(pos, values.at(pos));
    if (store.Commit())
        return true;
    *error = store.errorString();
    return false;
}
