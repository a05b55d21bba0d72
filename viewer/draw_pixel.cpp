#include "viewer/draw_pixel.h"

void drawPixel(HDC canvas, int x, int y, COLORREF colour)
{
    SetPixel(canvas, x, y, colour);
}
