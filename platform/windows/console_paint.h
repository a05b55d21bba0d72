// GetConsoleWindow, GetDC and SetPixel as the viewer has them on Windows (platform/win32.h
// gives the program these under the system's names). Either way the pixels go into a surface
// that a presenter thread shows every tick: on the console window itself, blitted with GDI,
// where the window shows GDI drawing (a classic console window); on the terminal that hosts
// the console where it does not (a pseudo-console: Windows Terminal, VS Code, sshd). Decided
// once, at the first call.
#pragma once

#include <windows.h>

// The console window where it shows GDI drawing; else a window of the canvas's own that
// stands for the terminal; null where the process has no console.
HWND viewerGetConsoleWindow();

// The canvas, made at the first call: on the console window, as large as its client area
// then; on the terminal, asked what it shows first. For no window, a canvas that paints
// nothing.
HDC viewerGetDC(HWND window);

// On the canvas, the pixel stored for the presenter to show; CLR_INVALID outside it (past the
// client area or the terminal's window), and on anything else.
COLORREF viewerSetPixel(HDC canvas, int x, int y, COLORREF colour);
