// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Settings.h"

#include "settings/StoredNumber.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// In the order of OfferedSpeeds::All.
const std::array<QString Settings::*, 7> kTrims = {
    &Settings::RatioX1, &Settings::RatioX2, &Settings::RatioX3, &Settings::RatioX4,
    &Settings::RatioX5, &Settings::RatioX6, &Settings::RatioX8,
};
}  // namespace

std::array<QString *, 7> Settings::trims()
{
    std::array<QString *, 7> out{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = &(this->*kTrims[i]);
    return out;
}

const QString *Settings::trimFor(int speed) const
{
    const auto &speeds = OfferedSpeeds::All;
    const auto at = std::find(speeds.begin(), speeds.end(), speed);
    return at == speeds.end() ? nullptr : &(this->*kTrims[size_t(at - speeds.begin())]);
}

std::optional<quint16> Settings::portNumber() const
{
    double value = 0;
    if (!storedNumber(LPort, &value))
        return std::nullopt;
    const double port = std::nearbyint(value);
    if (!(port >= 0 && port <= std::numeric_limits<quint16>::max()))
        return std::nullopt;
    return quint16(port);
}
