/* refl_detail.h — the template machinery behind refl.h, included at its end; not included on
   its own. How each supported member type is visited (dispatch<T>), the member description of
   one type (field<M>), the registration REFL_MEMBERS expands to (add_members) and the typed
   queries (typedquery<T>). A new member type gets a dispatch and a typedquery specialisation
   here and a visitor operation in refl.h. */
#pragma once

#include "refl/refl.h"

namespace refl {

namespace detail {
template <class T> type_info& type_info_storage() {
    static type_info info(typeid(T));
    return info;
}
} // namespace detail

template <reflected T> type_info& type_info_of(T& sample) {
    type_info& info = detail::type_info_storage<T>();
    if (!info.initialised())
        info.initialise([&sample](type_info& registering) { sample.refl_register(registering); });
    return info;
}

template <reflected T> type_info& type_info_of() {
    type_info& info = detail::type_info_storage<T>();
    if (!info.initialised()) {
        T sample{};
        type_info_of(sample);
    }
    return info;
}

// How values of each supported member type are visited and queried.
template <class T> struct dispatch;  // unsupported member types fail to compile here
template <class T> class typedquery; // defined per member type under "Typed queries"

template <class T> void visit_value(visitor& v, T& value) {
    dispatch<T>::visit(v, value);
}

template <> struct dispatch<int> {
    static void visit(visitor& v, int& value) { v.visit_int(value); }
};
template <> struct dispatch<float> {
    static void visit(visitor& v, float& value) { v.visit_float(value); }
};
template <> struct dispatch<double> {
    static void visit(visitor& v, double& value) { v.visit_double(value); }
};
template <> struct dispatch<bool> {
    static void visit(visitor& v, bool& value) { v.visit_bool(value); }
};
template <> struct dispatch<std::string> {
    static void visit(visitor& v, std::string& value) { v.visit_string(value); }
};
template <std::size_t N> struct dispatch<char[N]> {
    static void visit(visitor& v, char (&value)[N]) { v.visit_chars(value, N); }
};

template <reflected R> struct dispatch<R> {
    static void visit(visitor& v, R& record) {
        type_info& info = type_info_of(record);
        if (!v.visit_record(info, &record)) v.visit_members(info, &record);
    }
};

template <reflected R> struct dispatch<std::shared_ptr<R>> {
    static void visit(visitor& v, std::shared_ptr<R>& pointer) {
        kind next = v.peek();
        if (next == kind::null) {
            // JSON null says there is no object, also when an earlier duplicate key made one.
            pointer.reset();
            v.visit_null();
            return;
        }
        if (next == kind::none && !pointer) {
            v.visit_null();
            return;
        }
        if (!pointer) {
            const type_info& declared = type_info_of<R>();
            const type_info* chosen = v.choose_type(declared);
            if (chosen != nullptr && chosen != &declared) {
                // No other type can be created in place of R: treat the value as absent.
                v.visit_null();
                return;
            }
            pointer = std::make_shared<R>();
        }
        dispatch<R>::visit(v, *pointer);
    }
};

template <class E> struct dispatch<std::vector<E>> {
    static_assert(!std::is_same_v<E, bool>, "std::vector<bool> has no addressable elements");
    static void visit(visitor& v, std::vector<E>& elements) {
        v.visit_array([&v, &elements] {
            elements.emplace_back();
            dispatch<E>::visit(v, elements.back());
        });
    }
};

template <class E> struct dispatch<std::map<std::string, E>> {
    static void visit(visitor& v, std::map<std::string, E>& entries) {
        v.visit_object([&v, &entries](const std::string& key) { dispatch<E>::visit(v, entries[key]); });
    }
};

template <> struct dispatch<json::value> { static void visit(visitor& v, json::value& value); };

// ---- Fields ----

// The description of one member of type M.
template <class M> class field final : public member {
public:
    using member::member;

    void* typed_address(const std::type_info& asked, void* record) const override {
        return asked == typeid(M) ? located(record) : nullptr;
    }
    const std::type_info& type() const override { return typeid(M); }
    void visit(visitor& v, void* record) const override {
        dispatch<M>::visit(v, *static_cast<M*>(located(record)));
    }
    void query(void* record, query_callback callback) const override {
        typedquery<M> q(*static_cast<M*>(located(record)));
        callback(q);
    }
};

// ---- Registration ----

// Adds `value` (a member of `sample`) as the member named by entry `position` of `names`.
[[noreturn]] void missing_member_name(const type_info& info, std::size_t position);

template <class Record, class M>
void add_member(type_info& info, Record& sample, const std::vector<std::string>& names, std::size_t position,
                M& value) {
    static_assert(!std::is_const_v<M>, "reflected members must be assignable");
    if (position >= names.size()) missing_member_name(info, position);
    auto offset = reinterpret_cast<const char*>(std::addressof(value)) -
                  reinterpret_cast<const char*>(std::addressof(sample));
    info.add_member(std::make_unique<field<M>>(names[position], static_cast<std::int32_t>(offset)));
}

template <class Record, class... Members>
void add_members(type_info& info, Record& sample, std::string_view nameList, Members&... values) {
    std::vector<std::string> names = split_names(nameList);
    std::size_t position = 0;
    (add_member(info, sample, names, position++, values), ...);
}

// ---- Typed queries ----

template <class T> class scalar_query : public emptyquery {
public:
    explicit scalar_query(T& value) : value_(value) {}
    void scalar(query_callback callback) override { callback(*this); }
    void value(query_callback callback) override { callback(*this); }

protected:
    T& value_;
};

template <> class typedquery<int> final : public scalar_query<int> {
public:
    using scalar_query::scalar_query;
    refl::kind kind() override { return refl::kind::number; }
    int* int_address() override { return &value_; }
};
template <> class typedquery<float> final : public scalar_query<float> {
public:
    using scalar_query::scalar_query;
    refl::kind kind() override { return refl::kind::number; }
    float* float_address() override { return &value_; }
};
template <> class typedquery<double> final : public scalar_query<double> {
public:
    using scalar_query::scalar_query;
    refl::kind kind() override { return refl::kind::number; }
    double* double_address() override { return &value_; }
};
template <> class typedquery<bool> final : public scalar_query<bool> {
public:
    using scalar_query::scalar_query;
    refl::kind kind() override { return refl::kind::boolean; }
    bool* bool_address() override { return &value_; }
};
template <> class typedquery<std::string> final : public scalar_query<std::string> {
public:
    using scalar_query::scalar_query;
    refl::kind kind() override { return refl::kind::string; }
    void assign(const std::string& text) override { value_ = text; }
    void assign(const char* text) override { value_ = text != nullptr ? text : ""; }
    std::string text() override { return value_; }
};
template <std::size_t N> class typedquery<char[N]> final : public emptyquery {
public:
    explicit typedquery(char (&)[N]) {}
};

template <reflected R> class typedquery<R> final : public emptyquery {
public:
    explicit typedquery(R& record) : record_(record), info_(type_info_of(record)) {}
    refl::kind kind() override { return refl::kind::object; }
    bool member(std::string_view name, query_callback callback) override {
        const refl::member* found = info_.find(name);
        if (found == nullptr) return false;
        found->query(&record_, callback);
        return true;
    }
    void each_member(function_ref<void(const std::string&, query&)> callback) override {
        for (std::size_t i = 0; i < info_.member_count(); ++i) {
            const refl::member& m = info_.member_at(i);
            m.query(&record_, [&](query& q) { callback(m.name(), q); });
        }
    }
    void scalar(query_callback callback) override { empty(callback); }
    void value(query_callback callback) override { empty(callback); }
    std::string text() override { return "Obj"; }

private:
    static void empty(query_callback callback) {
        nonequery none;
        callback(none);
    }
    R& record_;
    type_info& info_;
};

template <class R> class typedquery<std::shared_ptr<R>> final : public emptyquery {
public:
    explicit typedquery(std::shared_ptr<R>& pointer) : pointer_(pointer) {}
    refl::kind kind() override { return pointer_ ? pointee().kind() : refl::kind::null; }
    bool member(std::string_view name, query_callback callback) override {
        return pointer_ && pointee().member(name, callback);
    }
    std::size_t count() override { return pointer_ ? pointee().count() : 0; }
    void each_element(function_ref<void(std::size_t, query&)> callback) override {
        if (pointer_) pointee().each_element(callback);
    }
    void each_member(function_ref<void(const std::string&, query&)> callback) override {
        if (pointer_) pointee().each_member(callback);
    }
    void element(std::size_t index, query_callback callback) override {
        if (pointer_) pointee().element(index, callback);
    }
    bool* bool_address() override { return pointer_ ? pointee().bool_address() : nullptr; }
    int* int_address() override { return pointer_ ? pointee().int_address() : nullptr; }
    double* double_address() override { return pointer_ ? pointee().double_address() : nullptr; }
    float* float_address() override { return pointer_ ? pointee().float_address() : nullptr; }
    void assign(const std::string& text) override {
        if (pointer_) pointee().assign(text);
    }
    void assign(const char* text) override {
        if (pointer_) pointee().assign(text);
    }
    std::string text() override { return pointer_ ? pointee().text() : emptyquery::text(); }

private:
    typedquery<R>& pointee() {
        if (!inner_) inner_ = std::make_unique<typedquery<R>>(*pointer_);
        return *inner_;
    }
    std::shared_ptr<R>& pointer_;
    std::unique_ptr<typedquery<R>> inner_;
};

template <class E> class typedquery<std::vector<E>> final : public emptyquery {
public:
    explicit typedquery(std::vector<E>& elements) : elements_(elements) {}
    refl::kind kind() override { return refl::kind::array; }
    std::size_t count() override { return elements_.size(); }
    void each_element(function_ref<void(std::size_t, query&)> callback) override {
        for (std::size_t i = 0; i < elements_.size(); ++i) {
            typedquery<E> q(elements_[i]);
            callback(i, q);
        }
    }
    void element(std::size_t index, query_callback callback) override {
        if (index >= elements_.size()) return;
        typedquery<E> q(elements_[index]);
        callback(q);
    }
    void scalar(query_callback callback) override { callback(*this); }
    void value(query_callback callback) override { callback(*this); }

private:
    std::vector<E>& elements_;
};

template <class E> class typedquery<std::map<std::string, E>> final : public emptyquery {
public:
    explicit typedquery(std::map<std::string, E>& entries) : entries_(entries) {}
    refl::kind kind() override { return refl::kind::object; }
    bool member(std::string_view name, query_callback callback) override {
        auto found = entries_.find(std::string(name));
        if (found == entries_.end()) return false;
        typedquery<E> q(found->second);
        callback(q);
        return true;
    }
    void each_member(function_ref<void(const std::string&, query&)> callback) override {
        for (auto& [key, entry] : entries_) {
            typedquery<E> q(entry);
            callback(key, q);
        }
    }
    std::string text() override { return {}; }

private:
    std::map<std::string, E>& entries_;
};

template <> class typedquery<json::value> final : public emptyquery {
public:
    explicit typedquery(json::value& value) : value_(value) {}
    refl::kind kind() override { return value_.kind(); }
    bool member(std::string_view name, query_callback callback) override;
    std::size_t count() override;
    void each_element(function_ref<void(std::size_t, query&)> callback) override;
    void each_member(function_ref<void(const std::string&, query&)> callback) override;
    void element(std::size_t index, query_callback callback) override;
    std::string text() override { return {}; }

private:
    json::value& value_;
};

template <class T> void query_of(T& value, query_callback callback) {
    typedquery<T> q(value);
    callback(q);
}

} // namespace refl
