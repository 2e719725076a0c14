#include "runtime/BuildVariant.h"

bool g_bPreviewMemoryBudget = false;
