// Numbers in decimal, written straight into an encoder's buffer.
#pragma once

// Writes `value` at `p`; returns the end.
inline char* putNumber(char* p, unsigned value)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        *p++ = digits[--n];
    return p;
}
