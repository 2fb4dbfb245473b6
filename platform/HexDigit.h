// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The value of one hexadecimal digit in either case, -1 for any other byte;
// shared by the GridConnect frames and the percent-decoding of web requests.
inline int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
