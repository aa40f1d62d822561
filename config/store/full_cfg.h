#pragma once
// CFullCfg: an exported record of a whole settings configuration, kept for
// the host add-on modules that use it. It has no behaviour of its own beyond
// construction and destruction.

#include <cstdint>
#include <string>
#include <vector>

#include "support/export.h"

class CFullCfg {
public:
    TARN_EXPORT CFullCfg();
    TARN_EXPORT virtual ~CFullCfg();

    // The initialisation flag (0 after construction) and the file name.
    TARN_EXPORT int& IsInit() { return m_IsInit; }
    TARN_EXPORT std::wstring& Get_m_cfgFile() { return m_cfgFile; }

private:
    int m_IsInit = 0;
    std::vector<std::wstring> m_Lines;
    std::vector<uint64_t> m_Values;
    std::wstring m_cfgFile;
};
