#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "orba/core/result.h"

namespace orba {

// A parsed JSON value. Each value owns its children; objects keep their
// entries in document order, repeated keys included.
class Json {
  public:
    // The order matches the variant's alternatives.
    enum class Kind { Null, Bool, Number, String, Array, Object };

    using Array = std::vector<Json>;
    using Member = std::pair<std::string, Json>;
    using Object = std::vector<Member>;

    Json() = default;  // null

    static Json null() { return Json(); }
    static Json boolean(bool b) { return Json(Storage(std::in_place_index<1>, b)); }
    static Json number(double n) { return Json(Storage(std::in_place_index<2>, n)); }
    static Json string(std::string s) {
        return Json(Storage(std::in_place_index<3>, std::move(s)));
    }
    static Json array(Array items) {
        return Json(Storage(std::in_place_index<4>, std::move(items)));
    }
    static Json object(Object members) {
        return Json(Storage(std::in_place_index<5>, std::move(members)));
    }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool is_null() const { return kind() == Kind::Null; }
    bool is_bool() const { return kind() == Kind::Bool; }
    bool is_number() const { return kind() == Kind::Number; }
    bool is_string() const { return kind() == Kind::String; }
    bool is_array() const { return kind() == Kind::Array; }
    bool is_object() const { return kind() == Kind::Object; }

    // Each requires the matching kind; asking for another is a programming
    // fault and ends the process.
    bool as_bool() const;
    double as_number() const;
    const std::string& as_string() const;
    const Array& as_array() const;
    const Object& as_object() const;

    // The value of the first entry whose key equals `key` byte for byte;
    // null pointer when there is none or this is not an object.
    const Json* get(std::string_view key) const;

  private:
    using Storage = std::variant<std::monostate, bool, double, std::string, Array, Object>;
    explicit Json(Storage v) : v_(std::move(v)) {}

    Storage v_;
};

namespace json {

// At most this many arrays or objects may enclose a value, which also bounds
// the recursion of everything that walks a parsed tree.
inline constexpr int MAX_DEPTH = 64;

// Reads exactly one value, with optional white space around it. Messages name
// the byte offset where reading stopped, e.g. "expected a colon at byte 7".
Result<Json> parse(std::string_view text);

}  // namespace json

}  // namespace orba
