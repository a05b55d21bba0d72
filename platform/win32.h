// The three Win32 operations the viewer paints through, and their types.
//
// On Windows the program's pixels go into a surface that a thread of its own shows: on the
// console window with the system's GDI (user32, gdi32, kernel32) where the window shows what
// GDI draws, on the terminal where the console is hosted by one (a pseudo-console), which never
// shows it (platform/windows/). Elsewhere
// this program's console canvas provides them under the same names and signatures, painting
// the terminal the program runs in (console/console_window.cpp). This is the one place that
// tells the systems apart.
//
// A test build defines VIEWER_PLATFORM_STAND_IN to link the program against a stand-in of its
// own on every system, Windows included.
#pragma once

#if defined(_WIN32) && !defined(VIEWER_PLATFORM_STAND_IN)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The program's calls go to the functions that decide between the console window and the
// terminal.
#include "platform/windows/console_paint.h"
#define GetConsoleWindow viewerGetConsoleWindow
#define GetDC viewerGetDC
#define SetPixel viewerSetPixel

#else

#include <cstdint>

// A colour as 0x00BBGGRR: red in the low byte, then green, then blue.
typedef std::uint32_t COLORREF;

// Handles to opaque objects, declared the way Windows declares them.
typedef struct HWND__* HWND;
typedef struct HDC__* HDC;

// What SetPixel returns for a pixel it could not set.
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// The window of the terminal the process runs in (its controlling terminal); NULL if none.
HWND GetConsoleWindow();

// The drawing surface of the window's text area, in pixels from its top-left corner.
// For a NULL window: a surface on which nothing is painted.
HDC GetDC(HWND window);

// Sets one pixel. Returns the colour set, or CLR_INVALID where (x, y) lies outside the surface.
COLORREF SetPixel(HDC canvas, int x, int y, COLORREF colour);

#endif
