#pragma once
// CChar: an owned block of bytes for raw file contents and narrow texts. Its
// size is at once the allocated and the usable length; growing never copies.

#include <windows.h>

#include <string>

#include "support/export.h"

class TARN_EXPORT CChar {
public:
    // Empty: no block, size 0.
    CChar() noexcept = default;
    // A copy of a narrow text with its terminating zero (size = length + 1).
    // A null text gives an empty buffer.
    explicit CChar(const char* text);
    // A wide text converted with the ANSI code page, zero-terminated; the size
    // is the converted length + 1 (characters + 1 for single-byte code pages).
    explicit CChar(const wchar_t* text);
    CChar(const CChar& other);
    CChar& operator=(const CChar& other);
    CChar(CChar&& other) noexcept;
    CChar& operator=(CChar&& other) noexcept;
    ~CChar();

    // A block of at least `size` bytes (0 or less means 260). A block that is
    // already large enough is returned unchanged; otherwise the old one is freed
    // without copying and a new one of exactly `size` bytes starts with a 0.
    char* GetBuffer(int size = 0);

    // 0 or less frees the block (size 0). A larger size replaces the block by an
    // uninitialised one without copying; a smaller size only lowers the size.
    void SetSize(int size);

    // Copies `length` bytes of `text` (counted up to its zero when negative) and
    // a terminating zero into GetBuffer(length + 1). A null or empty text leaves
    // a block whose first byte is 0.
    void Assign(const char* text, int length = -1);

    char* Data() noexcept { return m_Data; }
    const char* Data() const noexcept { return m_Data; }
    int GetSize() const noexcept { return m_Size; }

    // The block as a zero-terminated ANSI text, converted to wide text; the
    // text ends at the first zero byte or at the size.
    std::wstring ToWide() const;

    // The bytes from `offset` up to the first zero byte or the size, converted
    // with `codePage` into `text`. Returns the number of wide characters
    // produced; 0 and an empty text when `offset` is not below the size or the
    // conversion fails.
    int ToWide(std::wstring& text, UINT codePage, int offset) const;

private:
    void Free() noexcept;

    char* m_Data = nullptr; // owned block, or null
    int m_Size = 0;         // bytes in the block
};
