// The strict JSON reader the service decodes request bodies with.
#include "Json.h"

#include <gtest/gtest.h>

using json::parse;

TEST(ServerJson, ParsesObjectsWithExactIntegersAndCountsCodePoints)
{
    auto r =
        parse(R"({"e": 1.5, "a": 1, "b": -9223372036854775808, "c": "x\u00e9\ud83d\ude00", "d": [true, false, null],
                     "s": "a\"b\\c\n\u0001"})");
    ASSERT_TRUE(r.value) << r.error;
    // Written back, a double would show as one (-9.2e18), and 1.5 as an integer
    // would not; keys come sorted, control characters escaped.
    EXPECT_EQ(json::serialize(*r.value),
              "{\"a\":1,\"b\":-9223372036854775808,\"c\":\"x\xc3\xa9\xf0\x9f\x98\x80\",\"d\":["
              "true,false,null],\"e\":1.5,\"s\":\"a\\\"b\\\\c\\n\\u0001\"}");
    EXPECT_EQ(json::codePointCount(r.value->find("c")->asString()), 3u);
}

TEST(ServerJson, NumbersWithFractionOrExponentOrOverflowAreNotIntegers)
{
    for (const char *text : {"3600.0", "3.6e3", "1E2", "9223372036854775808", "-9223372036854775809"})
        EXPECT_EQ(parse(text).value.value_or(json::Value()).type(), json::Value::Type::Double) << text;
}

TEST(ServerJson, RejectsMalformedTextInvalidUtf8AndDeepNesting)
{
    // The library's grammar is its own; a sample of it shows its errors are
    // passed on. Then what this reader adds: nothing after the value, no
    // duplicate keys, bounded nesting. Overlong "/", an encoded surrogate and
    // a truncated sequence are not UTF-8.
    for (const std::string &text : std::vector<std::string>{
             "", "{", "{\"a\":1,}", "01", "NaN", "\"\\ud800\"", "{\"a\":1}x", "{\"a\":1,\"a\":2}", "\"\xff\"",
             "\"\xc0\xaf\"", "\"\xed\xa0\x80\"", "\"\xe2\x82\"", std::string(40, '[') + std::string(40, ']')})
        EXPECT_FALSE(parse(text).value) << "accepted: " << text;
    EXPECT_TRUE(parse("\"\xe2\x82\xac\"").value); // the euro sign
    EXPECT_TRUE(parse(std::string(20, '[') + std::string(20, ']')).value);
}
