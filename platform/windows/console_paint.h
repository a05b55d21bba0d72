// GetConsoleWindow, GetDC and SetPixel as the viewer has them on Windows (platform/win32.h
// gives the program these under the system's names): the system's own where the console
// window shows GDI drawing, the terminal canvas where it does not (a pseudo-console: Windows
// Terminal, VS Code, sshd). Decided once, at the first call.
#pragma once

#include <windows.h>

// The console window where it shows GDI drawing; else a window of the canvas's own that
// stands for the terminal; null where the process has no console.
HWND viewerGetConsoleWindow();

// The system's device context for a window of the system's; the canvas for the canvas's
// window, asked what the terminal shows first; for no window, a canvas that paints nothing.
HDC viewerGetDC(HWND window);

// The system's SetPixel on a device context of the system's; on the canvas, the pixel stored
// for the presenter to show (CLR_INVALID outside the window).
COLORREF viewerSetPixel(HDC canvas, int x, int y, COLORREF colour);
