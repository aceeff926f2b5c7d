// The JSON reader against the documented reading rules and against hostile input.
#include "refl/json/json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>
#include <stdexcept>

namespace {

struct Leaf {
    int id = -1;
    std::string label;
    REFL_MEMBERS(id, label)
};

struct Doc {
    int i = -1;
    double d = -1;
    float f = -1;
    bool b = false;
    std::string s;
    char tag[4] = "";
    std::vector<int> ints;
    std::vector<float> floats;
    std::vector<Leaf> leaves;
    Leaf leaf;
    std::shared_ptr<Leaf> ptr;
    std::map<std::string, int> attributes;
    refl::json::value extras;
    REFL_MEMBERS(i, d, f, b, s, tag, ints, floats, leaves, leaf, ptr, attributes, extras)
};

bool read(const std::string& text, Doc& doc, bool allowComments = false, bool combineSurrogates = true) {
    std::istringstream in(text);
    return refl::json::parse(in, doc, allowComments, combineSurrogates);
}

bool reads(const std::string& text, bool allowComments = false) {
    Doc doc;
    return read(text, doc, allowComments);
}

std::string readString(const std::string& literal, bool combineSurrogates = true, bool* ok = nullptr) {
    Doc doc;
    bool result = read("{\"s\":" + literal + "}", doc, false, combineSurrogates);
    if (ok != nullptr) *ok = result;
    return doc.s;
}

// ---- Objects, arrays and the document ----

TEST(JsonReader, EmptyObjectsAndBlanks) {
    EXPECT_TRUE(reads("{}"));
    EXPECT_TRUE(reads("{ }"));
    EXPECT_TRUE(reads(" \t\r\n\v\f{ \n}\n\n"));
    EXPECT_FALSE(reads(""));
    EXPECT_FALSE(reads("   "));
    EXPECT_FALSE(reads("[]"));
    EXPECT_FALSE(reads("null"));
    EXPECT_FALSE(reads("{"));
    EXPECT_FALSE(reads("{,}"));
    EXPECT_FALSE(reads("{\"i\":1,}"));
    EXPECT_FALSE(reads("{\"i\" 1}"));
    EXPECT_FALSE(reads("{i:1}"));
    EXPECT_FALSE(reads("{\"i\":1 \"d\":2}"));
}

TEST(JsonReader, FillsEveryMemberType) {
    Doc doc;
    ASSERT_TRUE(read(R"({
        "i": -42, "d": 0.25e1, "f": 1.5, "b": true, "s": "text", "tag": "abc",
        "ints": [1, 2, 3], "floats": [0.5, -1e2], "leaves": [{"id": 1}, {"id": 2, "label": "two"}],
        "leaf": {"id": 9}, "ptr": {"label": "made"}, "attributes": {"POSITION": 0, "NORMAL": 1},
        "extras": {"list": [1, "x", null, false], "n": 2}
    })",
                     doc));
    EXPECT_EQ(doc.i, -42);
    EXPECT_EQ(doc.d, 2.5);
    EXPECT_EQ(doc.f, 1.5f);
    EXPECT_TRUE(doc.b);
    EXPECT_EQ(doc.s, "text");
    EXPECT_STREQ(doc.tag, "abc");
    EXPECT_EQ(doc.ints, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(doc.floats, (std::vector<float>{0.5f, -100.0f}));
    ASSERT_EQ(doc.leaves.size(), 2u);
    EXPECT_EQ(doc.leaves[0].id, 1);
    EXPECT_EQ(doc.leaves[0].label, "");
    EXPECT_EQ(doc.leaves[1].label, "two");
    EXPECT_EQ(doc.leaf.id, 9);
    ASSERT_TRUE(doc.ptr);
    EXPECT_EQ(doc.ptr->id, -1) << "a created pointee starts from its defaults";
    EXPECT_EQ(doc.ptr->label, "made");
    EXPECT_EQ(doc.attributes, (std::map<std::string, int>{{"NORMAL", 1}, {"POSITION", 0}}));

    using refl::json::value;
    value expected = value::make_object();
    value list = value::make_array();
    list.array()->push_back(value(1.0));
    list.array()->push_back(value("x"));
    list.array()->push_back(value());
    list.array()->push_back(value(false));
    (*expected.object())["list"] = list;
    (*expected.object())["n"] = value(2.0);
    EXPECT_EQ(doc.extras, expected);
}

