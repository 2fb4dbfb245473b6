// SPDX-License-Identifier: GPL-3.0-or-later
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

// In the order of OfferedSpeeds::All.
const std::array<double, 7> kDefaultTrims = {1000, 500.2, 349.54, 253, 204.5, 175, 125.485};

QString fieldProblem(SettingsField field, const QString &what)
{
    return QStringLiteral("field %1 (%2) %3").arg(position(field)).arg(QLatin1String(rowOf(field).name), what);
}

// Which member of Settings holds a text or switch field. The clock engine
// holds the other two: the speed, the record's one 16-bit field, and the
// model time, its one date-time.
constexpr QString Settings::*textMember(SettingsField field)
{
    switch (field) {
    case SettingsField::IndexHTML: return &Settings::IndexHTML;
    case SettingsField::LPort: return &Settings::LPort;
    case SettingsField::RatioX1: return &Settings::RatioX1;
    case SettingsField::RatioX2: return &Settings::RatioX2;
    case SettingsField::RatioX3: return &Settings::RatioX3;
    case SettingsField::RatioX4: return &Settings::RatioX4;
    case SettingsField::RatioX5: return &Settings::RatioX5;
    case SettingsField::RatioX6: return &Settings::RatioX6;
    case SettingsField::RatioX8: return &Settings::RatioX8;
    case SettingsField::WebRoot: return &Settings::WebRoot;
    default: return nullptr;
    }
}

constexpr bool Settings::*switchMember(SettingsField field)
{
    switch (field) {
    case SettingsField::DLog: return &Settings::DLog;
    case SettingsField::FLog: return &Settings::FLog;
    case SettingsField::LogC: return &Settings::LogC;
    case SettingsField::LogE: return &Settings::LogE;
    default: return nullptr;
    }
}

// Loading and saving convert by the type in the table, so each field's type
// must be that of the variable that holds it.
constexpr bool typesMatchVariables()
{
    for (const SettingsFieldRow &row : SettingsFields) {
        const bool clockSpeed = row.field == SettingsField::ClockSpeed;
        const bool clockTime = row.field == SettingsField::ClockTime;
        if ((row.type == SettingsFieldType::Int16) != clockSpeed
            || (row.type == SettingsFieldType::DateTime) != clockTime
            || (row.type == SettingsFieldType::Text) != (textMember(row.field) != nullptr)
            || (row.type == SettingsFieldType::Boolean) != (switchMember(row.field) != nullptr))
            return false;
    }
    return true;
}
static_assert(typesMatchVariables(), "a settings field's type differs from its variable's");

// Converts each stored value to the kind of its variable, collecting the first
// problem as a message.
class FieldReader
{
public:
    explicit FieldReader(const SettingsStore &store) : m_store(store) {}
    QString error() const { return m_error; }

    QVariant value(SettingsField field)
    {
        const QVariant v = m_store.ReadField(field);
        if (!v.isValid())
            problem(field, QStringLiteral("has no value"));
        return v;
    }
    double number(SettingsField field)
    {
        const QVariant v = value(field);
        bool ok = v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double;
        double d = v.toDouble();
        if (v.typeId() == QMetaType::QString)
            ok = storedNumber(v.toString(), &d);
        if (v.isValid() && (!ok || !std::isfinite(d)))
            problem(field, QStringLiteral("holds \"%1\", which is not a number").arg(v.toString()));
        return ok ? d : 0.0;
    }
    qint16 int16(SettingsField field)
    {
        const double d = std::nearbyint(number(field));
        if (d < -32768 || d > 32767)
            problem(field, QStringLiteral("holds %1, which is out of range").arg(d));
        return d < -32768 || d > 32767 ? 0 : qint16(d);
    }
    bool boolean(SettingsField field)
    {
        const QVariant v = value(field);
        const QString t = v.toString().toLower();
        if (v.typeId() == QMetaType::QString && t != QStringLiteral("true") && t != QStringLiteral("false"))
            return number(field) != 0.0;
        return v.typeId() == QMetaType::QString ? t == QStringLiteral("true") : v.toDouble() != 0.0;
    }
    QString text(SettingsField field)
    {
        const QVariant v = value(field);
        if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double)
            return numberText(v.toDouble());
        return v.toString();
    }

private:
    void problem(SettingsField field, const QString &what)
    {
        if (m_error.isEmpty())
            m_error = fieldProblem(field, what);
    }
    const SettingsStore &m_store;
    QString m_error;
};

// Positions 0 to 15 in ascending order, so that the first problem reported
// is that of the lowest position.
void readRecord(FieldReader &r, Settings &s, ClockEngine &clock)
{
    for (const SettingsFieldRow &row : SettingsFields) {
        switch (row.type) {
        case SettingsFieldType::Int16: clock.restoreSpeed(r.int16(row.field)); break;
        case SettingsFieldType::DateTime: clock.restoreTime(r.number(row.field)); break;
        case SettingsFieldType::Boolean: s.*switchMember(row.field) = r.boolean(row.field); break;
        case SettingsFieldType::Text: s.*textMember(row.field) = r.text(row.field); break;
        }
    }
}

QVariant savedValue(const SettingsFieldRow &row, const Settings &s, const ClockEngine &clock)
{
    switch (row.type) {
    case SettingsFieldType::Int16: return QVariant::fromValue<short>(clock.clockSpeed());
    case SettingsFieldType::DateTime: return clock.clockTime();
    case SettingsFieldType::Boolean: return s.*switchMember(row.field);
    case SettingsFieldType::Text: return s.*textMember(row.field);
    }
    return QVariant();
}

void applyDefaults(Settings &s, ClockEngine &clock, const QString &defaultWebRoot, QString *error)
{
    if (s.WebRoot.isEmpty())
        s.WebRoot = defaultWebRoot;
    if (s.IndexHTML == QStringLiteral(" "))
        s.IndexHTML = QStringLiteral("index.htm");
    double port = 0;
    if (!storedNumber(s.LPort, &port)) {
        *error = fieldProblem(SettingsField::LPort,
                              QStringLiteral("holds \"%1\", which is not a port number").arg(s.LPort));
        return;
    }
    if (port == 0)
        s.LPort = numberText(8080);
    if (clock.clockSpeed() == 0)
        clock.restoreSpeed(1);
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
    for (size_t i = 0; i < t.size(); ++i) {
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
    for (const SettingsFieldRow &row : SettingsFields)
        store.WriteField(row.field, savedValue(row, s, clock));
    if (store.Commit())
        return true;
    *error = store.errorString();
    return false;
}
