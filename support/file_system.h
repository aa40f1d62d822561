#pragma once
// File-system helpers that the rest of the program uses instead of calling the
// platform directly, one header per concern. Every function tolerates a null
// or empty path and then reports failure (0, -1 or an empty text) without
// touching the disk.

#include "support/file_copy.h"
#include "support/file_queries.h"
#include "support/file_times.h"
#include "support/folder_tree.h"
#include "support/temp_files.h"
