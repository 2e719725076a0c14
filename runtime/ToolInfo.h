#pragma once

// The tool information read at each login from the tool-version INI file. Texts are zero-terminated, in the
// local 8-bit encoding, and cut to their field's width less one byte at a character boundary.
struct ToolInfo
{
    int PrintLogEn = 1;             // logs the version checks when non-zero
    char ToolVersion[64] = {};      // "Tool/version"
    char WebVersionAddr[128] = {};  // built from "Tool/webFileAddr"
    char ToolDate[16] = {};         // "Tool/date"
    char VersionFileAddr[128] = {}; // "Tool/versionFileAddr", or the built default
    char UpdateLogAddr[128] = {};   // built; empty for the OEM ids with a version file of their own
};
