#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "orba/blocks/control_context.h"
#include "orba/core/result.h"

// Argument expressions: a small arithmetic language over parameters,
// modulators, the sample rate and the tempo ("time*ratio^2", "sync(0.75)",
// "if(mode > 0.5, 1, 0)"), parsed once at build time and evaluated as f32 on
// the audio thread.
namespace orba::expr {

enum class BinOp : std::uint8_t { Add, Sub, Mul, Div, Pow, Lt, Gt, Le, Ge };

enum class Func : std::uint8_t {
    Min,
    Max,
    Clamp,
    Abs,
    Pow,
    Exp,
    Ln,
    Log2,
    Sqrt,
    Sin,
    Cos,
    Tanh,
    Floor,
    Round,
    Db2Lin,
    Lin2Db,
    Semitones,
    Note,
    Mix,
    If,
    Sync,
};

// Parentheses, minus signs, "^" operands and call argument lists each open one
// level; a text nested deeper fails, so neither parsing nor evaluation can
// exhaust the stack. Sums and products of any length do not nest.
inline constexpr std::uint32_t MAX_DEPTH = 64;

struct Node;

struct Const {
    float value = 0.0f;
};

// An entry of the value table; reads 0 when the index is past its end.
struct Slot {
    std::uint32_t index = 0;
};

struct SampleRate {};

struct Tempo {};

struct Neg {
    std::unique_ptr<Node> child;
};

// Left-associative chains ("1+1+1+...") build trees as deep as they are long.
// Each operator node therefore also keeps the operator nodes down its left edge
// (the spine), bottom first, so that evaluation, the constant test and
// destruction walk a chain of any length in a loop instead of recursing. The
// children are reachable only through accessors so the spine cannot go stale.
class Binary {
  public:
    Binary(BinOp op, std::unique_ptr<Node> left, std::unique_ptr<Node> right);
    ~Binary();
    Binary(Binary&&) noexcept = default;
    Binary& operator=(Binary&&) noexcept = default;
    Binary(const Binary&) = delete;
    Binary& operator=(const Binary&) = delete;

    BinOp op() const { return op_; }
    const Node& left() const { return *left_; }
    const Node& right() const { return *right_; }
    // Operator nodes on the left edge below this one, deepest first. Empty for
    // a node that is itself the left child of another operator node.
    const std::vector<const Binary*>& spine() const { return spine_; }

  private:
    BinOp op_;
    std::unique_ptr<Node> left_;
    std::unique_ptr<Node> right_;
    std::vector<const Binary*> spine_;
};

struct Call {
    Func func = Func::Min;
    std::vector<Node> args;
};

// One node of an expression tree; each node owns its children.
struct Node {
    using Variant = std::variant<Const, Slot, SampleRate, Tempo, Neg, Binary, Call>;

    Node(Const c) : v(c) {}
    Node(Slot s) : v(s) {}
    // The empty alternatives start from a zeroed constant: GCC 12 otherwise
    // warns, wrongly, that moving such a node reads uninitialised storage.
    Node(SampleRate s) : v(Const{}) { v.emplace<SampleRate>(s); }
    Node(Tempo t) : v(Const{}) { v.emplace<Tempo>(t); }
    Node(Neg n) : v(std::move(n)) {}
    Node(Binary b) : v(std::move(b)) {}
    Node(Call c) : v(std::move(c)) {}

    Variant v;
};

// Resolves a name that is not built in to a slot of the value table.
using Lookup = std::function<std::optional<std::uint32_t>(std::string_view name)>;

// The names of the functions, in the order of Func: for a checker's hint,
// since a parse error names only what an expression may read.
std::string_view func_name(Func func) noexcept;
inline constexpr std::size_t FUNC_COUNT = static_cast<std::size_t>(Func::Sync) + 1;

struct Expr {
    // Parses the whole text (as given, not trimmed) into a tree, or returns the
    // first fault as one line of English.
    static Result<Node> parse(std::string_view text, Lookup lookup);
};

// Recursive-descent parse state over the decoded text.
class Parser {
  public:
    Parser(std::u32string chars, Lookup lookup);

    // sum, optionally followed by one of "<", "<=", ">", ">=" and a second sum
    Result<Node> cmp();
    // products joined by "+" and "-", folded left to right
    Result<Node> add();
    // unaries joined by "*" and "/", folded left to right
    Result<Node> mul();
    // signs, then a primary with an optional right-associative "^" unary
    Result<Node> unary();

    // Skips Unicode white space; true when characters are left.
    bool skip_space();

    std::u32string chars;
    Lookup lookup;
    std::size_t pos = 0;

  private:
    Result<Node> primary();
    Result<Node> number();
    Result<Node> name();
    Result<Node> call(std::string name);

    // One level of nesting, held while its inner text is read.
    class Level {
      public:
        explicit Level(Parser& p);
        ~Level();
        Level(const Level&) = delete;
        Level& operator=(const Level&) = delete;
        bool too_deep() const;

      private:
        Parser& parser_;
    };

    std::uint32_t depth_ = 0;
};

// The tree's value for the context. Never fails, allocates, locks or throws.
float eval(const Node& node, const ControlContext& ctx) noexcept;

// True when the value cannot change at run time: no slot, sample rate, tempo
// or `sync` anywhere in the tree.
bool is_const(const Node& node) noexcept;

}  // namespace orba::expr
