#include "orba/core/value.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "orba/core/charconv.h"
#include "orba/core/fatal.h"
#include "orba/core/unicode.h"

namespace orba {

namespace {

template <class T, class V>
const T& require(const V& v, std::string_view what) {
    const T* p = std::get_if<T>(&v);
    if (p == nullptr) fatal(what);
    return *p;
}

}  // namespace

bool Json::as_bool() const {
    return require<bool>(v_, "Json::as_bool on a value that is not a boolean");
}
double Json::as_number() const {
    return require<double>(v_, "Json::as_number on a value that is not a number");
}
const std::string& Json::as_string() const {
    return require<std::string>(v_, "Json::as_string on a value that is not a string");
}
const Json::Array& Json::as_array() const {
    return require<Array>(v_, "Json::as_array on a value that is not an array");
}
const Json::Object& Json::as_object() const {
    return require<Object>(v_, "Json::as_object on a value that is not an object");
}

const Json* Json::get(std::string_view key) const {
    const Object* members = std::get_if<Object>(&v_);
    if (members == nullptr) return nullptr;
    for (const Member& m : *members) {
        if (m.first == key) return &m.second;
    }
    return nullptr;
}

namespace json {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_number_byte(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

bool is_high_surrogate(std::uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(std::uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// from_chars reports a value beyond the double range without giving it; the
// sign of its decimal exponent tells overflow (to infinity) from underflow (to
// zero). Only magnitudes near 1e±308 get here, so the rough exponent suffices.
double out_of_range_value(std::string_view digits, bool negative) {
    std::int64_t point = 0;  // decimal exponent of the first significant digit, plus one
    bool seen_point = false, seen_digit = false;
    std::size_t i = 0;
    for (; i < digits.size() && digits[i] != 'e' && digits[i] != 'E'; ++i) {
        const char c = digits[i];
        if (c == '.') {
            seen_point = true;
        } else if (!seen_digit && c == '0') {
            if (seen_point) --point;
        } else {
            seen_digit = true;
            if (!seen_point) ++point;
        }
    }
    std::int64_t exponent = 0;
    bool exponent_negative = false;
    if (i < digits.size()) {
        ++i;
        if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) {
            exponent_negative = digits[i] == '-';
            ++i;
        }
        for (; i < digits.size(); ++i) {
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (digits[i] - '0');
        }
    }
    if (exponent_negative) exponent = -exponent;
    const bool overflow = seen_digit && point + exponent > 0;
    const double magnitude = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    Result<Json> document() {
        skip_space();
        Result<Json> v = value(0);
        if (!v) return v;
        skip_space();
        if (pos_ < text_.size()) return error("unexpected text after the value");
        return v;
    }

  private:
    Error error(std::string_view what) const {
        std::string message(what);
        message += " at byte ";
        message += std::to_string(pos_);
        return fail(std::move(message));
    }

    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skip_space() {
        while (!at_end() && is_space(peek()))
            ++pos_;
    }

    // Compares only the word itself: "nullx" reads as null and leaves the x.
    bool eat(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    Result<Json> value(int depth) {
        if (depth > MAX_DEPTH) return error("nesting is too deep");
        if (at_end()) return error("unexpected end of input");
        switch (peek()) {
            case '"': {
                Result<std::string> s = string();
                if (!s) return std::move(s).take_error();
                return Json::string(std::move(s).value());
            }
            case '[':
                return array(depth);
            case '{':
                return object(depth);
            case 't':
            case 'f':
            case 'n':
                if (eat("true")) return Json::boolean(true);
                if (eat("false")) return Json::boolean(false);
                if (eat("null")) return Json::null();
                return error("unexpected word");
            default:
                return number();
        }
    }

    Result<Json> array(int depth) {
        ++pos_;
        skip_space();
        Json::Array items;
        if (!at_end() && peek() == ']') {
            ++pos_;
            return Json::array(std::move(items));
        }
        for (;;) {
            Result<Json> item = value(depth + 1);
            if (!item) return item;
            items.push_back(std::move(item).value());
            skip_space();
            if (!at_end() && peek() == ',') {
                ++pos_;
                skip_space();
                continue;
            }
            if (!at_end() && peek() == ']') {
                ++pos_;
                return Json::array(std::move(items));
            }
            return error("expected a comma or ]");
        }
    }

    Result<Json> object(int depth) {
        ++pos_;
        skip_space();
        Json::Object members;
        if (!at_end() && peek() == '}') {
            ++pos_;
            return Json::object(std::move(members));
        }
        for (;;) {
            skip_space();
            if (at_end() || peek() != '"') return error("expected a string key");
            Result<std::string> key = string();
            if (!key) return std::move(key).take_error();
            skip_space();
            if (at_end() || peek() != ':') return error("expected a colon");
            ++pos_;
            skip_space();
            Result<Json> item = value(depth + 1);
            if (!item) return item;
            members.emplace_back(std::move(key).value(), std::move(item).value());
            skip_space();
            if (!at_end() && peek() == ',') {
                ++pos_;
                continue;
            }
            if (!at_end() && peek() == '}') {
                ++pos_;
                return Json::object(std::move(members));
            }
            return error("expected a comma or }");
        }
    }

    // The longest run of number bytes, converted as a whole: an optional sign,
    // digits with an optional point (digits on at least one side), an optional
    // exponent. So "+1", ".5", "5." and "007" are numbers; "1-2" and "e5" not.
    Result<Json> number() {
        const std::size_t start = pos_;
        while (!at_end() && is_number_byte(peek()))
            ++pos_;
        std::string_view run = text_.substr(start, pos_ - start);
        pos_ = start;
        // from_chars takes a minus but not a plus.
        std::string_view body = run;
        if (!body.empty() && body.front() == '+') {
            body.remove_prefix(1);
            if (!body.empty() && (body.front() == '+' || body.front() == '-')) body = {};
        }
        if (body.empty()) return error("expected a value");
        double value = 0.0;
        const char* first = body.data();
        const char* last = body.data() + body.size();
        const auto [end, ec] = orba::from_chars(first, last, value, std::chars_format::general);
        if (end != last || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
            return error("expected a value");
        }
        if (ec == std::errc::result_out_of_range) {
            const bool negative = body.front() == '-';
            value = out_of_range_value(negative ? body.substr(1) : body, negative);
        }
        pos_ = start + run.size();
        return Json::number(value);
    }

    // Four bytes read as a hexadecimal unsigned number; a leading "+" and three
    // digits is taken too.
    Result<std::uint32_t> unit() {
        if (text_.size() - pos_ < 4) return error("short \\u escape");
        std::string_view hex = text_.substr(pos_, 4);
        if (hex.front() == '+') hex.remove_prefix(1);
        std::uint32_t u = 0;
        const char* last = hex.data() + hex.size();
        const auto [end, ec] = std::from_chars(hex.data(), last, u, 16);
        if (ec != std::errc() || end != last) return error("bad \\u escape");
        pos_ += 4;
        return u;
    }

    Result<std::string> string() {
        ++pos_;
        std::string out;
        for (;;) {
            if (at_end()) return error("unterminated string");
            const char c = peek();
            ++pos_;
            if (c == '"') break;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_end()) return error("unterminated escape");
            const char letter = peek();
            ++pos_;
            switch (letter) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    Result<std::uint32_t> first = unit();
                    if (!first) return std::move(first).take_error();
                    std::uint32_t code = *first;
                    if (is_high_surrogate(code) && text_.substr(pos_, 2) == "\\u") {
                        const std::size_t second_at = pos_;
                        pos_ += 2;
                        Result<std::uint32_t> second = unit();
                        if (!second) return std::move(second).take_error();
                        if (is_low_surrogate(*second)) {
                            code = 0x10000 + ((code & 0x3FF) << 10) + (*second & 0x3FF);
                        } else {
                            // Not a pair: the high half stands alone and the
                            // second escape is read again on its own, so no
                            // character after a stray surrogate is lost.
                            pos_ = second_at;
                        }
                    }
                    if (is_high_surrogate(code) || is_low_surrogate(code) || code > 0x10FFFF) {
                        code = 0xFFFD;
                    }
                    unicode::append_utf8(out, code);
                    break;
                }
                default:
                    return error("unknown escape");
            }
        }
        if (!unicode::is_valid_utf8(out)) return fail("the string is not valid UTF-8");
        return out;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

Result<Json> parse(std::string_view text) {
    return Parser(text).document();
}

}  // namespace json

}  // namespace orba
