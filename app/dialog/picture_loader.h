#pragma once
// The installer's pictures: PNG images held as RCDATA resources, chosen for
// the screen scale and decoded with GDI+, which is loaded at run time from
// the system folder.

#include <windows.h>

#include <vector>

#include "support/unique_handle.h"

// Copies the resource `name` of `type` (null, empty or "RCDATA" in any
// letter case: RCDATA) from `module` into `buffer`; returns a pointer to the
// bytes and their count in `length`, or null and 0 when it is missing.
const unsigned char* LoadResourceData(HMODULE module, const wchar_t* name, std::vector<unsigned char>& buffer,
                                      DWORD& length, const wchar_t* type = nullptr);

// Loads the picture `name` into `bitmap` for the screen scale: the first of
// its variants that the program's resources hold, decoded and scaled to
// design size times the scale. The bitmap held before is deleted first, also
// for an empty name. Returns 1 when a picture was loaded, else 0.
int LoadScaledPicture(const wchar_t* name, tarn::UniqueGdiObject& bitmap, double scale);

namespace tarn {

// Decodes an image (PNG, 24-bit or palette) into a device-independent
// bitmap that replaces `bitmap`. The image is read from memory, never from a
// file another process could change under the program. Returns 1, or 0 with
// `bitmap` empty.
int DecodePicture(const void* data, size_t size, UniqueGdiObject& bitmap);

}  // namespace tarn
