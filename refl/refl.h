/* refl.h — run-time descriptions of plain record types.

   A record type (a struct with public data members and no hand-written serialisation code)
   states its members once, with REFL_MEMBERS inside its body. The macro's argument list is
   both the member-name text and the list of member expressions, so the names and the members
   can never disagree:

       struct GLTFBuffer {
           int byteLength = 0;
           std::string uri;
           REFL_MEMBERS(byteLength, uri)
       };

       GLTFBuffer buffer;
       refl::type_info& info = refl::type_info_of(buffer);         // registers on first use
       info.member_count();                                         // 2
       info.member_named("uri").offset();                           // offset of buffer.uri
       int* length = info.member_at(0).address_of<int>(&buffer);    // &buffer.byteLength
       refl::query_of(buffer, [](refl::query& q) { q.text(); });    // "Obj"

   At first use the name text is split into names (refl::split_names) and bound, in order, to
   the members: each becomes a refl::field<M> that knows its name, its byte offset and its type
   M. Registration is lazy and thread-safe; afterwards a description is read-only.

   Generic code walks a record with a refl::visitor: member::visit hands the member to the
   visitor operation of its type (int, float, double, bool, std::string, char[N], records by
   value, std::shared_ptr<record>, std::vector<E> and std::map<std::string, E> of supported E,
   and the generic JSON value refl::json::value). The JSON reader (refl/json/json.h) is such a
   visitor. refl::query objects give dynamic, by-name access to a record's members for host code.

   The macro adds one non-virtual member function, refl_register, and nothing else: records stay
   aggregates with their layout unchanged. This module does not write records anywhere, does
   not support inheritance between records, and needs no code generator. This header is the
   interface; the templates behind it are defined in refl_detail.h, which it includes last. */
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

// Declares the reflected members of the enclosing record, in this order, under these names.
// Registration order may differ from declaration order; a name may be listed only once per
// member, and every entry must name a data member of the record.
#define REFL_MEMBERS(...)                                                                                    \
    void refl_register(::refl::type_info& refl_info) {                                                       \
        ::refl::add_members(refl_info, *this, #__VA_ARGS__ __VA_OPT__(, ) __VA_ARGS__);                      \
    }

namespace refl {

// ---- Value kinds ----

// What the next value is, as answered by visitor::peek and query::kind.
enum class kind : int {
    none = 0,    // a visitor that produces values, or an empty query
    invalid = 1, // the next input is no value
    object = 2,
    array = 3,
    null = 4,
    boolean = 5,
    number = 6,
    string = 7,
};

// ---- Non-owning callables ----

// A reference to a callable, cheap to pass down a visit; the callable must outlive the call.
template <class Signature> class function_ref;

template <class Result, class... Args> class function_ref<Result(Args...)> {
public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, function_ref> &&
             std::is_invocable_r_v<Result, F&, Args...>) function_ref(F&& callable)
    noexcept
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          call_([](void* object, Args... args) -> Result {
              return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
          }) {}

    Result operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

private:
    void* object_;
    Result (*call_)(void*, Args...);
};

class member;
class type_info;
class visitor;
class query;
namespace json {
class value;
}

using query_callback = function_ref<void(query&)>;

// ---- Record descriptions ----

// Any description of a record type: its members by position and by name.
class member_provider {
public:
    virtual ~member_provider() = default;
    virtual std::size_t member_count() const = 0;
    virtual bool has_member(std::string_view name) const = 0;
    // The member registered last under `name`; ask has_member first (fatal when absent).
    virtual const member& member_named(std::string_view name) const = 0;
    // The member at `index` in registration order, 0 first (fatal when out of range).
    virtual const member& member_at(std::size_t index) const = 0;
};

// One member of a record: its name, where it lives and how to visit it.
class member {
public:
    member(std::string name, std::int32_t offset) : name_(std::move(name)), offset_(offset) {}
    virtual ~member() = default;
    member(const member&) = delete;
    member& operator=(const member&) = delete;

    // The member's address inside `record` when its type is `type`, else null.
    virtual void* typed_address(const std::type_info& type, void* record) const = 0;
    virtual const std::type_info& type() const = 0;
    // Hands the member of `record` to the visitor operation of its type.
    virtual void visit(visitor& v, void* record) const = 0;
    // Calls `callback` with a query over the member of `record`.
    virtual void query(void* record, query_callback callback) const = 0;

    const std::string& name() const { return name_; }
    std::int32_t offset() const { return offset_; } // bytes from the record's start

    template <class M> M* address_of(void* record) const {
        return static_cast<M*>(typed_address(typeid(M), record));
    }

protected:
    void* located(void* record) const { return static_cast<char*>(record) + offset_; }

private:
    std::string name_;
    std::int32_t offset_;
};

// The description of one reflected record type; exactly one exists per type (type_info_of).
class type_info final : public member_provider {
public:
    explicit type_info(const std::type_info& type) : type_(type) {}
    type_info(const type_info&) = delete;
    type_info& operator=(const type_info&) = delete;

    std::size_t member_count() const override { return members_.size(); }
    bool has_member(std::string_view name) const override { return find(name) != nullptr; }
    const member& member_named(std::string_view name) const override;
    const member& member_at(std::size_t index) const override;

    // The member registered last under `name`, or null.
    const member* find(std::string_view name) const {
        auto found = byName_.find(name);
        return found == byName_.end() ? nullptr : found->second;
    }
    const std::type_info& type() const { return type_; }
    bool initialised() const { return initialised_.load(std::memory_order_acquire) != 0; }

    // Registration: called from a record's refl_register only.
    void add_member(std::unique_ptr<member> added);
    // Queues `action` to run once the registration function has returned, still under the lock.
    void defer(std::function<void()> action) { deferred_.push_back(std::move(action)); }

    // Runs `registration` once, then the deferred actions, then marks the description ready.
    void initialise(function_ref<void(type_info&)> registration);

private:
    struct name_hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };

    const std::type_info& type_;
    std::vector<std::unique_ptr<member>> members_;
    std::unordered_map<std::string, const member*, name_hash, std::equal_to<>> byName_;
    std::atomic<std::uint32_t> initialised_{0};
    std::mutex mutex_;
    std::vector<std::function<void()>> deferred_;
};

