#include "requests/CPluginManage.h"
#include "requests/VersionText.h"

#include <gtest/gtest.h>

TEST(VersionText, CompareVersion)
{
    struct Case
    {
        const char *pNew;
        const char *pCur;
        bool bNewer;
    };
    const Case cases[] = {
        {"1.0.2.10", "1.0.2.9", true},
        {"1.0.10.0", "1.0.9.9", true},
        {"1.0.2.5", "1.0.2.5", false},
        {"1.0.2.5", "1.1.0.0", false},
        {"2.0.0.0", "1.9.9.9.9", true},
        {"1.0.0.0", "", true},
        {"", "1.0.0.0", false},
        {"", "", false},
        {"1.a.0.0", "1.0.0.0", false},
        {"1.0.0.0", "1.a.0.0", false},
        {"1.1.0.0", "1.a.9.9", true},
        // Parts after the fourth are not looked at.
        {"1.0.0.0.9", "1.0.0.0.1", false},
        // A missing part counts as 0.
        {"1.2", "1.2.0.0", false},
        {"1.2.0.1", "1.2", true},
        {"1.2", "1.2.0.1", false},
        {"1.3", "1.2.9.9", true},
        {"2", "1.9.9.9", true},
        {"1..2.0", "1.0.1.0", true},
        {"V1.0.2.5", "1.0.2.5", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(VersionText::CompareVersion(c.pNew, c.pCur), c.bNewer) << c.pNew << " vs " << c.pCur;
        EXPECT_EQ(CPluginManage::CompareVersion(c.pNew, c.pCur), c.bNewer) << c.pNew << " vs " << c.pCur;
    }
}

TEST(VersionText, GetVersionFromText)
{
    struct Case
    {
        const char *pText;
        const char *pVersion;
    };
    const Case cases[] = {
        {"Version:V1.0.2.5", "1.0.2.5"},
        // The character after the colon is dropped, whatever it is.
        {"web\r\nversion: V2.1.0.0\r\n", "V2.1.0.0"},
        {"no version here\n", ""},
        {"", ""},
        {"Version:V1.0.0.0\nVERSION:V2.0.0.0\n", "2.0.0.0"},
        {"  Web version:V3.0.1.2  \nother\n", "3.0.1.2"},
        {"version:", "version:"},
        {"Version:\nline\n", "Version:"},
        {"version:X", ""},
        {"Version:V1.0.2.5\nversion:\n", "version:"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(VersionText::GetVersionFromText(c.pText).toStdString(), c.pVersion) << c.pText;
        EXPECT_EQ(CPluginManage::GetVersionFromText(c.pText).toStdString(), c.pVersion) << c.pText;
    }
}
