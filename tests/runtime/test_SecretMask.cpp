#include "runtime/SecretMask.h"

#include <gtest/gtest.h>

TEST(SecretMask, ValuesOfSecretKeysAreMaskedHoweverTheKeyIsWritten)
{
    struct Case
    {
        const char *pText;
        const char *pMasked;
    };
    const Case cases[] = {
        {R"({"MainType":8,"Device":{"Password":"hunter2","tcsToken":"tok"}})",
         R"({"MainType":8,"Device":{"Password":"***","tcsToken":"***"}})"},
        // Escaped, wholly or in part, and in another case: the same key to the reader.
        {R"({"Pass\u0077ord":"hunter2"})", R"({"Pass\u0077ord":"***"})"},
        {R"({"\u0050\u0061\u0073\u0073\u0077\u006f\u0072\u0064":"hunter2"})",
         R"({"\u0050\u0061\u0073\u0073\u0077\u006f\u0072\u0064":"***"})"},
        {R"({"PASSWORD":"hunter2","appkey":"k","AppSecret":"s"})", R"({"PASSWORD":"***","appkey":"***","AppSecret":"***"})"},
        // Values of any kind, with quotes, commas and brackets inside, and comments around.
        {R"({"Password": /* c */ 12345, "b":1})", R"({"Password": /* c */ "***", "b":1})"},
        {R"({"AppSecret":{"a":"}"},"tcsToken":["a","]"],"x":2})", R"({"AppSecret":"***","tcsToken":"***","x":2})"},
        {R"({"Password":"a\"b,c}","User":"admin"})", R"({"Password":"***","User":"admin"})"},
        {R"({"Password":"a","Password":"b"})", R"({"Password":"***","Password":"***"})"},
        // Texts the reader cannot read: a comment before the colon, other quotes, an end too early, no colon.
        {R"({"Password" /* c */ :"hunter2","tcsToken"/**/:"tok"})", R"({"Password" /* c */ :"***","tcsToken"/**/:"***"})"},
        {R"({"Pass\u0077ord" // c
            : "hunter2"})", R"({"Pass\u0077ord" // c
            : "***"})"},
        {"{'Password':'hunter2'}", R"({'Password':"***"})"},
        {R"({"Password":"hunter2)", R"({"Password":"***")"},
        {R"({"Password" "hunter2"})", R"({"Password" "***"})"},
        {R"({"a":"b, "Password":"hunter2"})", R"({"a":"b, "Password":"***"})"},
        {"Password=hunter2 then", R"(Password="***" then)"},
        // Nothing secret: the text as it is.
        {R"({"Title":"Password","User":"admin"})", R"({"Title":"Password","User":"admin"})"},
        {"this is not json", "this is not json"},
        {"/home/tokenizer/x", "/home/tokenizer/x"},
        {"", ""},
    };
    for (const Case &c : cases) {
        const QString strMasked = SecretMask::Mask(QString::fromUtf8(c.pText));
        EXPECT_EQ(strMasked.toStdString(), c.pMasked) << c.pText;
        EXPECT_FALSE(strMasked.contains("hunter2")) << c.pText;
    }
}

TEST(SecretMask, SecretNames)
{
    for (const char *pName : {"Password", "tcsToken", "AppSecret", "AppKey", "passwd", "UserPwd", "token"})
        EXPECT_TRUE(SecretMask::IsSecretName(pName)) << pName;
    for (const char *pName : {"User", "key", "iv", "SerialNo", "Pass", ""})
        EXPECT_FALSE(SecretMask::IsSecretName(pName)) << pName;
}