// Splits a member-name list: names end at commas and blanks; a bracketed entry "(name ...)"
// contributes its first word and is skipped up to its matching ")".
std::vector<std::string> split_names(std::string_view list);

// ---- Visitors ----

// A walker over values, driven by the members it is handed. Readers consume input into the
// values; writers would produce output from them.
class visitor {
public:
    virtual ~visitor() = default;

    // The concrete type to create for an empty pointer member declared as `declared`, or null
    // for the declared type itself.
    virtual const type_info* choose_type(const type_info& declared) = 0;
    virtual kind peek() = 0;
    // A whole record; returns false to be walked member by member (visit_members) instead.
    virtual bool visit_record(const type_info& info, void* record) = 0;
    // A key/value container: `on_key` is called per key and must visit that key's value.
    virtual bool visit_object(function_ref<void(const std::string& key)> on_key) = 0;
    // A sequence: `on_element` is called per element and must visit it.
    virtual bool visit_array(function_ref<void()> on_element) = 0;
    virtual void visit_members(const type_info& info, void* record) = 0;
    virtual void begin_container() = 0;
    virtual void end_container() = 0;
    virtual void visit_null() = 0;
    virtual void visit_chars(char* buffer, std::size_t capacity) = 0;
    virtual void visit_string(std::string& value) = 0;
    virtual void visit_double(double& value) = 0;
    virtual void visit_float(float& value) = 0;
    virtual void visit_int(int& value) = 0;
    virtual void visit_bool(bool& value) = 0;
    virtual void visit_int64(std::int64_t& value) = 0; // no member type uses it
};

// ---- Dynamic queries ----

// Dynamic access to one value; operations that do not fit the value do nothing and answer
// 0, null or false.
class query {
public:
    virtual ~query() = default;
    virtual refl::kind kind() = 0;
    // Records and objects: calls `callback` with the query of the member or entry `name`.
    virtual bool member(std::string_view name, query_callback callback) = 0;
    // Arrays: element count.
    virtual std::size_t count() = 0;
    virtual void each_element(function_ref<void(std::size_t index, query& element)> callback) = 0;
    // Records and objects: each member or entry in order.
    virtual void each_member(function_ref<void(const std::string& name, query& value)> callback) = 0;
    // Scalars, strings and arrays pass their own query, records an empty one.
    virtual void scalar(query_callback callback) = 0;
    virtual void value(query_callback callback) = 0;
    // Arrays: the query of element `index` when it is in range.
    virtual void element(std::size_t index, query_callback callback) = 0;
    virtual bool* bool_address() = 0;
    virtual int* int_address() = 0;
    virtual double* double_address() = 0;
    virtual void assign(const std::string& text) = 0;
    virtual void assign(const char* text) = 0;
    // The string itself, "Obj" for records, "" for maps and generic values, else "empty".
    virtual std::string text() = 0;
    virtual float* float_address() = 0;
};

