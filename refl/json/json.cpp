// The streaming JSON reader: a visitor that the members of a record drive.
#include "refl/json/json.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <streambuf>

namespace refl::json {

namespace {

constexpr int endOfInput = std::char_traits<char>::eof();

bool isBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

int hexDigitValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool isHighSurrogate(std::uint32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(std::uint32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The standard library's conversion contract, with its two errors spelled out.
double convertNumber(const std::string& text) {
    const char* start = text.c_str();
    char* end = nullptr;
    int savedErrno = errno;
    errno = 0;
    double converted = std::strtod(start, &end);
    int conversionErrno = errno;
    errno = savedErrno;
    if (end == start) throw std::invalid_argument("invalid stod argument");
    if (conversionErrno == ERANGE) throw std::out_of_range("stod argument out of range");
    return converted;
}

// ---- The reader ----

class json_parser final : public visitor {
public:
    json_parser(std::streambuf& input, bool allowComments, bool combineSurrogates)
        : input_(input), allowComments_(allowComments), combineSurrogates_(combineSurrogates) {
        // The conversion reads the locale's decimal point, so the token carries that instead of ".".
        const char* point = std::localeconv()->decimal_point;
        decimalPoint_ = point != nullptr && point[0] != 0 ? point : ".";
    }

    bool ok() const { return ok_; }
    bool atEnd() { return input_.sgetc() == endOfInput; }

    // ---- Blanks and comments ----

    void skipBlanks() {
        while (ok_) {
            int c = input_.sgetc();
            if (isBlank(c)) {
                input_.sbumpc();
            } else if (c == '/' && allowComments_) {
                input_.sbumpc();
                skipComment();
            } else {
                return;
            }
        }
    }

    // ---- Visitor operations ----

    const type_info* choose_type(const type_info&) override { return nullptr; }

    kind peek() override {
        skipBlanks();
        if (!ok_) return kind::invalid;
        int c = input_.sgetc();
        if (isDigit(c) || c == '-') return kind::number;
        switch (c) {
        case '"':
            return kind::string;
        case '[':
            return kind::array;
        case 't':
        case 'f':
            return kind::boolean;
        case 'n':
            return kind::null;
        case '{':
            return kind::object;
        default:
            fail();
            return kind::invalid;
        }
    }

    bool visit_record(const type_info& info, void* record) override {
        readObject([this, &info, record](const std::string& key) {
            const member* selected = info.find(key);
            if (selected == nullptr) {
                skipValue();
                return;
            }
            const member* outer = currentMember_;
            currentMember_ = selected;
            selected->visit(*this, record);
            currentMember_ = outer;
        });
        return true;
    }

    bool visit_object(function_ref<void(const std::string&)> onKey) override {
        readObject(onKey);
        return true;
    }

    bool visit_array(function_ref<void()> onElement) override {
        readArray(onElement);
        return true;
    }

    // Writing operations: no member type leads a reader here.
    void visit_members(const type_info&, void*) override { std::abort(); }
    void begin_container() override { std::abort(); }
    void end_container() override { std::abort(); }
    void visit_int64(std::int64_t&) override { std::abort(); }

    void visit_null() override {
        skipBlanks();
        matchLiteral("null");
    }

    void visit_chars(char* buffer, std::size_t capacity) override {
        readString(scratch_);
        if (ok_ && scratch_.size() < capacity) {
            std::memcpy(buffer, scratch_.data(), scratch_.size());
            buffer[scratch_.size()] = 0;
        } else {
            fail();
            if (capacity > 0) buffer[0] = 0;
        }
    }

    void visit_string(std::string& value) override { readString(value); }

    void visit_double(double& value) override { readDouble(value); }

    void visit_float(float& value) override {
        double read = 0;
        readDouble(read);
        if (!ok_) return;
        // Beyond float's range the nearest float is the infinity of that sign.
        if (std::fabs(read) > std::numeric_limits<float>::max())
            value =
                read < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        else
            value = static_cast<float>(read);
    }

    void visit_int(int& value) override { readInt(value); }

    void visit_bool(bool& value) override {
        skipBlanks();
        if (!ok_) return;
        value = input_.sgetc() == 't';
        matchLiteral(value ? "true" : "false");
    }

private:
    void fail() { ok_ = false; }

    void skipComment() {
        int c = input_.sbumpc();
        if (c == '*') {
            int previous = 0;
            for (;;) {
                c = input_.sbumpc();
                if (c == endOfInput) return fail();
                if (previous == '*' && c == '/') return;
                previous = c;
            }
        }
        if (c != '/') return fail();
        for (;;) {
            c = input_.sgetc();
            if (c == endOfInput || c == '\r' || c == '\n' || c == '\f') return;
            input_.sbumpc();
        }
    }

    void matchLiteral(const char* literal) {
        for (const char* expected = literal; ok_ && *expected != 0; ++expected)
            if (input_.sbumpc() != static_cast<unsigned char>(*expected)) fail();
    }

    // ---- Containers ----

    // Counts one level of nesting for the lifetime of a container read.
    struct nesting {
        explicit nesting(json_parser& parser) : parser_(parser) {
            if (++parser_.depth_ > max_depth) parser_.fail();
        }
        ~nesting() { --parser_.depth_; }
        json_parser& parser_;
    };

    void readObject(function_ref<void(const std::string&)> onKey) {
        skipBlanks();
        if (!ok_) return;
        if (input_.sgetc() != '{') return fail();
        input_.sbumpc();
        nesting level(*this);
        skipBlanks();
        if (!ok_) return;
        if (input_.sgetc() == '}') {
            input_.sbumpc();
            return;
        }
        std::string key;
        while (ok_) {
            skipBlanks();
            if (!ok_) return;
            if (input_.sgetc() != '"') return fail();
            readString(key);
            skipBlanks();
            if (!ok_) return;
            if (input_.sgetc() != ':') return fail();
            input_.sbumpc();
            skipBlanks();
            if (!ok_) return;
            onKey(key);
            if (!nextItemFollows('}')) break;
        }
        if (ok_) input_.sbumpc();
    }

    void readArray(function_ref<void()> onElement) {
        skipBlanks();
        if (!ok_) return;
        if (input_.sgetc() != '[') return fail();
        input_.sbumpc();
        nesting level(*this);
        if (!ok_) return;
        // Only a "]" right after the "[" makes an empty array; "[ ]" offers one element.
        if (input_.sgetc() == ']') {
            input_.sbumpc();
            return;
        }
        while (ok_) {
            skipBlanks();
            if (!ok_) return;
            onElement();
            if (!nextItemFollows(']')) break;
        }
        if (ok_) input_.sbumpc();
    }

    // After a key's value or an element: true past a ",", false before `close` or on an error.
    bool nextItemFollows(int close) {
        skipBlanks();
        if (!ok_) return false;
        int c = input_.sgetc();
        if (c == close) return false;
        if (c != ',') {
            fail();
            return false;
        }
        input_.sbumpc();
        skipBlanks();
        return true;
    }

    // Reads and discards one well-formed value of any kind.
    void skipValue() {
        switch (peek()) {
        case kind::object:
            readObject([this](const std::string&) { skipValue(); });
            break;
        case kind::array:
            readArray([this] { skipValue(); });
            break;
        case kind::null:
            visit_null();
            break;
        case kind::boolean: {
            bool ignored = false;
            visit_bool(ignored);
            break;
        }
        case kind::number: {
            double ignored = 0;
            readDouble(ignored);
            break;
        }
        case kind::string:
            readString(scratch_);
            break;
        case kind::none:
        case kind::invalid:
            break;
        }
    }

    // ---- Strings ----

    void readString(std::string& out) {
        skipBlanks();
        if (!ok_) return;
        if (input_.sgetc() != '"') return fail();
        input_.sbumpc();
        out.clear();
        for (;;) {
            int c = input_.sgetc();
            if (c == endOfInput || c < 0x20) return fail();
            if (c == '"') {
                input_.sbumpc();
                return;
            }
            if (c < 0x80 && c != '\\') {
                input_.sbumpc();
                out += static_cast<char>(c);
                continue;
            }
            std::uint32_t codePoint = 0;
            if (!readCharacter(codePoint)) return fail();
            if (combineSurrogates_ && isHighSurrogate(codePoint)) {
                int next = input_.sgetc();
                std::uint32_t low = 0;
                if (next == endOfInput || next < 0x20 || next == '"' || !readCharacter(low) ||
                    !isLowSurrogate(low))
                    return fail();
                codePoint = 0x10000 + ((codePoint & 0x3FF) << 10) + (low & 0x3FF);
            }
            appendUtf8(out, codePoint);
        }
    }

    // One character of string content: an escape or a UTF-8 sequence, as its code point.
    bool readCharacter(std::uint32_t& codePoint) {
        int c = input_.sbumpc();
        if (c == '\\') return readEscape(codePoint);
        if (c < 0x80) {
            codePoint = static_cast<std::uint32_t>(c);
            return true;
        }
        int continuations = 0;
        std::uint32_t smallest = 0;
        if (c < 0xC0) return false; // a continuation byte with no leading byte
        if (c < 0xE0) {
            continuations = 1, smallest = 0x80, codePoint = c & 0x1F;
        } else if (c < 0xF0) {
            continuations = 2, smallest = 0x800, codePoint = c & 0x0F;
        } else if (c < 0xF8) {
            continuations = 3, smallest = 0x10000, codePoint = c & 0x07;
        } else {
            return false;
        }
        for (int i = 0; i < continuations; ++i) {
            int next = input_.sgetc();
            if (next == endOfInput || (next & 0xC0) != 0x80) return false;
            input_.sbumpc();
            codePoint = (codePoint << 6) | static_cast<std::uint32_t>(next & 0x3F);
        }
        // Overlong forms and values beyond Unicode have no UTF-8 spelling of their own.
        return codePoint >= smallest && codePoint <= 0x10FFFF;
    }

    bool readEscape(std::uint32_t& codePoint) {
        int c = input_.sbumpc();
        switch (c) {
        case '"':
        case '\\':
        case '/':
            codePoint = static_cast<std::uint32_t>(c);
            return true;
        case 'b':
            codePoint = 8;
            return true;
        case 'f':
            codePoint = 12;
            return true;
        case 'n':
            codePoint = 10;
            return true;
        case 'r':
            codePoint = 13;
            return true;
        case 't':
            codePoint = 9;
            return true;
        case 'u': {
            codePoint = 0;
            for (int i = 0; i < 4; ++i) {
                int digit = hexDigitValue(input_.sbumpc());
                if (digit < 0) return false;
                codePoint = (codePoint << 4) | static_cast<std::uint32_t>(digit);
            }
            return true;
        }
        default:
            return false;
        }
    }

    // ---- Numbers ----

    void appendDigits() {
        while (isDigit(input_.sgetc())) token_ += static_cast<char>(input_.sbumpc());
    }

    // An optional fraction (digits optional) and exponent (digits required) into the token.
    void readFractionAndExponent() {
        if (input_.sgetc() == '.') {
            input_.sbumpc();
            token_ += decimalPoint_;
            appendDigits();
        }
        int c = input_.sgetc();
        if (c == 'e' || c == 'E') {
            token_ += static_cast<char>(input_.sbumpc());
            c = input_.sgetc();
            if (c == '+' || c == '-') token_ += static_cast<char>(input_.sbumpc());
            if (!isDigit(input_.sgetc())) return fail();
            appendDigits();
        }
    }

    void readDouble(double& value) {
        skipBlanks();
        if (!ok_) return;
        token_.clear();
        if (input_.sgetc() == '-') token_ += static_cast<char>(input_.sbumpc());
        int c = input_.sgetc();
        if (c == '0') {
            token_ += static_cast<char>(input_.sbumpc());
        } else if (isDigit(c)) {
            appendDigits();
        } else {
            return fail();
        }
        readFractionAndExponent();
        if (ok_) value = convertNumber(token_);
        token_.clear();
    }

    void readInt(int& value) {
        skipBlanks();
        if (!ok_) return;
        std::int64_t sign = 1;
        if (input_.sgetc() == '-') {
            input_.sbumpc();
            sign = -1;
        }
        // Digits beyond the 32-bit range are still consumed, but fail the read.
        constexpr std::int64_t limit = std::int64_t{1} << 31;
        std::int64_t magnitude = 0;
        while (isDigit(input_.sgetc())) {
            int digit = input_.sbumpc() - '0';
            if (magnitude <= limit) magnitude = magnitude * 10 + digit;
        }
        std::int64_t whole = sign * magnitude;
        if (whole < std::numeric_limits<int>::min() || whole > std::numeric_limits<int>::max()) return fail();
        value = static_cast<int>(whole);
        int c = input_.sgetc();
        if (c != '.' && c != 'e' && c != 'E') return;
        // A fraction or exponent is accepted only when the number is still a whole int.
        token_ = std::to_string(whole);
        readFractionAndExponent();
        if (ok_) {
            double exact = convertNumber(token_);
            if (exact >= -2147483648.0 && exact < 2147483648.0) {
                int truncated = static_cast<int>(exact);
                value = truncated;
                if (static_cast<double>(truncated) != exact) fail();
            } else {
                fail();
            }
        }
        token_.clear();
    }

    bool ok_ = true;
    std::streambuf& input_;
    std::string token_;   // number text on its way to conversion
    std::string scratch_; // strings that are read only to be checked or copied
    bool allowComments_;
    bool combineSurrogates_;
    const member* currentMember_ = nullptr;
    int depth_ = 0; // containers open around the current position
    std::string decimalPoint_;
};

} // namespace

bool parse_record(std::istream& in, const type_info& info, void* record, bool allowComments,
                  bool combineSurrogates) {
    std::streambuf* input = in.rdbuf();
    if (input == nullptr) return false;
    json_parser parser(*input, allowComments, combineSurrogates);
    parser.skipBlanks();
    parser.visit_record(info, record);
    parser.skipBlanks();
    return parser.ok() && parser.atEnd();
}

} // namespace refl::json
