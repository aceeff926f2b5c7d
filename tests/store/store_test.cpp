#include "store/store.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string uniqueName(const char* stem) {
    static int counter = 0;
    return std::string(stem) + "_" + std::to_string(++counter);
}

} // namespace

// The sizes the layers create their Variables with (store.h's NOVA31_CREATE_VARIABLE).
TEST(VariableStore, CreatedVariablesKeepTheirSizesAndAlignment) {
    struct Expected {
        const char* name;
        uint32_t size;
    } expected[] = {{"atcoord", 32},    {"camera", 64},     {"dummy2", 1600},         {"gBufferD", 64},
                    {"iGlobalTime", 4}, {"iResolution", 8}, {"liCache", 32},          {"xfFeedback", 32},
                    {"xfTriCount", 4},  {"baseColor", 16},  {"baseColorTexture", 64}, {"objXF", 64}};
    for (const Expected& e : expected) getVariable(e.name, e.size);
    size_t before = storeBytesUsed();
    for (const Expected& e : expected) {
        Variable* v = getVariable(e.name, 0);
        ASSERT_NE(v, nullptr) << e.name;
        EXPECT_EQ(v->dataSize, e.size) << e.name;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(v->inlineData()) % 16, 0u) << e.name;
    }
    EXPECT_EQ(storeBytesUsed(), before) << "looking up existing Variables must not append";
}

TEST(VariableStore, ExistingNameIsReturnedWhateverTheSize) {
    Variable* first = getVariable("camera", 64);
    Variable* again = getVariable("camera", 64);
    Variable* bigger = getVariable("camera", 128);
    EXPECT_EQ(first, again);
    EXPECT_EQ(first, bigger);
    EXPECT_EQ(bigger->dataSize, 64u);
}

TEST(VariableStore, NewVariablesAreZeroAndNeverMove) {
    std::string name = uniqueName("fresh");
    Variable* v = getVariable(name.c_str(), 100);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->dataSize, 100u);
    EXPECT_EQ(v->stride, 128u + 112u); // header + data rounded up to 16
    auto* bytes = static_cast<unsigned char*>(variableData(v));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(bytes[i], 0) << i;
    std::memset(bytes, 0xAB, 100);
    for (int i = 0; i < 200; ++i) getVariable(uniqueName("filler").c_str(), 1000);
    EXPECT_EQ(getVariable(name.c_str(), 0), v);
    EXPECT_EQ(static_cast<unsigned char*>(variableData(v))[99], 0xAB);
}

TEST(VariableStore, InitFunctionMayReplaceTheResult) {
    static Variable* substitute = getVariable(uniqueName("substitute").c_str(), 4);
    int calls = 0;
    Variable* v = getVariable(
        uniqueName("initialised").c_str(), 8,
        [](Variable* created, void* argument) {
            ++*static_cast<int*>(argument);
            created->replacement = substitute;
            return substitute;
        },
        &calls);
    EXPECT_EQ(v, substitute);
    EXPECT_EQ(calls, 1);
}

TEST(VariableStore, PutFileVariableAppendsAndLookupKeepsTheFirst) {
    std::string name = uniqueName("asset") + ".txt";
    Variable* first = putFileVariable(name.c_str(), 5, "hello");
    Variable* second = putFileVariable(name.c_str(), 3, "bye");
    EXPECT_NE(first, second);
    EXPECT_EQ(getVariable(name.c_str(), 0), first);
    EXPECT_EQ(first->dataSize, 5u);
    const char* text = static_cast<const char*>(variableData(first));
    EXPECT_STREQ(text, "hello") << "file bytes are followed by one zero byte";
    EXPECT_STREQ(static_cast<const char*>(variableData(second)), "bye");
}

TEST(VariableStore, EmptyFileVariableStillHasItsTerminator) {
    std::string name = uniqueName("empty") + ".bin";
    Variable* v = putFileVariable(name.c_str(), 0, nullptr);
    EXPECT_EQ(v->dataSize, 0u);
    EXPECT_EQ(static_cast<const char*>(variableData(v))[0], '\0');
}

TEST(VariableStore, CurrentVariableFollowsReplacementLinksAndExternalData) {
    Variable* a = getVariable(uniqueName("linkA").c_str(), 4);
    Variable* b = getVariable(uniqueName("linkB").c_str(), 4);
    Variable* c = getVariable(uniqueName("linkC").c_str(), 4);
    EXPECT_EQ(currentVariable(a), a);
    a->replacement = b;
    b->replacement = c;
    EXPECT_EQ(currentVariable(a), c);
    int external = 42;
    c->externalData = &external;
    EXPECT_EQ(variableData(currentVariable(a)), &external);
    c->externalData = nullptr;
    EXPECT_EQ(variableData(currentVariable(a)), c->inlineData());
}

