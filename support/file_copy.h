#pragma once
// Copying one file over another.

// Copies one file over another. An empty source deletes the target instead.
// An existing read-only target is replaced; the target ends with normal
// attributes. Returns 1 on success.
int CopyFileKeepAttributes(const wchar_t* source, const wchar_t* target);
