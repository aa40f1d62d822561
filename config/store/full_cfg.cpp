#include "config/store/full_cfg.h"

CFullCfg::CFullCfg() = default;

CFullCfg::~CFullCfg() = default;