TEST(VariableStore, FileNamesResolveFromIdentifiers) {
    std::string stem = uniqueName("tex");
    // The archive provides the file: found under its real name.
    Variable* archived = putFileVariable((stem + ".png").c_str(), 3, "PNG");
    EXPECT_EQ(getVariable(("file_" + stem + "_DOT_png").c_str(), 0), archived);

    // Not in the store: loaded from the working directory.
    std::string diskStem = uniqueName("disk");
    writeFile(diskStem + ".glsl", "void main(){}");
    Variable* loaded = getVariable(("file_" + diskStem + "_DOT_glsl").c_str(), 0);
    ASSERT_NE(loaded, nullptr);
    EXPECT_STREQ(loaded->name, (diskStem + ".glsl").c_str());
    EXPECT_EQ(loaded->dataSize, 13u);
    EXPECT_STREQ(static_cast<const char*>(variableData(loaded)), "void main(){}");
    std::filesystem::remove(diskStem + ".glsl");

    // Neither: nothing.
    EXPECT_EQ(getVariable(("file_" + uniqueName("nowhere") + "_DOT_png").c_str(), 0), nullptr);
}

TEST(VariableStore, DotReplacementSkipsReplacedOccurrencesWhole) {
    std::string stem = uniqueName("dots");
    Variable* v = putFileVariable((stem + ".DOT_x").c_str(), 1, "x");
    // "_DOT_DOT_x": the first "_DOT_" becomes ".", the rest "DOT_x" stays.
    EXPECT_EQ(getVariable(("file_" + stem + "_DOT_DOT_x").c_str(), 0), v);
}

TEST(VariableStore, NameWithoutDotIsNeverLoadedFromDisk) {
    std::string name = uniqueName("nodot");
    writeFile(name, "data");
    EXPECT_EQ(getVariable(name.c_str(), 0), nullptr);
    std::filesystem::remove(name);
}

TEST(VariableStore, DirectoriesAreNotLoadedAsFiles) {
    std::string name = uniqueName("folder") + ".d";
    std::filesystem::create_directory(name);
    EXPECT_EQ(getVariable(name.c_str(), 0), nullptr);
    std::filesystem::remove(name);
}

TEST(VariableStore, ImageHookRunsOnEveryStoredFile) {
    static int hookCalls = 0;
    setImageHook([](Variable* file, void*) {
        ++hookCalls;
        return file;
    });
    std::string name = uniqueName("hooked") + ".png";
    putFileVariable(name.c_str(), 1, "x");
    EXPECT_EQ(hookCalls, 1);
    std::string diskName = uniqueName("hookeddisk") + ".png";
    writeFile(diskName, "y");
    getVariable(diskName.c_str(), 0);
    EXPECT_EQ(hookCalls, 2);
    std::filesystem::remove(diskName);
    setImageHook(nullptr);
    putFileVariable((uniqueName("unhooked") + ".png").c_str(), 1, "z");
    EXPECT_EQ(hookCalls, 2);
}

using VariableStoreDeathTest = ::testing::Test;

TEST(VariableStoreDeathTest, OverLongNameIsFatal) {
    std::string longName(104, 'n');
    EXPECT_EXIT(getVariable(longName.c_str(), 4), ::testing::ExitedWithCode(kFatalExitStatus),
                "104 characters long");
    std::string longest(103, 'm');
    EXPECT_NE(getVariable(longest.c_str(), 4), nullptr);
}

TEST(VariableStoreDeathTest, OverrunningTheRegionIsFatal) {
    EXPECT_EXIT(getVariable("huge", 200u * 1024u * 1024u), ::testing::ExitedWithCode(kFatalExitStatus),
                "no room for huge");
    EXPECT_EXIT(
        {
            for (int i = 0; i < 20; ++i) getVariable(uniqueName("chunk").c_str(), 8u * 1024u * 1024u);
        },
        ::testing::ExitedWithCode(kFatalExitStatus), "no room for chunk");
}

TEST(VariableStoreDeathTest, EmptyNameIsFatal) {
    EXPECT_EXIT(getVariable("", 4), ::testing::ExitedWithCode(kFatalExitStatus), "needs a name");
}
