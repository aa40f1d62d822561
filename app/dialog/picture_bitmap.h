#pragma once
// Bitmaps of the installer's picture: the screen scale, display-compatible
// bitmaps, block copies and HALFTONE scaling. Every memory device context is
// made compatible with one display device context kept for the process.

#include <windows.h>

#include "support/unique_handle.h"

// The desktop's horizontal DPI divided by 96, computed once and kept; 1.0
// when no desktop device context is available.
double GetScreenScale();

// Makes `target` a display-compatible bitmap of the size, filled with the
// colour.
void FillNewBitmap(COLORREF colour, tarn::UniqueGdiObject& target, int width, int height);

// Copies from `source` into `target`, which becomes a bitmap of the
// rectangle's size: with `stretch` 1 the whole source is stretched onto it
// (HALFTONE), else the block of the source at the rectangle's top-left is
// copied. Returns 1 after copying, 0 when the source holds no bitmap.
int CopyBitmapArea(const tarn::UniqueGdiObject& source, tarn::UniqueGdiObject& target, const RECT& rect, int stretch,
                   DWORD rasterOperation);

// Replaces the bitmap by a copy scaled by `factor` (HALFTONE, each side
// truncated). Returns 1 when the bitmap is usable afterwards (scaled, or left
// as it was for a factor of 1.0 or one that is not positive), 0 when there
// was no bitmap or it had no positive size.
int ScaleBitmap(tarn::UniqueGdiObject& bitmap, double factor);

namespace tarn {

// The process's display device context (null if none could be made).
HDC DisplayDC();

// A bitmap's width and height; (0, 0) for none.
SIZE BitmapSize(HGDIOBJ bitmap);

}  // namespace tarn
