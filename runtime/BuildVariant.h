#pragma once

// Set by main: true in the 32-bit deliverable, whose live preview applies the memory budget.
extern bool g_bPreviewMemoryBudget;
