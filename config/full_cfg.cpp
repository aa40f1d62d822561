#include "config/full_cfg.h"

CFullCfg::CFullCfg() = default;

CFullCfg::~CFullCfg() = default;
