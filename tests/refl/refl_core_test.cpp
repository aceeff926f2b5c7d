// Record descriptions: name lists, registration, dispatch to visitors, queries, generic values.
#include "refl/refl.h"
#include "tests/support/fatal_exit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>

namespace {

using refl::kind;

// ---- Name lists ----

TEST(SplitNames, BlanksAndCommasSeparateNames) {
    EXPECT_EQ(refl::split_names("a, b,c  d"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(refl::split_names("a, b, "), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(refl::split_names(" ,\t, a,,\n b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(refl::split_names("").empty());
    EXPECT_TRUE(refl::split_names(" , ,").empty());
    EXPECT_EQ(refl::split_names("single"), (std::vector<std::string>{"single"}));
}

TEST(SplitNames, BracketedEntryGivesItsFirstWord) {
    EXPECT_EQ(refl::split_names("(a extra, (x)), b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(refl::split_names("( a), b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(refl::split_names("(a,b), c"), (std::vector<std::string>{"a", "c"}));
    // Brackets inside quoted text do not count, and \" does not end the quote.
    EXPECT_EQ(refl::split_names(R"x((a ")(" ), b)x"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(refl::split_names(R"x((a "\")" ), b)x"), (std::vector<std::string>{"a", "b"}));
    // An unclosed entry swallows the rest of the text.
    EXPECT_EQ(refl::split_names("x, (a (b), c"), (std::vector<std::string>{"x", "a"}));
}

// ---- Registration ----

struct Inner {
    int x = 0;
    std::string label;
    REFL_MEMBERS(x, label)
};

struct Sample {
    std::string name;
    int count = 0;
    double weight = 0;
    float ratio = 0;
    bool flag = false;
    Inner inner;
    std::shared_ptr<Inner> optional;
    std::vector<int> ints;
    std::vector<Inner> inners;
    std::map<std::string, int> table;
    refl::json::value extras;
    // Registration order differs from declaration order on purpose.
    REFL_MEMBERS(count, name, weight, ratio, flag, inner, optional, ints, inners, table, extras)
};

TEST(Registration, MembersInListOrderWithTheirOffsets) {
    refl::type_info& info = refl::type_info_of<Sample>();
    ASSERT_EQ(info.member_count(), 11u);
    const char* names[] = {"count",    "name", "weight", "ratio", "flag",  "inner",
                           "optional", "ints", "inners", "table", "extras"};
    for (std::size_t i = 0; i < 11; ++i) EXPECT_EQ(info.member_at(i).name(), names[i]);
    Sample other;
    auto offsetIn = [&other](const void* field) {
        return static_cast<std::int32_t>(static_cast<const char*>(field) -
                                         reinterpret_cast<const char*>(&other));
    };
    EXPECT_EQ(info.member_at(0).offset(), offsetIn(&other.count));
    EXPECT_EQ(info.member_at(1).offset(), offsetIn(&other.name));
    EXPECT_EQ(info.member_named("extras").offset(), offsetIn(&other.extras));
    EXPECT_TRUE(info.has_member("inners"));
    EXPECT_FALSE(info.has_member("Inners"));
    EXPECT_EQ(info.member_named("ints").type(), typeid(std::vector<int>));
    EXPECT_EQ(&refl::type_info_of<Sample>(), &info) << "one description per type";
}

TEST(Registration, TypedAddressOnlyForTheMembersOwnType) {
    Sample sample;
    const refl::member& count = refl::type_info_of<Sample>().member_named("count");
    EXPECT_EQ(count.address_of<int>(&sample), &sample.count);
    EXPECT_EQ(count.address_of<double>(&sample), nullptr);
    EXPECT_EQ(count.typed_address(typeid(float), &sample), nullptr);
    const refl::member& inner = refl::type_info_of<Sample>().member_named("inner");
    EXPECT_EQ(inner.address_of<Inner>(&sample), &sample.inner);
}

// Registered by hand: the macro cannot give two members one name.
struct Twice {
    int first = 0;
    int second = 0;
    int third = 0;
    void refl_register(refl::type_info& info) {
        refl::add_members(info, *this, "value, (third \"(\"), (value extra)", second, third, first);
    }
};

TEST(Registration, DuplicateNamesKeepBothMembersAndFindTheLast) {
    Twice twice;
    refl::type_info& info = refl::type_info_of(twice);
    ASSERT_EQ(info.member_count(), 3u);
    EXPECT_EQ(info.member_at(0).name(), "value");
    EXPECT_EQ(info.member_at(1).name(), "third");
    EXPECT_EQ(info.member_at(2).name(), "value");
    EXPECT_EQ(info.member_named("value").address_of<int>(&twice), &twice.first);
    EXPECT_EQ(info.member_at(0).address_of<int>(&twice), &twice.second);
}

TEST(RegistrationDeathTest, AbsentMemberByNameIsFatal) {
    EXPECT_EXIT(refl::type_info_of<Inner>().member_named("missing"),
                ::testing::ExitedWithCode(kFatalExitStatus), "no member \"missing\"");
    EXPECT_EXIT(refl::type_info_of<Inner>().member_at(2), ::testing::ExitedWithCode(kFatalExitStatus),
                "position 2");
}

// Written out by hand to count how often registration runs and when deferred actions run.
std::atomic<int> registrations{0};
std::atomic<int> deferredRuns{0};
std::atomic<std::size_t> membersSeenByDeferredAction{0};

struct Counted {
    int a = 0;
    int b = 0;
    void refl_register(refl::type_info& info) {
        registrations.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // widen the race window
        info.defer([&info] {
            membersSeenByDeferredAction = info.member_count();
            deferredRuns.fetch_add(1);
            info.defer([] { deferredRuns.fetch_add(1); });
        });
        refl::add_members(info, *this, "a, b", a, b);
    }
};

TEST(Registration, RunsOnceAcrossThreadsWithDeferredActionsAfterIt) {
    std::vector<std::thread> threads;
    std::atomic<int> wrongCounts{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            if (refl::type_info_of<Counted>().member_count() != 2) wrongCounts.fetch_add(1);
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(registrations.load(), 1);
    EXPECT_EQ(deferredRuns.load(), 2) << "deferred actions, including one queued by another";
    EXPECT_EQ(membersSeenByDeferredAction.load(), 2u) << "deferred actions run after registration";
    EXPECT_EQ(wrongCounts.load(), 0) << "no thread saw a half-registered description";
}

// ---- Dispatch ----

// Records which visitor operations a member's visit reaches; produces values (kind none).
struct RecordingVisitor final : refl::visitor {
    std::vector<std::string> calls;
    kind next = kind::none;
    const refl::type_info* chosen = nullptr;

    const refl::type_info* choose_type(const refl::type_info&) override {
        calls.push_back("choose");
        return chosen;
    }
    kind peek() override {
        calls.push_back("peek");
        return next;
    }
    bool visit_record(const refl::type_info&, void*) override {
        calls.push_back("record");
        return false;
    }
    bool visit_object(refl::function_ref<void(const std::string&)> onKey) override {
        calls.push_back("object");
        onKey("k");
        return true;
    }
    bool visit_array(refl::function_ref<void()> onElement) override {
        calls.push_back("array");
        onElement();
        onElement();
        return true;
    }
    void visit_members(const refl::type_info&, void*) override { calls.push_back("members"); }
    void begin_container() override { calls.push_back("begin"); }
    void end_container() override { calls.push_back("end"); }
    void visit_null() override { calls.push_back("null"); }
    void visit_chars(char*, std::size_t) override { calls.push_back("chars"); }
    void visit_string(std::string&) override { calls.push_back("string"); }
    void visit_double(double& v) override {
        calls.push_back("double");
        v = 2.5;
    }
    void visit_float(float&) override { calls.push_back("float"); }
    void visit_int(int& v) override {
        calls.push_back("int");
        v = 7;
    }
    void visit_bool(bool&) override { calls.push_back("bool"); }
    void visit_int64(std::int64_t&) override { calls.push_back("int64"); }
};

std::vector<std::string> visitMember(Sample& sample, const char* name, RecordingVisitor& v) {
    refl::type_info_of<Sample>().member_named(name).visit(v, &sample);
    return v.calls;
}

using Calls = std::vector<std::string>;

TEST(Dispatch, EachMemberTypeReachesItsOperation) {
    Sample sample;
    {
        RecordingVisitor v;
        EXPECT_EQ(visitMember(sample, "count", v), Calls{"int"});
        EXPECT_EQ(sample.count, 7);
    }
    {
        RecordingVisitor v;
        EXPECT_EQ(visitMember(sample, "ratio", v), Calls{"float"});
    }
    {
        RecordingVisitor v;
        EXPECT_EQ(visitMember(sample, "inner", v), (Calls{"record", "members"}));
    }
    {
        RecordingVisitor v;
        EXPECT_EQ(visitMember(sample, "ints", v), (Calls{"array", "int", "int"}));
        EXPECT_EQ(sample.ints, (std::vector<int>{7, 7}));
    }
    {
        RecordingVisitor v;
        EXPECT_EQ(visitMember(sample, "inners", v),
                  (Calls{"array", "record", "members", "record", "members"}));
        EXPECT_EQ(sample.inners.size(), 2u);
    }
    {
        RecordingVisitor v;
        EXPECT_EQ(visitMember(sample, "table", v), (Calls{"object", "int"}));
        EXPECT_EQ(sample.table.at("k"), 7);
    }
}

TEST(Dispatch, PointerMembers) {
    Sample sample;
    {
        RecordingVisitor v; // a producing visitor and no object: null
        EXPECT_EQ(visitMember(sample, "optional", v), (Calls{"peek", "null"}));
        EXPECT_FALSE(sample.optional);
    }
    {
        RecordingVisitor v;
        v.next = kind::object;
        EXPECT_EQ(visitMember(sample, "optional", v), (Calls{"peek", "choose", "record", "members"}));
        EXPECT_TRUE(sample.optional);
    }
    {
        RecordingVisitor v; // an existing pointee is visited, nothing is chosen again
        EXPECT_EQ(visitMember(sample, "optional", v), (Calls{"peek", "record", "members"}));
    }
    {
        RecordingVisitor v;
        v.next = kind::null;
        EXPECT_EQ(visitMember(sample, "optional", v), (Calls{"peek", "null"}));
        EXPECT_FALSE(sample.optional);
    }
    {
        RecordingVisitor v; // a chosen type other than the declared one cannot be made
        v.next = kind::object;
        v.chosen = &refl::type_info_of<Sample>();
        EXPECT_EQ(visitMember(sample, "optional", v), (Calls{"peek", "choose", "null"}));
        EXPECT_FALSE(sample.optional);
    }
}

TEST(Dispatch, GenericValueFollowsThePeekedKind) {
    Sample sample;
    RecordingVisitor v;
    v.next = kind::number;
    EXPECT_EQ(visitMember(sample, "extras", v), (Calls{"peek", "double"}));
    ASSERT_NE(sample.extras.number(), nullptr);
    EXPECT_EQ(*sample.extras.number(), 2.5);
}

// ---- Queries ----

TEST(Query, IntMember) {
    Sample sample;
    sample.count = 3;
    bool called = false;
    refl::type_info_of<Sample>().member_named("count").query(&sample, [&](refl::query& q) {
        called = true;
        EXPECT_EQ(q.kind(), kind::number);
        EXPECT_EQ(q.int_address(), &sample.count);
        EXPECT_EQ(q.bool_address(), nullptr);
        EXPECT_EQ(q.double_address(), nullptr);
        EXPECT_EQ(q.float_address(), nullptr);
        EXPECT_EQ(q.count(), 0u);
        EXPECT_FALSE(q.member("x", [](refl::query&) { FAIL(); }));
        EXPECT_EQ(q.text(), "empty");
        int scalarCalls = 0;
        q.scalar([&](refl::query& self) { scalarCalls += self.int_address() == &sample.count; });
        EXPECT_EQ(scalarCalls, 1);
    });
    EXPECT_TRUE(called);
}

TEST(Query, ScalarAndStringMembers) {
    Sample sample;
    refl::query_of(sample, [&](refl::query& q) {
        EXPECT_EQ(q.kind(), kind::object);
        EXPECT_EQ(q.text(), "Obj");
        EXPECT_TRUE(
            q.member("weight", [&](refl::query& m) { EXPECT_EQ(m.double_address(), &sample.weight); }));
        EXPECT_TRUE(q.member("ratio", [&](refl::query& m) { EXPECT_EQ(m.float_address(), &sample.ratio); }));
        EXPECT_TRUE(q.member("flag", [&](refl::query& m) {
            EXPECT_EQ(m.kind(), kind::boolean);
            EXPECT_EQ(m.bool_address(), &sample.flag);
        }));
        EXPECT_TRUE(q.member("name", [&](refl::query& m) {
            EXPECT_EQ(m.kind(), kind::string);
            m.assign(std::string("node"));
            EXPECT_EQ(m.text(), "node");
            m.assign("root");
        }));
        EXPECT_FALSE(q.member("nothing", [](refl::query&) { FAIL(); }));
        int emptyCalls = 0;
        q.scalar([&](refl::query& e) { emptyCalls += e.kind() == kind::none; });
        EXPECT_EQ(emptyCalls, 1) << "records pass an empty query";
    });
    EXPECT_EQ(sample.name, "root");
}

TEST(Query, EachMemberInRegistrationOrder) {
    Sample sample;
    std::vector<std::string> seen;
    refl::query_of(sample, [&](refl::query& q) {
        q.each_member([&](const std::string& name, refl::query& m) {
            seen.push_back(name + ":" + std::to_string(static_cast<int>(m.kind())));
        });
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"count:6", "name:7", "weight:6", "ratio:6", "flag:5", "inner:2",
                                              "optional:4", "ints:3", "inners:3", "table:2", "extras:4"}));
}

TEST(Query, VectorsMapsAndPointers) {
    Sample sample;
    sample.ints = {4, 5, 6};
    sample.table = {{"POSITION", 2}, {"NORMAL", 3}};
    refl::query_of(sample, [&](refl::query& q) {
        q.member("ints", [&](refl::query& ints) {
            EXPECT_EQ(ints.count(), 3u);
            ints.element(2, [&](refl::query& e) { EXPECT_EQ(e.int_address(), &sample.ints[2]); });
            ints.element(3, [](refl::query&) { FAIL() << "out of range"; });
            std::size_t sum = 0;
            ints.each_element([&](std::size_t i, refl::query& e) {
                sum += i * static_cast<std::size_t>(*e.int_address());
            });
            EXPECT_EQ(sum, 0 * 4 + 1 * 5 + 2 * 6u);
            EXPECT_EQ(ints.text(), "empty");
        });
        q.member("table", [&](refl::query& table) {
            EXPECT_EQ(table.kind(), kind::object);
            EXPECT_TRUE(table.member("NORMAL", [&](refl::query& e) { EXPECT_EQ(*e.int_address(), 3); }));
            EXPECT_FALSE(table.member("TEXCOORD_0", [](refl::query&) { FAIL(); }));
            EXPECT_EQ(table.text(), "");
            table.scalar([](refl::query&) { FAIL() << "maps do not pass themselves"; });
        });
        q.member("optional", [&](refl::query& p) {
            EXPECT_EQ(p.kind(), kind::null);
            EXPECT_FALSE(p.member("x", [](refl::query&) { FAIL(); }));
            EXPECT_EQ(p.text(), "empty");
        });
    });
    sample.optional = std::make_shared<Inner>();
    refl::query_of(sample, [&](refl::query& q) {
        q.member("optional", [&](refl::query& p) {
            EXPECT_EQ(p.kind(), kind::object);
            EXPECT_EQ(p.text(), "Obj");
            EXPECT_TRUE(
                p.member("x", [&](refl::query& x) { EXPECT_EQ(x.int_address(), &sample.optional->x); }));
        });
    });
}

// ---- Generic JSON values ----

TEST(JsonValue, CopiesDeeplyAndCompares) {
    using refl::json::value;
    value object = value::make_object();
    (*object.object())["list"] = value::make_array();
    (*object.object())["list"].array()->push_back(value(1.5));
    (*object.object())["text"] = value("hello");
    value copy = object;
    EXPECT_EQ(copy, object);
    (*copy.object())["list"].array()->push_back(value(true));
    EXPECT_EQ(object.object()->at("list").array()->size(), 1u) << "the copy owns its own array";
    EXPECT_FALSE(copy == object);
    value moved = std::move(copy);
    EXPECT_TRUE(copy.is_null());
    EXPECT_EQ(moved.object()->size(), 2u);
    EXPECT_EQ(value(), value(nullptr));
    EXPECT_EQ(value("a").string()->size(), 1u);
    EXPECT_EQ(value(3).number() ? *value(3).number() : 0.0, 3.0);
    EXPECT_EQ(value(false).array(), nullptr);

    refl::query_of(object, [&](refl::query& q) {
        EXPECT_EQ(q.kind(), kind::object);
        EXPECT_TRUE(q.member("list", [&](refl::query& list) {
            EXPECT_EQ(list.kind(), kind::array);
            EXPECT_EQ(list.count(), 1u);
            list.element(0, [](refl::query& e) { EXPECT_EQ(e.kind(), kind::number); });
        }));
        EXPECT_EQ(q.text(), "");
    });
}

} // namespace
