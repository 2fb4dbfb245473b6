// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>

// The sixteen fields of the settings record, each at its position. The store,
// the load and save sequences, their messages and the tests all name a field
// through this table, so a field is spelled out here and nowhere else.
enum class SettingsField : int {
    ClockSpeed, DLog, FLog, IndexHTML, LogC, LogE, ClockTime, LPort,
    RatioX1, RatioX2, RatioX3, RatioX4, RatioX5, RatioX6, RatioX8, WebRoot,
};

// What a field holds; it decides the column type of a fresh store and how
// loading converts the stored value.
enum class SettingsFieldType { Int16, Boolean, Text, DateTime };

struct SettingsFieldRow
{
    SettingsField field;
    const char *name;  // the column name in a fresh store and in messages
    SettingsFieldType type;
    // The value of a fresh record, as text; every one of them loads as the
    // field's default.
    const char *freshValue;
};

inline constexpr std::array<SettingsFieldRow, 16> SettingsFields = {{
    {SettingsField::ClockSpeed, "ClockSpeed", SettingsFieldType::Int16, "0"},
    {SettingsField::DLog, "DLog", SettingsFieldType::Boolean, "0"},
    {SettingsField::FLog, "FLog", SettingsFieldType::Boolean, "0"},
    {SettingsField::IndexHTML, "IndexHTML", SettingsFieldType::Text, " "},
    {SettingsField::LogC, "LogC", SettingsFieldType::Boolean, "0"},
    {SettingsField::LogE, "LogE", SettingsFieldType::Boolean, "0"},
    {SettingsField::ClockTime, "ClockTime", SettingsFieldType::DateTime, "0.0"},
    {SettingsField::LPort, "LPort", SettingsFieldType::Text, "0"},
    {SettingsField::RatioX1, "RatioX1", SettingsFieldType::Text, ""},
    {SettingsField::RatioX2, "RatioX2", SettingsFieldType::Text, ""},
    {SettingsField::RatioX3, "RatioX3", SettingsFieldType::Text, ""},
    {SettingsField::RatioX4, "RatioX4", SettingsFieldType::Text, ""},
    {SettingsField::RatioX5, "RatioX5", SettingsFieldType::Text, ""},
    {SettingsField::RatioX6, "RatioX6", SettingsFieldType::Text, ""},
    {SettingsField::RatioX8, "RatioX8", SettingsFieldType::Text, ""},
    {SettingsField::WebRoot, "WebRoot", SettingsFieldType::Text, ""},
}};

inline constexpr int SettingsFieldCount = int(SettingsFields.size());

constexpr int position(SettingsField field)
{
    return int(field);
}

constexpr const SettingsFieldRow &rowOf(SettingsField field)
{
    return SettingsFields[std::size_t(position(field))];
}

namespace SettingsFieldsCheck {
constexpr bool eachRowAtItsPosition()
{
    for (std::size_t i = 0; i < SettingsFields.size(); ++i) {
        if (std::size_t(position(SettingsFields[i].field)) != i)
            return false;
    }
    return true;
}
static_assert(eachRowAtItsPosition(), "a row of SettingsFields stands away from its position");
static_assert(position(SettingsField::WebRoot) + 1 == SettingsFieldCount, "a field without a row");
}  // namespace SettingsFieldsCheck