TEST(JsonReader, ExtrasOfAnyShape) {
    for (const char* shape : {"{\"a\":\"b\"}", "[[], {}]", "3", "\"s\"", "true", "null"}) {
        Doc doc;
        EXPECT_TRUE(read(std::string("{\"extras\":") + shape + "}", doc)) << shape;
        EXPECT_NE(doc.extras.kind(), refl::kind::invalid);
    }
    Doc doc;
    ASSERT_TRUE(read(R"({"extras": 3, "extras": {"k": "v"}})", doc));
    ASSERT_NE(doc.extras.object(), nullptr) << "a duplicate key replaces the value";
    EXPECT_EQ(*doc.extras.object()->at("k").string(), "v");
}

TEST(JsonReader, ArraysAppendAndBlankArraysDiffer) {
    Doc doc;
    doc.ints = {7};
    ASSERT_TRUE(read(R"({"ints": [], "floats": [], "leaves": []})", doc));
    EXPECT_EQ(doc.ints, (std::vector<int>{7}));
    ASSERT_TRUE(read(R"({"ints": [8, 9]})", doc));
    EXPECT_EQ(doc.ints, (std::vector<int>{7, 8, 9})) << "elements are appended to what was there";

    Doc blank;
    EXPECT_TRUE(read(R"({"ints": [ ]})", blank)) << "an int element with no digits reads 0";
    EXPECT_EQ(blank.ints, (std::vector<int>{0}));
    EXPECT_FALSE(reads(R"({"floats": [ ]})"));
    EXPECT_FALSE(reads(R"({"leaves": [ ]})"));
    EXPECT_FALSE(reads(R"({"ints": [1 2]})"));
    Doc trailing;
    EXPECT_TRUE(read(R"({"ints": [1,]})", trailing)) << "the same rule after a trailing comma";
    EXPECT_EQ(trailing.ints, (std::vector<int>{1, 0}));
    EXPECT_FALSE(reads(R"({"floats": [1,]})"));
    EXPECT_FALSE(reads(R"({"ints": [1})"));
}

TEST(JsonReader, DuplicateKeysReadAgain) {
    Doc doc;
    ASSERT_TRUE(read(
        R"({"i": 1, "i": 2, "ints": [1], "ints": [2], "leaf": {"id": 3}, "leaf": {"label": "x"}})", doc));
    EXPECT_EQ(doc.i, 2);
    EXPECT_EQ(doc.ints, (std::vector<int>{1, 2}));
    EXPECT_EQ(doc.leaf.id, 3);
    EXPECT_EQ(doc.leaf.label, "x");
}

TEST(JsonReader, PointerMembersAndNull) {
    Doc doc;
    ASSERT_TRUE(read(R"({"ptr": null})", doc));
    EXPECT_FALSE(doc.ptr);
    ASSERT_TRUE(read(R"({"ptr": {"id": 5}})", doc));
    ASSERT_TRUE(doc.ptr);
    EXPECT_EQ(doc.ptr->id, 5);
    ASSERT_TRUE(read(R"({"ptr": {"label": "again"}})", doc));
    EXPECT_EQ(doc.ptr->id, 5) << "an existing pointee is filled, not replaced";
    ASSERT_TRUE(read(R"({"ptr": null})", doc));
    EXPECT_FALSE(doc.ptr);
    EXPECT_FALSE(reads(R"({"ptr": nul})"));
    EXPECT_FALSE(reads(R"({"ptr": nulll})"));
    EXPECT_FALSE(reads(R"({"ptr": 3})"));
    EXPECT_FALSE(reads(R"({"ptr": [1]})"));
}

