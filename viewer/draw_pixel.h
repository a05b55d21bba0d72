#pragma once

#include "platform/win32.h"

// Paints one pixel of the picture: the only point at which painting reaches the platform.
void drawPixel(HDC canvas, int x, int y, COLORREF colour);