// A query that answers nothing; the base of every concrete query.
class emptyquery : public query {
public:
    refl::kind kind() override { return refl::kind::none; }
    bool member(std::string_view, query_callback) override { return false; }
    std::size_t count() override { return 0; }
    void each_element(function_ref<void(std::size_t, query&)>) override {}
    void each_member(function_ref<void(const std::string&, query&)>) override {}
    void scalar(query_callback) override {}
    void value(query_callback) override {}
    void element(std::size_t, query_callback) override {}
    bool* bool_address() override { return nullptr; }
    int* int_address() override { return nullptr; }
    double* double_address() override { return nullptr; }
    void assign(const std::string&) override {}
    void assign(const char*) override {}
    std::string text() override { return "empty"; }
    float* float_address() override { return nullptr; }
};

// The query of nothing.
class nonequery final : public emptyquery {};

// ---- Generic JSON values ----

namespace json {

// Any JSON value: object, array, null, boolean, number (double) or string. Containers and
// strings live on the heap; copying copies deeply.
class value {
public:
    using object_type = std::map<std::string, value>;
    using array_type = std::vector<value>;

    value() noexcept {}
    value(std::nullptr_t) noexcept {}
    value(bool flag) noexcept : kind_(refl::kind::boolean) { payload_.flag = flag; }
    value(int number) noexcept : value(static_cast<double>(number)) {}
    value(double number) noexcept : kind_(refl::kind::number) { payload_.number = number; }
    value(std::string text);
    value(const char* text) : value(std::string(text)) {}
    value(const value& other);
    value(value&& other) noexcept : kind_(other.kind_), payload_(other.payload_) { other.kind_ = kind::null; }
    value& operator=(value other) noexcept;
    ~value() { release(); }

    static value make_object();
    static value make_array();

    refl::kind kind() const { return kind_; }
    bool is_null() const { return kind_ == kind::null; }
    // Typed access; each answers null when the value holds another kind.
    object_type* object() { return kind_ == kind::object ? payload_.object : nullptr; }
    const object_type* object() const { return kind_ == kind::object ? payload_.object : nullptr; }
    array_type* array() { return kind_ == kind::array ? payload_.array : nullptr; }
    const array_type* array() const { return kind_ == kind::array ? payload_.array : nullptr; }
    const bool* boolean() const { return kind_ == kind::boolean ? &payload_.flag : nullptr; }
    const double* number() const { return kind_ == kind::number ? &payload_.number : nullptr; }
    const std::string* string() const { return kind_ == kind::string ? payload_.text : nullptr; }

    friend bool operator==(const value& a, const value& b);

private:
    void release() noexcept;

    refl::kind kind_ = refl::kind::null;
    union {
        object_type* object;
        array_type* array;
        std::string* text;
        bool flag;
        double number;
    } payload_{};
};

} // namespace json

// ---- Record types ----

// A record type declared with REFL_MEMBERS.
template <class T>
concept reflected = std::is_class_v<T> && requires(T& record, type_info& info) {
    record.refl_register(info);
};

// The one description of T, registered now with `sample` if this is its first use.
template <reflected T> type_info& type_info_of(T& sample);

// The one description of T, registered with a value-initialised sample on first use.
template <reflected T> type_info& type_info_of();

// Hands `value` to the visitor operation of its type (see the list of member types above).
template <class T> void visit_value(visitor& v, T& value);

// Calls `callback` with a query over a whole record (or any supported value).
template <class T> void query_of(T& value, query_callback callback);

// The registration behind REFL_MEMBERS: one name list, the same members in the same order.
template <class Record, class... Members>
void add_members(type_info& info, Record& sample, std::string_view nameList, Members&... values);

} // namespace refl

// The templates' definitions: member type dispatch, fields, registration and typed queries.
#include "refl/refl_detail.h"
