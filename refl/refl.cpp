// Record descriptions, the member-name splitter, generic JSON values and their dispatch.
#include "refl/refl.h"

#include "app/console.h"

#include <cctype>

namespace refl {

// ---- Member-name lists ----

namespace {

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::size_t skipBlanksAndCommas(std::string_view list, std::size_t at) {
    while (at < list.size() && (isBlank(list[at]) || list[at] == ',')) ++at;
    return at;
}

// From just inside an entry's opening bracket to just past its matching ")"; brackets inside
// double-quoted text do not count, and a backslash escapes a quote there.
std::size_t skipBracketedRest(std::string_view list, std::size_t at) {
    int depth = 1;
    bool quoted = false;
    while (at < list.size()) {
        char c = list[at++];
        if (quoted) {
            if (c == '\\' && at < list.size())
                ++at;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            break;
        }
    }
    return at;
}

} // namespace

std::vector<std::string> split_names(std::string_view list) {
    std::vector<std::string> names;
    std::size_t at = skipBlanksAndCommas(list, 0);
    while (at < list.size()) {
        std::size_t start = at;
        if (list[at] == '(') {
            ++at;
            while (at < list.size() && isBlank(list[at])) ++at;
            start = at;
            while (at < list.size() && !isBlank(list[at]) && list[at] != ',' && list[at] != ')') ++at;
            if (at > start) names.emplace_back(list.substr(start, at - start));
            at = skipBracketedRest(list, at);
        } else {
            while (at < list.size() && !isBlank(list[at]) && list[at] != ',') ++at;
            names.emplace_back(list.substr(start, at - start));
        }
        at = skipBlanksAndCommas(list, at);
    }
    return names;
}

// ---- Record descriptions ----

const member& type_info::member_named(std::string_view name) const {
    const member* found = find(name);
    if (found == nullptr)
        fatalErrorFormat("Reflected record %s has no member \"%.*s\"", type_.name(),
                         static_cast<int>(name.size()), name.data());
    return *found;
}

const member& type_info::member_at(std::size_t index) const {
    if (index >= members_.size())
        fatalErrorFormat("Reflected record %s has no member at position %zu", type_.name(), index);
    return *members_[index];
}

void type_info::add_member(std::unique_ptr<member> added) {
    // Under a duplicate name the one registered last is found by name; both keep their place.
    byName_.insert_or_assign(added->name(), added.get());
    members_.push_back(std::move(added));
}

void type_info::initialise(function_ref<void(type_info&)> registration) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (initialised_.load(std::memory_order_relaxed) != 0) return;
    registration(*this);
    // An action may queue further actions; they run in order too.
    for (std::size_t i = 0; i < deferred_.size(); ++i) {
        std::function<void()> action = std::move(deferred_[i]);
        action();
    }
    deferred_.clear();
    initialised_.store(1, std::memory_order_release);
}

void missing_member_name(const type_info& info, std::size_t position) {
    fatalErrorFormat("Reflected record %s: member %zu has no name in its member list", info.type().name(),
                     position);
}

// ---- Generic JSON values ----

namespace json {

value::value(std::string text) : kind_(refl::kind::string) {
    payload_.text = new std::string(std::move(text));
}

value::value(const value& other) : kind_(other.kind_), payload_(other.payload_) {
    switch (kind_) {
    case refl::kind::object:
        payload_.object = new object_type(*other.payload_.object);
        break;
    case refl::kind::array:
        payload_.array = new array_type(*other.payload_.array);
        break;
    case refl::kind::string:
        payload_.text = new std::string(*other.payload_.text);
        break;
    default:
        break;
    }
}

value& value::operator=(value other) noexcept {
    release();
    kind_ = other.kind_;
    payload_ = other.payload_;
    other.kind_ = refl::kind::null;
    return *this;
}

value value::make_object() {
    value made;
    made.payload_.object = new object_type();
    made.kind_ = refl::kind::object;
    return made;
}

value value::make_array() {
    value made;
    made.payload_.array = new array_type();
    made.kind_ = refl::kind::array;
    return made;
}

void value::release() noexcept {
    switch (kind_) {
    case refl::kind::object:
        delete payload_.object;
        break;
    case refl::kind::array:
        delete payload_.array;
        break;
    case refl::kind::string:
        delete payload_.text;
        break;
    default:
        break;
    }
    kind_ = refl::kind::null;
}

bool operator==(const value& a, const value& b) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
    case refl::kind::object:
        return *a.payload_.object == *b.payload_.object;
    case refl::kind::array:
        return *a.payload_.array == *b.payload_.array;
    case refl::kind::string:
        return *a.payload_.text == *b.payload_.text;
    case refl::kind::boolean:
        return a.payload_.flag == b.payload_.flag;
    case refl::kind::number:
        return a.payload_.number == b.payload_.number;
    default:
        return true;
    }
}

} // namespace json

void dispatch<json::value>::visit(visitor& v, json::value& value) {
    switch (v.peek()) {
    case kind::object: {
        value = json::value::make_object();
        json::value::object_type& entries = *value.object();
        v.visit_object([&v, &entries](const std::string& key) { visit_value(v, entries[key]); });
        break;
    }
    case kind::array: {
        value = json::value::make_array();
        json::value::array_type& elements = *value.array();
        v.visit_array([&v, &elements] {
            elements.emplace_back();
            visit_value(v, elements.back());
        });
        break;
    }
    case kind::null:
        value = nullptr;
        v.visit_null();
        break;
    case kind::boolean: {
        bool flag = false;
        v.visit_bool(flag);
        value = flag;
        break;
    }
    case kind::number: {
        double number = 0;
        v.visit_double(number);
        value = number;
        break;
    }
    case kind::string: {
        std::string text;
        v.visit_string(text);
        value = std::move(text);
        break;
    }
    case kind::none:
    case kind::invalid:
        break;
    }
}

// ---- Queries over generic JSON values ----

bool typedquery<json::value>::member(std::string_view name, query_callback callback) {
    json::value::object_type* entries = value_.object();
    if (entries == nullptr) return false;
    auto found = entries->find(std::string(name));
    if (found == entries->end()) return false;
    typedquery<json::value> q(found->second);
    callback(q);
    return true;
}

std::size_t typedquery<json::value>::count() {
    json::value::array_type* elements = value_.array();
    return elements != nullptr ? elements->size() : 0;
}

void typedquery<json::value>::each_element(function_ref<void(std::size_t, query&)> callback) {
    json::value::array_type* elements = value_.array();
    if (elements == nullptr) return;
    for (std::size_t i = 0; i < elements->size(); ++i) {
        typedquery<json::value> q((*elements)[i]);
        callback(i, q);
    }
}

void typedquery<json::value>::each_member(function_ref<void(const std::string&, query&)> callback) {
    json::value::object_type* entries = value_.object();
    if (entries == nullptr) return;
    for (auto& [key, entry] : *entries) {
        typedquery<json::value> q(entry);
        callback(key, q);
    }
}

void typedquery<json::value>::element(std::size_t index, query_callback callback) {
    json::value::array_type* elements = value_.array();
    if (elements == nullptr || index >= elements->size()) return;
    typedquery<json::value> q((*elements)[index]);
    callback(q);
}

} // namespace refl