TEST(JsonReader, TrailingTextFailsButKeepsWhatWasRead) {
    Doc doc;
    EXPECT_FALSE(read(R"({"i": 5} x)", doc));
    EXPECT_EQ(doc.i, 5);
    EXPECT_FALSE(reads("{} {}"));
    EXPECT_TRUE(reads("{}  \n"));

    Doc partial;
    EXPECT_FALSE(read(R"({"i": 5, "d": ?, "s": "late"})", partial));
    EXPECT_EQ(partial.i, 5);
    EXPECT_EQ(partial.s, "") << "reading stops at the error";
}

TEST(JsonReader, UnknownKeysAreSkippedWhenWellFormed) {
    Doc doc;
    ASSERT_TRUE(read(R"({"asset": {"version": "2.0", "deep": [[1, {"x": [true, null]}], -0.5e-3]},
                        "i": 4, "extensionsUsed": ["KHR_lights_punctual"], "n": null, "t": false})",
                     doc));
    EXPECT_EQ(doc.i, 4);
    EXPECT_FALSE(reads(R"({"unknown": [1, 2})"));
    EXPECT_FALSE(reads(R"({"unknown": {"a" 1}})"));
    EXPECT_FALSE(reads(R"({"unknown": tru})"));
    EXPECT_FALSE(reads(R"({"unknown": +1})"));
    EXPECT_FALSE(reads(R"({"unknown": "open})"));
    EXPECT_FALSE(reads(R"({"unknown": })"));
    EXPECT_FALSE(reads(R"({"I": 1, "unknown": x})")) << "keys are case-sensitive and x is no value";
}

TEST(JsonReader, Booleans) {
    Doc doc;
    ASSERT_TRUE(read(R"({"b": true})", doc));
    EXPECT_TRUE(doc.b);
    ASSERT_TRUE(read(R"({"b": false})", doc));
    EXPECT_FALSE(doc.b);
    EXPECT_FALSE(reads(R"({"b": tru})"));
    EXPECT_FALSE(reads(R"({"b": fals})"));
    EXPECT_FALSE(reads(R"({"b": 1})"));
    EXPECT_FALSE(reads(R"({"b": True})"));
}

TEST(JsonReader, FixedCharacterBuffer) {
    Doc doc;
    ASSERT_TRUE(read(R"({"tag": "xyz"})", doc));
    EXPECT_STREQ(doc.tag, "xyz");
    EXPECT_FALSE(read(R"({"tag": "wxyz"})", doc)) << "no room for the terminating zero";
    EXPECT_STREQ(doc.tag, "");
}

// ---- Numbers ----

TEST(JsonReader, NumberForms) {
    Doc doc;
    ASSERT_TRUE(read(R"({"d": 1.})", doc));
    EXPECT_EQ(doc.d, 1.0);
    ASSERT_TRUE(read(R"({"d": 1.e5})", doc));
    EXPECT_EQ(doc.d, 1e5);
    ASSERT_TRUE(read(R"({"d": -0.125E+2})", doc));
    EXPECT_EQ(doc.d, -12.5);
    ASSERT_TRUE(read(R"({"d": 25e-1})", doc));
    EXPECT_EQ(doc.d, 2.5);

    Doc leadingZero;
    EXPECT_FALSE(read(R"({"d": 01})", leadingZero));
    EXPECT_EQ(leadingZero.d, 0.0) << "reads the 0, then fails at the 1";
    ASSERT_TRUE(read(R"({"i": 01})", leadingZero));
    EXPECT_EQ(leadingZero.i, 1);

    EXPECT_FALSE(reads(R"({"d": +1})"));
    EXPECT_FALSE(reads(R"({"i": +1})"));
    EXPECT_FALSE(reads(R"({"d": .5})"));
    EXPECT_FALSE(reads(R"({"d": -})"));
    EXPECT_FALSE(reads(R"({"d": 1e})"));
    EXPECT_FALSE(reads(R"({"d": 1e+})"));
    EXPECT_FALSE(reads(R"({"i": 1e})"));
}

