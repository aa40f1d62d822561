#pragma once
// Functions and classes that the program exports by name from its .exe, for
// the host add-on modules that load it.

#if defined(_WIN32)
#define TARN_EXPORT __declspec(dllexport)
#else
#define TARN_EXPORT
#endif
