#include "settings/Settings.h"

#include "settings/StoredNumber.h"

#include <cmath>
#include <limits>

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
