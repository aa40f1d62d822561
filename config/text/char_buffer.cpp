#include "config/text/char_buffer.h"

#include <climits>
#include <cstring>
#include <utility>

namespace {

constexpr int kDefaultBufferSize = 260;

// Length of a zero-terminated narrow text, clamped to what a size can hold.
int TextLength(const char* text)
{
    const size_t length = strlen(text);
    return length >= static_cast<size_t>(INT_MAX) ? INT_MAX - 1 : static_cast<int>(length);
}

// Bytes from `begin` up to the first zero byte or `end`.
int ZeroTerminatedLength(const char* begin, const char* end)
{
    const void* zero = memchr(begin, 0, static_cast<size_t>(end - begin));
    return static_cast<int>((zero ? static_cast<const char*>(zero) : end) - begin);
}

}  // namespace

CChar::CChar(const char* text)
{
    if (text) {
        Assign(text);
    }
}

CChar::CChar(const wchar_t* text)
{
    if (!text) {
        return;
    }
    const size_t length = wcslen(text);
    if (length >= static_cast<size_t>(INT_MAX)) {
        return;
    }
    const int needed = length == 0 ? 0
                                   : ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length),
                                                           nullptr, 0, nullptr, nullptr);
    if (needed == INT_MAX) {
        return;
    }
    char* block = GetBuffer(needed + 1);
    const int converted =
        needed == 0 ? 0
                    : ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), block, needed,
                                            nullptr, nullptr);
    block[converted] = '\0';
}

CChar::CChar(const CChar& other)
{
    if (other.m_Data) {
        m_Data = new char[static_cast<size_t>(other.m_Size)];
        m_Size = other.m_Size;
        memcpy(m_Data, other.m_Data, static_cast<size_t>(m_Size));
    }
}

CChar& CChar::operator=(const CChar& other)
{
    if (this != &other) {
        CChar copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CChar::CChar(CChar&& other) noexcept
    : m_Data(std::exchange(other.m_Data, nullptr)), m_Size(std::exchange(other.m_Size, 0))
{
}

CChar& CChar::operator=(CChar&& other) noexcept
{
    if (this != &other) {
        Free();
        m_Data = std::exchange(other.m_Data, nullptr);
        m_Size = std::exchange(other.m_Size, 0);
    }
    return *this;
}

CChar::~CChar()
{
    Free();
}

void CChar::Free() noexcept
{
    delete[] m_Data;
    m_Data = nullptr;
    m_Size = 0;
}

char* CChar::GetBuffer(int size)
{
    if (size <= 0) {
        size = kDefaultBufferSize;
    }
    if (m_Size >= size) {
        return m_Data;
    }
    Free();
    m_Data = new char[static_cast<size_t>(size)];
    m_Data[0] = '\0';
    m_Size = size;
    return m_Data;
}

void CChar::SetSize(int size)
{
    if (size <= 0) {
        Free();
    } else if (size > m_Size) {
        Free();
        m_Data = new char[static_cast<size_t>(size)];
        m_Data[0] = '\0';
        m_Size = size;
    } else {
        m_Size = size;
    }
}

void CChar::Assign(const char* text, int length)
{
    if (!text) {
        length = 0;
    } else if (length < 0) {
        length = TextLength(text);
    } else if (length == INT_MAX) {
        length = INT_MAX - 1;
    }
    // The text may lie inside our own block, which GetBuffer could free.
    if (length > 0 && m_Data && text >= m_Data && text < m_Data + m_Size) {
        CChar copy;
        copy.Assign(text, length);
        *this = std::move(copy);
        return;
    }
    char* block = GetBuffer(length + 1);
    if (length > 0) {
        memcpy(block, text, static_cast<size_t>(length));
    }
    block[length] = '\0';
}

std::wstring CChar::ToWide() const
{
    std::wstring text;
    ToWide(text, CP_ACP, 0);
    return text;
}

int CChar::ToWide(std::wstring& text, UINT codePage, int offset) const
{
    text.clear();
    if (!m_Data || offset < 0 || offset >= m_Size) {
        return 0;
    }
    const char* begin = m_Data + offset;
    const int length = ZeroTerminatedLength(begin, m_Data + m_Size);
    if (length == 0) {
        return 0;
    }
    const int needed = ::MultiByteToWideChar(codePage, 0, begin, length, nullptr, 0);
    if (needed <= 0) {
        return 0;
    }
    text.resize(static_cast<size_t>(needed));
    const int converted = ::MultiByteToWideChar(codePage, 0, begin, length, text.data(), needed);
    text.resize(static_cast<size_t>(converted > 0 ? converted : 0));
    return static_cast<int>(text.size());
}