TEST(JsonReader, IntsWithFractionOrExponent) {
    auto intOf = [](const char* number, bool* ok) {
        Doc doc;
        *ok = read(std::string("{\"i\":") + number + "}", doc);
        return doc.i;
    };
    bool ok = false;
    EXPECT_EQ(intOf("3", &ok), 3);
    EXPECT_TRUE(ok);
    EXPECT_EQ(intOf("3.0", &ok), 3);
    EXPECT_TRUE(ok);
    EXPECT_EQ(intOf("3e0", &ok), 3);
    EXPECT_TRUE(ok);
    EXPECT_EQ(intOf("-2.0", &ok), -2);
    EXPECT_TRUE(ok);
    EXPECT_EQ(intOf("25e-1", &ok), 2);
    EXPECT_FALSE(ok);
    EXPECT_EQ(intOf("1e3", &ok), 1000);
    EXPECT_TRUE(ok);
    EXPECT_EQ(intOf("2.5", &ok), 2);
    EXPECT_FALSE(ok) << "2.5 stores 2 and fails";
    EXPECT_EQ(intOf("-", &ok), 0);
    EXPECT_TRUE(ok) << "a lone minus reads 0";
    EXPECT_EQ(intOf("-2147483648", &ok), -2147483647 - 1);
    EXPECT_TRUE(ok);
    EXPECT_EQ(intOf("2147483647", &ok), 2147483647);
    EXPECT_TRUE(ok);
    intOf("2147483648", &ok);
    EXPECT_FALSE(ok) << "beyond 32 bits is rejected, not wrapped";
    intOf("99999999999999999999999", &ok);
    EXPECT_FALSE(ok);
    intOf("1e10", &ok);
    EXPECT_FALSE(ok);
    intOf("-3e9", &ok);
    EXPECT_FALSE(ok);
}

TEST(JsonReader, FloatsBeyondTheirRangeBecomeInfinite) {
    Doc doc;
    ASSERT_TRUE(read(R"({"f": -1e300, "floats": [1e39]})", doc));
    EXPECT_EQ(doc.f, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(doc.floats.at(0), std::numeric_limits<float>::infinity());
}

TEST(JsonReader, NumbersOutOfDoubleRangeThrow) {
    Doc doc;
    try {
        read(R"({"d": 1e999})", doc);
        FAIL() << "no exception";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "stod argument out of range");
    }
    EXPECT_THROW(read(R"({"unknown": -1e400})", doc), std::out_of_range) << "skipped numbers convert too";
    EXPECT_THROW(read(R"({"i": 1.5e999})", doc), std::out_of_range);
}

TEST(JsonReader, DecimalPointOfTheProcessLocale) {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    Doc doc;
    bool ok = read(R"({"d": 1.25, "f": -0.5e1, "i": 4.0, "floats": [2.75], "unknown": 3.5})", doc);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(ok);
    EXPECT_EQ(doc.d, 1.25);
    EXPECT_EQ(doc.f, -5.0f);
    EXPECT_EQ(doc.i, 4);
    EXPECT_EQ(doc.floats, (std::vector<float>{2.75f}));
    EXPECT_FALSE(reads(R"({"d": 1,25})")) << "the locale's comma is no decimal point in JSON";
}

// ---- Strings ----

