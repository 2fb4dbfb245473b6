// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <array>

// The speeds N:1 a person can choose, in the speed dialog, from the web or
// from the layout network, and the speeds that have a trim. There is no 7.
namespace OfferedSpeeds {

inline constexpr std::array<qint16, 7> All{1, 2, 3, 4, 5, 6, 8};

bool contains(int speed);

// "1, 2, 3, 4, 5, 6 or 8": the speeds as a sentence reads them, the last one
// joined by `lastJoiner` ("or", "and").
QByteArray listed(const QByteArray &lastJoiner);

}  // namespace OfferedSpeeds
