#include "locate.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "orba/blocks/expr.h"

namespace orba::graph_tool {

namespace {

// Where each value of a JSON text starts, and each object key.
struct Place {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool string = false;
    std::vector<Place> items;  // an array's values
    // An object's members: the keys decoded, where each key starts, the values.
    std::vector<std::string> keys;
    std::vector<std::size_t> key_begins;
    std::vector<Place> values;

    const Place* get(std::string_view key) const {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) return &values[i];
        }
        return nullptr;
    }
    std::optional<std::size_t> key_at(std::string_view key) const {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) return key_begins[i];
        }
        return std::nullopt;
    }
};

// Reads text the framework's parser has already accepted, so it only has to
// find boundaries, not to judge.
class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    Place value(int depth) {
        space();
        Place place;
        place.begin = pos_;
        if (depth > 64 || pos_ >= text_.size()) return place;
        const char c = text_[pos_];
        if (c == '{') {
            ++pos_;
            while (space(), pos_ < text_.size() && text_[pos_] != '}') {
                const std::size_t key_begin = pos_;
                std::string key = string();
                space();
                ++pos_;  // ':'
                place.keys.push_back(std::move(key));
                place.key_begins.push_back(key_begin);
                place.values.push_back(value(depth + 1));
                space();
                if (pos_ < text_.size() && text_[pos_] == ',') ++pos_;
            }
            ++pos_;
        } else if (c == '[') {
            ++pos_;
            while (space(), pos_ < text_.size() && text_[pos_] != ']') {
                place.items.push_back(value(depth + 1));
                space();
                if (pos_ < text_.size() && text_[pos_] == ',') ++pos_;
            }
            ++pos_;
        } else if (c == '"') {
            place.string = true;
            string();
        } else {
            while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '}' &&
                   text_[pos_] != ']' && !is_space(text_[pos_]))
                ++pos_;
        }
        place.end = pos_;
        return place;
    }

  private:
    static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    void space() {
        while (pos_ < text_.size() && is_space(text_[pos_]))
            ++pos_;
    }
    // Keys are matched against names the compiler quotes, which are plain
    // ASCII in practice; an escape other than the simple ones stays as written.
    std::string string() {
        std::string out;
        ++pos_;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) {
                const char e = text_[pos_ + 1];
                if (e == 'u') {
                    out.append(text_.substr(pos_, 2));
                } else {
                    out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                }
                pos_ += 2;
            } else {
                out += text_[pos_++];
            }
        }
        ++pos_;
        return out;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool starts(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The first name in single quotes after `after`, e.g. the 'x' of
// "has no argument 'x'".
std::optional<std::string> quoted_after(std::string_view message, std::string_view after) {
    const std::size_t at = message.find(after);
    if (at == std::string_view::npos) return std::nullopt;
    const std::size_t open = message.find('\'', at + after.size());
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t close = message.find('\'', open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(message.substr(open + 1, close - open - 1));
}

// Whether `prefix` can still become an expression: as it is, or with an
// operand and, for each '(' left open, a ')' or one or two more call
// arguments (tried for the innermost four; those outside them get a ')').
// Names are all taken, so only the syntax counts.
bool can_continue(std::string_view prefix) {
    const expr::Lookup any = [](std::string_view) { return std::optional<std::uint32_t>(0); };
    std::size_t open = 0;
    for (const char c : prefix) {
        if (c == '(') {
            ++open;
        } else if (c == ')' && open > 0) {
            --open;
        }
    }
    constexpr std::string_view CLOSERS[] = {")", ",1)", ",1,1)"};
    const std::size_t varied = std::min<std::size_t>(open, 4);
    std::size_t ways = 1;
    for (std::size_t i = 0; i < varied; ++i)
        ways *= std::size(CLOSERS);
    for (const std::string_view operand : {"", "1"}) {
        for (std::size_t way = 0; way < ways; ++way) {
            std::string text = std::string(prefix) + std::string(operand);
            for (std::size_t i = 0, w = way; i < varied; ++i, w /= std::size(CLOSERS))
                text += CLOSERS[w % std::size(CLOSERS)];
            text.append(open - varied, ')');
            if (expr::Expr::parse(text, any).ok()) return true;
        }
    }
    return false;
}

// Where a syntax error in `expression` is: the last character of the
// shortest start that cannot go on to an expression, or its end when the
// whole text only stops short.
std::size_t syntax_fault(std::string_view expression) {
    for (std::size_t end = 1; end <= expression.size(); ++end) {
        if (end < expression.size() && (static_cast<unsigned char>(expression[end]) & 0xC0) == 0x80)
            continue;  // whole characters only
        if (can_continue(expression.substr(0, end))) continue;
        std::size_t last = end - 1;
        while (last > 0 && (static_cast<unsigned char>(expression[last]) & 0xC0) == 0x80)
            --last;
        return last;
    }
    return expression.size();
}

// A string value's start, moved onto the spot an expression message is
// about when the string holds the expression unescaped: the name it
// complains about, or where its syntax goes wrong.
std::size_t inside(std::string_view text, const Place& value, std::string_view message) {
    if (!value.string) return value.begin;
    const std::string_view literal = text.substr(value.begin + 1, value.end - value.begin - 2);
    if (literal.find('\\') != std::string_view::npos) return value.begin;
    const bool parse_error = message.find(". The names available are: ") != std::string_view::npos;
    const bool about_a_name = message.find("is not a parameter, a modulator or a built-in name") !=
                                  std::string_view::npos ||
                              message.find("there is no function named") != std::string_view::npos;
    if (parse_error && !about_a_name) return value.begin + 1 + syntax_fault(literal);
    std::optional<std::string> name = quoted_after(message, ": ");
    if (!name || name->empty()) return value.begin;
    // In a choice argument's message the text itself is quoted first.
    if (*name == literal && message.find(" is not one of ") != std::string_view::npos)
        name = quoted_after(message, "(");
    if (!name || name->empty()) return value.begin;
    const std::size_t at = literal.find(*name);
    return at == std::string_view::npos ? value.begin : value.begin + 1 + at;
}

// After ".parallel[i]": whether the rest of the path or message is about the
// branch's node rather than the branch itself.
bool descend_to_node(std::string_view rest) {
    if (starts(rest, ".node")) return false;
    if (starts(rest, ".")) return true;
    return !(starts(rest, " gain_db") || starts(rest, " needs a node") ||
             starts(rest, " has an unknown key") || starts(rest, " must be an object"));
}

// Follows ".chain[i]", ".parallel[i]" and ".node" from the root. The
// compiler names a branch's node by the branch's own path, the reader adds
// ".node". Leaves in `path` what follows the path in the message.
const Place* walk(const Place& root, std::string_view& path) {
    const Place* at = &root;
    while (!path.empty()) {
        std::string_view key;
        if (starts(path, ".chain[")) {
            key = "chain";
        } else if (starts(path, ".parallel[")) {
            key = "parallel";
        } else if (starts(path, ".node")) {
            path.remove_prefix(5);
            if (const Place* node = at->get("node")) at = node;
            continue;
        } else {
            break;
        }
        path.remove_prefix(key.size() + 2);
        std::size_t index = 0;
        const auto [end, error] = std::from_chars(path.data(), path.data() + path.size(), index);
        if (error != std::errc{} || end == path.data() + path.size() || *end != ']') return nullptr;
        path.remove_prefix(static_cast<std::size_t>(end - path.data()) + 1);
        const Place* list = at->get(key);
        if (list == nullptr || index >= list->items.size()) return nullptr;
        at = &list->items[index];
        if (key == "parallel" && descend_to_node(path)) {
            if (const Place* node = at->get("node")) at = node;
        }
    }
    return at;
}

// The spot in `node` that `rest`, the message after the node's path, is about.
std::optional<std::size_t> in_node(std::string_view text, const Place& node,
                                   std::string_view rest) {
    if (starts(rest, ": ")) {
        if (rest.find("there is no block called") != std::string_view::npos) {
            if (const Place* block = node.get("block")) return block->begin;
        }
        if (auto arg = quoted_after(rest, "has no argument")) {
            if (const Place* args = node.get("args")) return args->key_at(*arg);
        }
        if (auto meter = quoted_after(rest, "has no meter")) {
            if (const Place* meters = node.get("meters")) return meters->key_at(*meter);
        }
        if (auto meter = quoted_after(rest, "the meter")) {
            if (const Place* meters = node.get("meters")) {
                if (const Place* bound = meters->get(*meter)) return bound->begin;
            }
        }
        // "<block>.<argument>: ..." or "<block>.<argument> is ..."
        const std::size_t dot = rest.find('.');
        if (const Place* args = node.get("args");
            args != nullptr && dot != std::string_view::npos) {
            std::size_t end = dot + 1;
            while (end < rest.size() && rest[end] != ':' && rest[end] != ' ')
                ++end;
            if (const Place* value = args->get(rest.substr(dot + 1, end - dot - 1))) {
                return inside(text, *value, rest.substr(end));
            }
        }
        return node.begin;
    }
    if (auto key = quoted_after(rest, " has an unknown key")) return node.key_at(*key);
    if (auto arg = quoted_after(rest, " argument")) {
        if (const Place* args = node.get("args")) {
            if (const Place* value = args->get(*arg)) return value->begin;
        }
    }
    if (auto meter = quoted_after(rest, " meter")) {
        if (const Place* meters = node.get("meters")) {
            if (const Place* value = meters->get(*meter)) return value->begin;
        }
    }
    // " bypass ...", " mix: ...", " gain_db is ...", " chain must be a list"
    if (starts(rest, " ")) {
        std::size_t end = 1;
        while (end < rest.size() && rest[end] != ' ' && rest[end] != ':')
            ++end;
        if (const Place* value = node.get(rest.substr(1, end - 1))) {
            return inside(text, *value, rest.substr(end));
        }
    }
    return node.begin;
}

const Place* modulator_named(std::string_view text, const Place& root, std::string_view id,
                             bool last) {
    const Place* list = root.get("modulators");
    if (list == nullptr) return nullptr;
    const Place* found = nullptr;
    for (const Place& mod : list->items) {
        const Place* name = mod.get("id");
        if (name == nullptr || !name->string) continue;
        // The id is compared as it is written, which is exact for plain names.
        if (text.substr(name->begin + 1, name->end - name->begin - 2) == id) {
            found = &mod;
            if (!last) break;
        }
    }
    return found;
}

void find_nested(const Place& node, const std::string& path, std::string_view key, bool root,
                 std::vector<KeyAt>& found) {
    if (!root) {
        if (std::optional<std::size_t> at = node.key_at(key)) found.push_back(KeyAt{path, *at});
    }
    if (const Place* chain = node.get("chain")) {
        for (std::size_t i = 0; i < chain->items.size(); ++i) {
            find_nested(chain->items[i], path + ".chain[" + std::to_string(i) + "]", key, false,
                        found);
        }
    }
    if (const Place* parallel = node.get("parallel")) {
        for (std::size_t i = 0; i < parallel->items.size(); ++i) {
            if (const Place* branch = parallel->items[i].get("node")) {
                find_nested(*branch, path + ".parallel[" + std::to_string(i) + "]", key, false,
                            found);
            }
        }
    }
}

}  // namespace

Spot spot_at(std::string_view text, std::size_t offset) {
    Spot spot;
    spot.offset = offset;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++spot.line;
            spot.column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++spot.column;
        }
    }
    return spot;
}