TEST(JsonReader, EscapesAndUtf8) {
    EXPECT_EQ(readString(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(readString(R"("\u00e9")"), "\xC3\xA9");
    EXPECT_EQ(readString("\"\xC3\xA9\""), "\xC3\xA9");
    EXPECT_EQ(readString(R"("\u00E9\u0041\u20AC")"), "\xC3\xA9"
                                                     "A\xE2\x82\xAC");
    EXPECT_EQ(readString("\"\xF0\x9F\x98\x80\""), "\xF0\x9F\x98\x80");
    EXPECT_EQ(readString(R"("")"), "");
    std::string nul = readString(R"("a\u0000b")");
    EXPECT_EQ(nul, std::string("a\0b", 3));

    bool ok = true;
    for (const char* bad :
         {R"("\x")", R"("\u12")", R"("\u12g4")", R"("\)", "\"\x80\"", "\"\xC3\"", "\"\xC3(\"", "\"\xE2\x82\"",
          "\"\xF8\x88\x80\x80\x80\"", "\"\xC0\xAF\"", "\"\xF4\x90\x80\x80\"", "\"open"}) {
        readString(bad, true, &ok);
        EXPECT_FALSE(ok) << bad;
    }
}

TEST(JsonReader, SurrogatePairs) {
    EXPECT_EQ(readString(R"("\ud83d\ude00")", true), "\xF0\x9F\x98\x80");
    EXPECT_EQ(readString(R"("\ud83d\ude00")", false), "\xED\xA0\xBD\xED\xB8\x80");
    // The low half may also arrive as raw (CESU-style) UTF-8.
    EXPECT_EQ(readString("\"\\ud83d\xED\xB8\x80\"", true), "\xF0\x9F\x98\x80");
    bool ok = true;
    readString(R"("\ud83d")", true, &ok);
    EXPECT_FALSE(ok) << "a high surrogate must be followed by a low one";
    readString(R"("\ud83dx")", true, &ok);
    EXPECT_FALSE(ok);
    readString(R"("\ud83d\u0041")", true, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(readString(R"("\ud83d")", false, &ok), "\xED\xA0\xBD");
    EXPECT_TRUE(ok);
    EXPECT_EQ(readString(R"("\ude00")", true, &ok), "\xED\xB8\x80") << "a lone low half is stored as it is";
    EXPECT_TRUE(ok);
}

TEST(JsonReader, RawControlCharactersFail) {
    bool ok = true;
    readString("\"a\tb\"", true, &ok);
    EXPECT_FALSE(ok);
    readString("\"a\nb\"", true, &ok);
    EXPECT_FALSE(ok);
    readString(std::string("\"a\0b\"", 5), true, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(readString("\"a\x7F\"", true, &ok), "a\x7F");
    EXPECT_TRUE(ok);
    EXPECT_FALSE(reads("{\"s\t\":1}")) << "keys are strings too";
}

// ---- Comments ----

TEST(JsonReader, CommentsOnlyWhenAllowed) {
    const char* commented =
        "// leading\n{ /* a */ \"i\" /**/ : // x\r 3 /* b ** / */ , \"ints\": [1 //\n, 2]}//end";
    Doc doc;
    EXPECT_TRUE(read(commented, doc, true));
    EXPECT_EQ(doc.i, 3);
    EXPECT_EQ(doc.ints, (std::vector<int>{1, 2}));
    EXPECT_FALSE(reads(commented, false));
    EXPECT_FALSE(reads("// x\n{}", false));
    EXPECT_TRUE(reads("// x\n{}", true));
    EXPECT_TRUE(reads("{}/* done */", true));
    EXPECT_FALSE(reads("{} /* open", true));
    EXPECT_FALSE(reads("{} / x", true));
    EXPECT_FALSE(reads("{}/", true));
    EXPECT_TRUE(reads("{}//", true));
}

// ---- Hostile input ----

TEST(JsonReader, DeepNestingFailsWithoutExhaustingTheStack) {
    for (const char* open : {"[", "{\"a\":"}) {
        std::string deep = "{\"unknown\":";
        for (int i = 0; i < 100000; ++i) deep += open;
        EXPECT_FALSE(reads(deep + "}")) << open;
        std::string extras = "{\"extras\":";
        for (int i = 0; i < 100000; ++i) extras += open;
        EXPECT_FALSE(reads(extras)) << open;
    }
    std::string allowed = "{\"extras\":";
    for (int i = 0; i < refl::json::max_depth - 1; ++i) allowed += "[";
    for (int i = 0; i < refl::json::max_depth - 1; ++i) allowed += "]";
    EXPECT_TRUE(reads(allowed + "}")) << "nesting up to the limit reads";
}

TEST(JsonReader, EveryTruncationOfAValidDocumentFails) {
    const std::string text = R"({"i": 12, "d": -1.5e3, "s": "a\u00e9\ud83d\ude00", "ints": [1, 2],
        "leaves": [{"id": 3}], "ptr": {"label": "p"}, "extras": {"x": [true, null]}, "b": false})";
    ASSERT_TRUE(reads(text));
    for (std::size_t length = 0; length < text.size(); ++length)
        EXPECT_FALSE(reads(text.substr(0, length))) << "cut at " << length;
}

} // namespace
