#include "orba/blocks/expr.h"

#include "orba/core/charconv.h"
#include "orba/core/fatal.h"
#include "orba/core/unicode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <system_error>

namespace orba::expr {

namespace {

// The f32 nearest pi.
constexpr float PI = 3.1415927f;
// One step below the f32 nearest ln(10) / 20, so that exp(dB * k) matches the
// decibel factor used everywhere else in the framework.
const float DB_TO_LOG = std::bit_cast<float>(std::uint32_t{0x3DEBC8E2});

struct FuncInfo {
    std::string_view name;
    Func func;
    std::size_t arity;
};

constexpr std::array<FuncInfo, 21> FUNCS{{
    {"min", Func::Min, 2},
    {"max", Func::Max, 2},
    {"clamp", Func::Clamp, 3},
    {"abs", Func::Abs, 1},
    {"pow", Func::Pow, 2},
    {"exp", Func::Exp, 1},
    {"ln", Func::Ln, 1},
    {"log2", Func::Log2, 1},
    {"sqrt", Func::Sqrt, 1},
    {"sin", Func::Sin, 1},
    {"cos", Func::Cos, 1},
    {"tanh", Func::Tanh, 1},
    {"floor", Func::Floor, 1},
    {"round", Func::Round, 1},
    {"db2lin", Func::Db2Lin, 1},
    {"lin2db", Func::Lin2Db, 1},
    {"semitones", Func::Semitones, 1},
    {"note", Func::Note, 1},
    {"mix", Func::Mix, 3},
    {"if", Func::If, 3},
    {"sync", Func::Sync, 1},
}};

static_assert(FUNCS.size() == FUNC_COUNT);

const FuncInfo* find_func(std::string_view name) {
    for (const FuncInfo& f : FUNCS) {
        if (f.name == name) return &f;
    }
    return nullptr;
}

bool is_digit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

bool is_letter(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

bool is_name_start(char32_t c) {
    return is_letter(c) || c == U'_';
}

bool is_name_char(char32_t c) {
    return is_name_start(c) || is_digit(c);
}

// A decimal that from_chars reports out of range rounds to 0 or to infinity;
// the power of ten of its leading nonzero digit tells which.
bool overflows(std::string_view text) {
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mant = text.substr(0, e);
    long long exp10 = 0;
    if (e != std::string_view::npos) {
        std::size_t i = e + 1;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        for (; i < text.size(); ++i) {
            // Saturate: far beyond any float exponent, the sign alone decides.
            if (exp10 < 1'000'000'000) exp10 = exp10 * 10 + (text[i] - '0');
        }
        if (negative) exp10 = -exp10;
    }
    const std::size_t point = std::min(mant.find('.'), mant.size());
    for (std::size_t i = 0; i < mant.size(); ++i) {
        if (mant[i] == '.' || mant[i] == '0') continue;
        const long long mag =
            i < point ? static_cast<long long>(point - i - 1) : -static_cast<long long>(i - point);
        return mag + exp10 >= 0;
    }
    return false;
}

std::unique_ptr<Node> boxed(Node&& node) {
    return std::make_unique<Node>(std::move(node));
}

float apply(BinOp op, float a, float b) {
    switch (op) {
        case BinOp::Add:
            return a + b;
        case BinOp::Sub:
            return a - b;
        case BinOp::Mul:
            return a * b;
        case BinOp::Div:
            return b == 0.0f ? 0.0f : a / b;
        case BinOp::Pow:
            return powf(a, b);
        case BinOp::Lt:
            return a < b ? 1.0f : 0.0f;
        case BinOp::Gt:
            return a > b ? 1.0f : 0.0f;
        case BinOp::Le:
            return a <= b ? 1.0f : 0.0f;
        case BinOp::Ge:
            return a >= b ? 1.0f : 0.0f;
    }
    return 0.0f;
}

float eval_call(const Call& call, const ControlContext& ctx) {
    const std::vector<Node>& args = call.args;
    // The parser checks arities; a hand-built call with too few arguments
    // reads 0 for the missing ones rather than past the end.
    auto arg = [&](std::size_t i) { return i < args.size() ? eval(args[i], ctx) : 0.0f; };
    switch (call.func) {
        case Func::Min: {
            const float x = arg(0);
            return fminf(x, arg(1));
        }
        case Func::Max: {
            const float x = arg(0);
            return fmaxf(x, arg(1));
        }
        case Func::Clamp: {
            const float x = arg(0);
            const float y = arg(1);
            const float z = arg(2);
            return fminf(fmaxf(x, y), fmaxf(z, y));
        }
        case Func::Abs:
            return fabsf(arg(0));
        case Func::Pow: {
            const float x = arg(0);
            return powf(x, arg(1));
        }
        case Func::Exp:
            return expf(arg(0));
        case Func::Ln:
            return logf(fmaxf(arg(0), 1e-30f));
        case Func::Log2:
            return log2f(fmaxf(arg(0), 1e-30f));
        case Func::Sqrt:
            return sqrtf(fmaxf(arg(0), 0.0f));
        case Func::Sin:
            return sinf(arg(0));
        case Func::Cos:
            return cosf(arg(0));
        case Func::Tanh:
            return tanhf(arg(0));
        case Func::Floor:
            return floorf(arg(0));
        case Func::Round:
            return roundf(arg(0));
        case Func::Db2Lin:
            return expf(arg(0) * DB_TO_LOG);
        case Func::Lin2Db:
            return 20.0f * log10f(fmaxf(arg(0), 1e-9f));
        case Func::Semitones:
            return exp2f(arg(0) / 12.0f);
        case Func::Note:
            return 440.0f * exp2f((arg(0) - 69.0f) / 12.0f);
        case Func::Mix: {
            const float x = arg(0);
            const float y = arg(1);
            const float z = arg(2);
            return x + (y - x) * z;
        }
        case Func::If:
            return arg(0) >= 0.5f ? arg(1) : arg(2);
        case Func::Sync:
            return arg(0) * (60000.0f / fmaxf(ctx.tempo, 1.0f));
    }
    return 0.0f;
}

// Walks a left-associative chain from its deepest operand upwards, so the
// stack grows with the nesting of the text, not with the length of a sum.
float eval_binary(const Binary& top, const ControlContext& ctx) {
    const std::vector<const Binary*>& spine = top.spine();
    float acc = eval(spine.empty() ? top.left() : spine.front()->left(), ctx);
    for (const Binary* b : spine)
        acc = apply(b->op(), acc, eval(b->right(), ctx));
    return apply(top.op(), acc, eval(top.right(), ctx));
}

bool is_const_binary(const Binary& top) {
    const std::vector<const Binary*>& spine = top.spine();
    if (!is_const(spine.empty() ? top.left() : spine.front()->left())) return false;
    for (const Binary* b : spine) {
        if (!is_const(b->right())) return false;
    }
    return is_const(top.right());
}

}  // namespace

Binary::Binary(BinOp op, std::unique_ptr<Node> left, std::unique_ptr<Node> right)
    : op_(op), left_(std::move(left)), right_(std::move(right)) {
    if (!left_ || !right_) fatal("an expression operator node needs both operands");
    if (Binary* below = std::get_if<Binary>(&left_->v)) {
        spine_ = std::move(below->spine_);
        below->spine_.clear();
        spine_.push_back(below);
    }
}

Binary::~Binary() {
    // Unlink the left edge one node at a time; each freed node's own left is
    // already detached, so only its right side (bounded by the nesting limit)
    // is freed recursively.
    std::unique_ptr<Node> next = std::move(left_);
    while (next) {
        Binary* b = std::get_if<Binary>(&next->v);
        if (b == nullptr) break;
        std::unique_ptr<Node> below = std::move(b->left_);
        next = std::move(below);
    }
}

std::string_view func_name(Func func) noexcept {
    for (const FuncInfo& f : FUNCS) {
        if (f.func == func) return f.name;
    }
    return {};
}

Result<Node> Expr::parse(std::string_view text, Lookup lookup) {
    Parser p(unicode::to_utf32(text), std::move(lookup));
    if (!p.skip_space()) return fail("the expression is empty");
    Result<Node> root = p.cmp();
    if (!root) return root;
    if (p.skip_space()) {
        return fail("unexpected '" + unicode::to_utf8(p.chars[p.pos]) +
                    "' after the end of the expression '" + std::string(text) + "'");
    }
    return root;
}

Parser::Parser(std::u32string chars_, Lookup lookup_)
    : chars(std::move(chars_)), lookup(std::move(lookup_)) {}

bool Parser::skip_space() {
    while (pos < chars.size() && unicode::is_white_space(chars[pos]))
        ++pos;
    return pos < chars.size();
}

Parser::Level::Level(Parser& p) : parser_(p) {
    ++parser_.depth_;
}

Parser::Level::~Level() {
    --parser_.depth_;
}

bool Parser::Level::too_deep() const {
    return parser_.depth_ > MAX_DEPTH;
}

Result<Node> Parser::cmp() {
    Result<Node> left = add();
    if (!left) return left;
    if (!skip_space()) return left;
    const char32_t c = chars[pos];
    if (c != U'<' && c != U'>') return left;
    ++pos;
    const bool or_equal = pos < chars.size() && chars[pos] == U'=';
    if (or_equal) ++pos;
    const BinOp op =
        c == U'<' ? (or_equal ? BinOp::Le : BinOp::Lt) : (or_equal ? BinOp::Ge : BinOp::Gt);
    Result<Node> right = add();
    if (!right) return right;
    return Node{Binary(op, boxed(std::move(*left)), boxed(std::move(*right)))};
}

Result<Node> Parser::add() {
    Result<Node> first = mul();
    if (!first) return first;
    Node acc = std::move(*first);
    while (skip_space() && (chars[pos] == U'+' || chars[pos] == U'-')) {
        const BinOp op = chars[pos] == U'+' ? BinOp::Add : BinOp::Sub;
        ++pos;
        Result<Node> right = mul();
        if (!right) return right;
        acc = Node{Binary(op, boxed(std::move(acc)), boxed(std::move(*right)))};
    }
    return acc;
}

Result<Node> Parser::mul() {
    Result<Node> first = unary();
    if (!first) return first;
    Node acc = std::move(*first);
    while (skip_space() && (chars[pos] == U'*' || chars[pos] == U'/')) {
        const BinOp op = chars[pos] == U'*' ? BinOp::Mul : BinOp::Div;
        ++pos;
        Result<Node> right = unary();
        if (!right) return right;
        acc = Node{Binary(op, boxed(std::move(acc)), boxed(std::move(*right)))};
    }
    return acc;
}

Result<Node> Parser::unary() {
    for (;;) {
        if (!skip_space()) return fail("the expression ends where a number or a name should be");
        if (chars[pos] == U'-') {
            ++pos;
            Level level(*this);
            if (level.too_deep()) return fail("the expression is nested too deeply");
            Result<Node> inner = unary();
            if (!inner) return inner;
            return Node{Neg{boxed(std::move(*inner))}};
        }
        // A plus sign changes nothing and opens no level, however many stand in a row.
        if (chars[pos] != U'+') break;
        ++pos;
    }
    Result<Node> base = primary();
    if (!base) return base;
    if (!skip_space() || chars[pos] != U'^') return base;
    ++pos;
    Level level(*this);
    if (level.too_deep()) return fail("the expression is nested too deeply");
    Result<Node> exponent = unary();
    if (!exponent) return exponent;
    return Node{Binary(BinOp::Pow, boxed(std::move(*base)), boxed(std::move(*exponent)))};
}

Result<Node> Parser::primary() {
    if (!skip_space()) return fail("the expression ends where a number or a name should be");
    const char32_t c = chars[pos];
    if (c == U'(') {
        ++pos;
        Level level(*this);
        if (level.too_deep()) return fail("the expression is nested too deeply");
        Result<Node> inner = cmp();
        if (!inner) return inner;
        if (!skip_space() || chars[pos] != U')') return fail("a '(' is never closed");
        ++pos;
        return inner;
    }
    if (is_digit(c) || c == U'.') return number();
    if (is_name_start(c)) return name();
    return fail("expected a number or a name but found '" + unicode::to_utf8(c) + "'");
}

Result<Node> Parser::number() {
    const std::size_t start = pos;
    while (pos < chars.size() && (is_digit(chars[pos]) || chars[pos] == U'.'))
        ++pos;
    if (pos < chars.size() && (chars[pos] == U'e' || chars[pos] == U'E')) {
        std::size_t i = pos + 1;
        if (i < chars.size() && (chars[i] == U'+' || chars[i] == U'-')) ++i;
        if (i < chars.size() && is_digit(chars[i])) {
            while (i < chars.size() && is_digit(chars[i]))
                ++i;
            pos = i;
        }
    }
    // Every character taken is ASCII.
    std::string text;
    text.reserve(pos - start);
    for (std::size_t i = start; i < pos; ++i)
        text += static_cast<char>(chars[i]);

    // Straight to f32: going through f64 would round twice.
    float value = 0.0f;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = orba::from_chars(text.data(), end, value);
    if (ptr != end || (ec != std::errc{} && ec != std::errc::result_out_of_range)) {
        return fail("'" + text + "' is not a number");
    }
    if (ec == std::errc::result_out_of_range) {
        value = overflows(text) ? std::numeric_limits<float>::infinity() : 0.0f;
    }
    return Node{Const{value}};
}

Result<Node> Parser::name() {
    const std::size_t start = pos;
    while (pos < chars.size() && is_name_char(chars[pos]))
        ++pos;
    std::string text;
    text.reserve(pos - start);
    for (std::size_t i = start; i < pos; ++i)
        text += static_cast<char>(chars[i]);

    // A name followed by "(" is always a call, so a parameter may share a
    // function's name.
    if (skip_space() && chars[pos] == U'(') return call(std::move(text));

    if (text == "pi") return Node{Const{PI}};
    if (text == "bpm") return Node{Tempo{}};
    if (text == "rate") return Node{SampleRate{}};
    if (lookup) {
        if (const std::optional<std::uint32_t> slot = lookup(text)) return Node{Slot{*slot}};
    }
    return fail("'" + text + "' is not a parameter, a modulator or a built-in name");
}

Result<Node> Parser::call(std::string name) {
    const FuncInfo* info = find_func(name);
    if (info == nullptr) return fail("there is no function named '" + name + "'");
    ++pos;
    Level level(*this);
    if (level.too_deep()) return fail("the expression is nested too deeply");

    std::vector<Node> args;
    if (skip_space() && chars[pos] == U')') {
        ++pos;
    } else {
        for (;;) {
            Result<Node> arg = cmp();
            if (!arg) return arg;
            args.push_back(std::move(*arg));
            if (skip_space() && chars[pos] == U',') {
                ++pos;
                continue;
            }
            if (pos < chars.size() && chars[pos] == U')') {
                ++pos;
                break;
            }
            return fail("the call to '" + name + "' needs a ',' or a ')'");
        }
    }
    if (args.size() != info->arity) {
        return fail("'" + name + "' takes " + std::to_string(info->arity) +
                    " value(s) but was given " + std::to_string(args.size()));
    }
    return Node{Call{info->func, std::move(args)}};
}

float eval(const Node& node, const ControlContext& ctx) noexcept {
    if (const auto* c = std::get_if<Const>(&node.v)) return c->value;
    if (const auto* s = std::get_if<Slot>(&node.v)) {
        return s->index < ctx.values.size() ? ctx.values[s->index] : 0.0f;
    }
    if (std::holds_alternative<SampleRate>(node.v)) return ctx.sample_rate;
    if (std::holds_alternative<Tempo>(node.v)) return ctx.tempo;
    if (const auto* n = std::get_if<Neg>(&node.v)) return n->child ? -eval(*n->child, ctx) : 0.0f;
    if (const auto* b = std::get_if<Binary>(&node.v)) return eval_binary(*b, ctx);
    if (const auto* c = std::get_if<Call>(&node.v)) return eval_call(*c, ctx);
    return 0.0f;
}

bool is_const(const Node& node) noexcept {
    if (std::holds_alternative<Const>(node.v)) return true;
    if (const auto* n = std::get_if<Neg>(&node.v)) return !n->child || is_const(*n->child);
    if (const auto* b = std::get_if<Binary>(&node.v)) return is_const_binary(*b);
    if (const auto* c = std::get_if<Call>(&node.v)) {
        // sync reads the tempo, whatever its argument.
        if (c->func == Func::Sync) return false;
        for (const Node& arg : c->args) {
            if (!is_const(arg)) return false;
        }
        return true;
    }
    return false;
}

}  // namespace orba::expr