std::string caret_lines(std::string_view text, const Spot& spot) {
    const std::size_t offset = std::min(spot.offset, text.size());
    const std::size_t begin = text.rfind('\n', offset == 0 ? 0 : offset - 1);
    const std::size_t start = offset == 0 || begin == std::string_view::npos ? 0 : begin + 1;
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string out(text.substr(start, end - start));
    out += '\n';
    for (std::size_t i = start; i < offset; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            out += '\t';
        } else if ((c & 0xC0) != 0x80) {
            out += ' ';
        }
    }
    out += '^';
    return out;
}

std::optional<std::size_t> locate(std::string_view text, std::string_view message) {
    const std::string_view json_fault = "the graph is not valid JSON: ";
    if (starts(message, json_fault)) {
        const std::size_t at = message.rfind("at byte ");
        if (at == std::string_view::npos) return std::nullopt;
        std::size_t offset = 0;
        const std::string_view digits = message.substr(at + 8);
        if (std::from_chars(digits.data(), digits.data() + digits.size(), offset).ec != std::errc{})
            return std::nullopt;
        return offset;
    }

    Scanner scanner(text);
    const Place root = scanner.value(0);

    if (starts(message, "graph")) {
        std::string_view rest = message.substr(5);
        const Place* node = walk(root, rest);
        if (node == nullptr) return std::nullopt;
        return in_node(text, *node, rest);
    }
    if (starts(message, "modulators must")) {
        if (const Place* list = root.get("modulators")) return list->begin;
    }
    if (starts(message, "modulators[")) {
        std::string_view rest = message.substr(11);
        std::size_t index = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), index);
        const Place* list = root.get("modulators");
        if (error != std::errc{} || list == nullptr || index >= list->items.size())
            return std::nullopt;
        const Place& mod = list->items[index];
        rest.remove_prefix(static_cast<std::size_t>(end - rest.data()) + 1);
        return in_node(text, mod, rest);
    }
    // "modulator 'x' rate: ...", "modulator 'x' has the shape ...", "the
    // modulator 'x' has the same name ...", "two modulators are called 'x'",
    // "'x' is not a usable modulator name"
    std::optional<std::string> id = quoted_after(message, "modulator");
    if (!id && starts(message, "'")) id = quoted_after(message, "");
    if (!id) return std::nullopt;
    const Place* mod = modulator_named(text, root, *id, starts(message, "two modulators"));
    if (mod == nullptr) return std::nullopt;
    const std::string head = "modulator '" + *id + "'";
    if (starts(message, head + " rate")) {
        if (const Place* rate = mod->get("rate")) {
            return inside(text, *rate, message.substr(head.size() + 5));
        }
    }
    if (starts(message, head + " has the shape")) {
        if (const Place* shape = mod->get("shape")) return shape->begin;
    }
    if (const Place* name = mod->get("id")) return name->begin;
    return mod->begin;
}

std::vector<KeyAt> nested_keys(std::string_view text, std::string_view key) {
    Scanner scanner(text);
    const Place root = scanner.value(0);
    std::vector<KeyAt> found;
    find_nested(root, "graph", key, true, found);
    return found;
}

}  // namespace orba::graph_tool
