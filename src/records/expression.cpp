// Recursive-descent compiler to a typed tree, and a tree-walking evaluator.
// The tree is the contract between the two: every node has the arguments its kind takes, of the
// types it takes them in (checked once after compiling), and every evaluation gives a value of
// the node's type (checked at each node); both where assertions are on.
#include "records/expression.h"

#include "records/xb_error.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>

namespace telvane::records {

namespace {

enum class Tok { End, Number, String, Ident, LParen, RParen, Comma, Op, True, False, And, Or, Not };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // identifiers upper-cased; operators as written; string contents
    double number = 0;
    size_t pos = 0;
};

enum class Kind {
    Literal,
    Field,
    Concat,
    Add,
    Sub,
    Mul,
    Div,
    DateAdd,
    DateSub,
    DateDiff,
    Neg,
    Cmp,
    Contains,
    And,
    Or,
    Not,
    Func
};

enum class CmpOp { Eq, ExactEq, Ne, Lt, Gt, Le, Ge };

enum class Fn {
    Deleted,
    Dtos,
    Dtoc,
    Ctod,
    Upper,
    Lower,
    Alltrim,
    Ltrim,
    Rtrim,
    Empty,
    Str,
    Val,
    Len,
    Substr,
    Left,
    Right,
    Iif,
    Recno,
    Today
};

std::string rtrim(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
    return std::string(s.substr(0, n));
}

std::string ltrim(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return std::string(s.substr(i));
}

double parseNumber(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
    if (b == e) return 0;
    double v = 0;
    const char* first = s.data() + b;
    if (*first == '+') ++first;
    const auto r = std::from_chars(first, s.data() + e, v);
    if (r.ec != std::errc()) return 0;
    return v;
}

std::string formatNumber(double v, int len, int dec) {
    if (len < 1) len = 1;
    if (len > 64) len = 64;
    if (dec < 0) dec = 0;
    if (dec > 15) dec = 15;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.*f", dec, v);
    std::string s = buf;
    if (s == "-0" || (s.size() > 1 && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)) s.erase(0, 1);
    if (int(s.size()) > len) return std::string(size_t(len), '*');
    return std::string(size_t(len) - s.size(), ' ') + s;
}

// A number from an expression as an int within [lo, hi]; NaN gives lo. Converting a double
// outside int's range directly is undefined.
int clampToInt(double v, int lo, int hi) {
    if (!(v >= double(lo))) return lo;
    if (v >= double(hi)) return hi;
    return int(v);
}

int cmpPadded(std::string_view a, std::string_view b) {
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = i < a.size() ? a[i] : ' ';
        const unsigned char cb = i < b.size() ? b[i] : ' ';
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

const char* typeName(ValueType t) {
    switch (t) {
    case ValueType::Character: return "text";
    case ValueType::Numeric: return "number";
    case ValueType::Date: return "date";
    case ValueType::Logical: return "logical";
    }
    return "?";
}

}  // namespace

struct Expression::Node {
    Kind kind = Kind::Literal;
    ValueType type = ValueType::Logical;
    int width = 0;
    size_t pos = 0;
    Value literal;
    int field = -1;
    int offset = 0;
    FieldType fieldType = FieldType::Character;
    CmpOp op = CmpOp::Eq;
    Fn fn = Fn::Deleted;
    std::vector<std::unique_ptr<Node>> args;

    Value eval(const EvalContext& ctx) const;
    // Whether this node and those below it have the arguments and types their kinds take.
    bool wellTyped() const;

private:
    // A value of the node's type, to be filled in.
    Value result() const {
        Value r;
        r.type = type;
        return r;
    }
    Value compute(const EvalContext& ctx) const;
    Value fieldValue(const EvalContext& ctx) const;
    Value arithmetic(const EvalContext& ctx) const;
    Value dateArithmetic(const EvalContext& ctx) const;
    Value comparison(const EvalContext& ctx) const;
    Value logic(const EvalContext& ctx) const;
    Value function(const EvalContext& ctx) const;
    Value textFunction(const EvalContext& ctx) const;
    Value conversion(const EvalContext& ctx) const;
    bool argsAre(std::initializer_list<ValueType> types) const;
};

namespace {

using NodePtr = std::unique_ptr<Expression::Node>;

struct FnInfo {
    const char* name;
    Fn fn;
    int minArgs;
    int maxArgs;
};

constexpr FnInfo kFunctions[] = {
    {"DELETED", Fn::Deleted, 0, 0}, {"DTOS", Fn::Dtos, 1, 1},   {"DTOC", Fn::Dtoc, 1, 1},
    {"CTOD", Fn::Ctod, 1, 1},       {"UPPER", Fn::Upper, 1, 1}, {"LOWER", Fn::Lower, 1, 1},
    {"ALLTRIM", Fn::Alltrim, 1, 1}, {"LTRIM", Fn::Ltrim, 1, 1}, {"RTRIM", Fn::Rtrim, 1, 1},
    {"TRIM", Fn::Rtrim, 1, 1},      {"EMPTY", Fn::Empty, 1, 1}, {"STR", Fn::Str, 1, 3},
    {"VAL", Fn::Val, 1, 1},         {"LEN", Fn::Len, 1, 1},     {"SUBSTR", Fn::Substr, 2, 3},
    {"LEFT", Fn::Left, 2, 2},       {"RIGHT", Fn::Right, 2, 2}, {"IIF", Fn::Iif, 3, 3},
    {"RECNO", Fn::Recno, 0, 0},     {"DATE", Fn::Today, 0, 0},
};

class Parser {
public:
    Parser(std::string_view text, const std::vector<FieldDef>& fields, const std::vector<int>& offsets)
        : text_(text), fields_(fields), offsets_(offsets) {}

    NodePtr parse() {
        advance();
        if (tok_.kind == Tok::End) fail(0, "the expression is empty");
        NodePtr n = parseOr();
        if (tok_.kind != Tok::End) fail(tok_.pos, "unexpected " + describe(tok_) + " after a complete expression");
        return n;
    }

private:
    [[noreturn]] void fail(size_t pos, const std::string& reason) const {
        throw EXbExpressionError(std::string(text_), pos, reason);
    }

    static std::string describe(const Token& t) {
        switch (t.kind) {
        case Tok::End: return "end of the expression";
        case Tok::String: return "text \"" + t.text + "\"";
        case Tok::Number: return "number " + t.text;
        default: return "'" + t.text + "'";
        }
    }

    void advance() {
        const size_t n = text_.size();
        while (p_ < n && (text_[p_] == ' ' || text_[p_] == '\t' || text_[p_] == '\r' || text_[p_] == '\n')) ++p_;
        tok_ = Token{};
        tok_.pos = p_;
        if (p_ >= n) return;
        const char c = text_[p_];
        if (c == '"' || c == '\'') {
            const size_t end = text_.find(c, p_ + 1);
            if (end == std::string_view::npos) fail(p_, "text literal is not closed");
            tok_.kind = Tok::String;
            tok_.text = std::string(text_.substr(p_ + 1, end - p_ - 1));
            p_ = end + 1;
            return;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && p_ + 1 < n && std::isdigit(static_cast<unsigned char>(text_[p_ + 1])))) {
            // A '.' belongs to the number only when a digit follows ("3.and." is 3 .AND.).
            size_t e = p_;
            bool point = false;
            while (e < n) {
                if (std::isdigit(static_cast<unsigned char>(text_[e]))) {
                    ++e;
                } else if (text_[e] == '.' && !point && e + 1 < n &&
                           std::isdigit(static_cast<unsigned char>(text_[e + 1]))) {
                    point = true;
                    ++e;
                } else {
                    break;
                }
            }
            tok_.kind = Tok::Number;
            tok_.text = std::string(text_.substr(p_, e - p_));
            tok_.number = parseNumber(tok_.text);
            p_ = e;
            return;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t e = p_;
            while (e < n && (std::isalnum(static_cast<unsigned char>(text_[e])) || text_[e] == '_')) ++e;
            tok_.kind = Tok::Ident;
            tok_.text = upperCp1252(text_.substr(p_, e - p_));
            p_ = e;
            return;
        }
        if (c == '.') {
            const size_t end = text_.find('.', p_ + 1);
            if (end != std::string_view::npos && end - p_ <= 7) {
                const std::string w = upperCp1252(text_.substr(p_ + 1, end - p_ - 1));
                Tok k = Tok::End;
                if (w == "T" || w == "TRUE" || w == "Y")
                    k = Tok::True;
                else if (w == "F" || w == "FALSE" || w == "N")
                    k = Tok::False;
                else if (w == "AND")
                    k = Tok::And;
                else if (w == "OR")
                    k = Tok::Or;
                else if (w == "NOT")
                    k = Tok::Not;
                if (k != Tok::End) {
                    tok_.kind = k;
                    tok_.text = std::string(text_.substr(p_, end - p_ + 1));
                    p_ = end + 1;
                    return;
                }
            }
            fail(p_, "unknown word starting with '.'");
        }
        tok_.text = std::string(1, c);
        switch (c) {
        case '(':
            tok_.kind = Tok::LParen;
            ++p_;
            return;
        case ')':
            tok_.kind = Tok::RParen;
            ++p_;
            return;
        case ',':
            tok_.kind = Tok::Comma;
            ++p_;
            return;
        case '+':
        case '-':
        case '*':
        case '/':
        case '$':
        case '#':
            tok_.kind = Tok::Op;
            ++p_;
            return;
        case '=':
        case '<':
        case '>':
        case '!': {
            tok_.kind = Tok::Op;
            ++p_;
            if (p_ < n && (text_[p_] == '=' || (c == '<' && text_[p_] == '>'))) tok_.text += text_[p_++];
            if (tok_.text == "!") tok_.kind = Tok::Not;
            return;
        }
        default: break;
        }
        fail(p_, std::string("unexpected character '") + c + "'");
    }

    bool isOp(const char* op) const { return tok_.kind == Tok::Op && tok_.text == op; }

    NodePtr make(Kind k, ValueType t, size_t pos) {
        // Bounds the tree, and with it the recursion of evaluation.
        if (++nodes_ > kMaxNodes)
            fail(pos, "the expression is too long (more than " + std::to_string(kMaxNodes) + " parts)");
        auto n = std::make_unique<Expression::Node>();
        n->kind = k;
        n->type = t;
        n->pos = pos;
        return n;
    }

    void need(const NodePtr& n, ValueType t, const std::string& what) const {
        if (n->type != t) fail(n->pos, what + " needs " + typeName(t) + ", not " + typeName(n->type));
    }

    // The node n with the two operands as its arguments.
    static NodePtr withOperands(NodePtr n, NodePtr left, NodePtr right) {
        n->args.push_back(std::move(left));
        n->args.push_back(std::move(right));
        return n;
    }

    // A left-associative chain of logical operands joined by `tok` (.AND. or .OR.).
    NodePtr parseLogicalChain(Tok tok, Kind kind, const char* name, NodePtr (Parser::*operand)()) {
        NodePtr left = (this->*operand)();
        while (tok_.kind == tok) {
            const size_t pos = tok_.pos;
            advance();
            NodePtr right = (this->*operand)();
            need(left, ValueType::Logical, name);
            need(right, ValueType::Logical, name);
            left = withOperands(make(kind, ValueType::Logical, pos), std::move(left), std::move(right));
        }
        return left;
    }

    NodePtr parseOr() { return parseLogicalChain(Tok::Or, Kind::Or, ".OR.", &Parser::parseAnd); }

    NodePtr parseAnd() { return parseLogicalChain(Tok::And, Kind::And, ".AND.", &Parser::parseNot); }

    NodePtr parseNot() {
        if (tok_.kind == Tok::Not) {
            const size_t pos = tok_.pos;
            advance();
            if (++depth_ > kMaxDepth) fail(pos, "expression nested too deeply");
            NodePtr arg = parseNot();
            --depth_;
            need(arg, ValueType::Logical, ".NOT.");
            NodePtr n = make(Kind::Not, ValueType::Logical, pos);
            n->args.push_back(std::move(arg));
            return n;
        }
        return parseComparison();
    }

    NodePtr parseComparison() {
        NodePtr left = parseAdditive();
        if (tok_.kind != Tok::Op) return left;
        const std::string op = tok_.text;
        const size_t pos = tok_.pos;
        CmpOp cmp;
        if (op == "=")
            cmp = CmpOp::Eq;
        else if (op == "==")
            cmp = CmpOp::ExactEq;
        else if (op == "!=" || op == "<>" || op == "#")
            cmp = CmpOp::Ne;
        else if (op == "<")
            cmp = CmpOp::Lt;
        else if (op == ">")
            cmp = CmpOp::Gt;
        else if (op == "<=")
            cmp = CmpOp::Le;
        else if (op == ">=")
            cmp = CmpOp::Ge;
        else if (op == "$") {
            advance();
            NodePtr right = parseAdditive();
            need(left, ValueType::Character, "'$'");
            need(right, ValueType::Character, "'$'");
            return withOperands(make(Kind::Contains, ValueType::Logical, pos), std::move(left), std::move(right));
        } else {
            return left;
        }
        advance();
        NodePtr right = parseAdditive();
        if (left->type != right->type)
            fail(pos, "cannot compare " + std::string(typeName(left->type)) + " with " + typeName(right->type));
        if (left->type == ValueType::Logical && cmp != CmpOp::Eq && cmp != CmpOp::ExactEq && cmp != CmpOp::Ne)
            fail(pos, "logical values can only be compared for equality");
        NodePtr n = withOperands(make(Kind::Cmp, ValueType::Logical, pos), std::move(left), std::move(right));
        n->op = cmp;
        if (tok_.kind == Tok::Op && tok_.text != "+" && tok_.text != "-" && tok_.text != "*" && tok_.text != "/")
            fail(tok_.pos, "comparisons cannot be chained; use .AND.");
        return n;
    }

    NodePtr parseAdditive() {
        NodePtr left = parseMultiplicative();
        while (isOp("+") || isOp("-")) {
            const bool plus = tok_.text == "+";
            const size_t pos = tok_.pos;
            advance();
            NodePtr right = parseMultiplicative();
            const ValueType a = left->type, b = right->type;
            NodePtr n;
            if (plus && a == ValueType::Character && b == ValueType::Character) {
                n = make(Kind::Concat, ValueType::Character, pos);
                n->width = left->width + right->width;
            } else if (a == ValueType::Numeric && b == ValueType::Numeric) {
                n = make(plus ? Kind::Add : Kind::Sub, ValueType::Numeric, pos);
            } else if (a == ValueType::Date && b == ValueType::Numeric) {
                n = make(plus ? Kind::DateAdd : Kind::DateSub, ValueType::Date, pos);
            } else if (plus && a == ValueType::Numeric && b == ValueType::Date) {
                n = make(Kind::DateAdd, ValueType::Date, pos);
                std::swap(left, right);
            } else if (!plus && a == ValueType::Date && b == ValueType::Date) {
                n = make(Kind::DateDiff, ValueType::Numeric, pos);
            } else {
                fail(pos, std::string("cannot apply '") + (plus ? "+" : "-") + "' to " + typeName(a) + " and " +
                              typeName(b));
            }
            left = withOperands(std::move(n), std::move(left), std::move(right));
        }
        return left;
    }

    NodePtr parseMultiplicative() {
        NodePtr left = parseUnary();
        while (isOp("*") || isOp("/")) {
            const bool mul = tok_.text == "*";
            const size_t pos = tok_.pos;
            advance();
            NodePtr right = parseUnary();
            need(left, ValueType::Numeric, mul ? "'*'" : "'/'");
            need(right, ValueType::Numeric, mul ? "'*'" : "'/'");
            left = withOperands(make(mul ? Kind::Mul : Kind::Div, ValueType::Numeric, pos), std::move(left),
                                std::move(right));
        }
        return left;
    }

    NodePtr parseUnary() {
        if (isOp("-") || isOp("+")) {
            const bool neg = tok_.text == "-";
            const size_t pos = tok_.pos;
            advance();
            if (++depth_ > kMaxDepth) fail(pos, "expression nested too deeply");
            NodePtr arg = parseUnary();
            --depth_;
            need(arg, ValueType::Numeric, "a sign");
            if (!neg) return arg;
            NodePtr n = make(Kind::Neg, ValueType::Numeric, pos);
            n->args.push_back(std::move(arg));
            return n;
        }
        return parsePrimary();
    }

    NodePtr literal(ValueType t, size_t pos) {
        NodePtr n = make(Kind::Literal, t, pos);
        n->literal.type = t;
        return n;
    }

    NodePtr parsePrimary() {
        const Token t = tok_;
        switch (t.kind) {
        case Tok::Number: {
            advance();
            NodePtr n = literal(ValueType::Numeric, t.pos);
            n->literal.num = t.number;
            return n;
        }
        case Tok::String: {
            advance();
            NodePtr n = literal(ValueType::Character, t.pos);
            n->literal.str = t.text;
            n->width = int(t.text.size());
            return n;
        }
        case Tok::True:
        case Tok::False: {
            advance();
            NodePtr n = literal(ValueType::Logical, t.pos);
            n->literal.logical = t.kind == Tok::True;
            return n;
        }
        case Tok::LParen: {
            advance();
            if (++depth_ > kMaxDepth) fail(t.pos, "expression nested too deeply");
            NodePtr n = parseOr();
            --depth_;
            if (tok_.kind != Tok::RParen) fail(tok_.pos, "expected ')' but found " + describe(tok_));
            advance();
            return n;
        }
        case Tok::Ident: {
            advance();
            if (tok_.kind == Tok::LParen) return parseCall(t);
            if (tok_.kind == Tok::Op && tok_.text == "-" && p_ < text_.size() && text_[p_] == '>') {
                fail(tok_.pos, "table aliases ('->') are not supported");
            }
            return parseField(t);
        }
        default: break;
        }
        if (t.kind == Tok::End) fail(t.pos, "the expression ends where a value was expected");
        fail(t.pos, "expected a value but found " + describe(t));
    }

    NodePtr parseField(const Token& t) {
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (fields_[i].name == t.text) {
                const FieldDef& f = fields_[i];
                ValueType vt = ValueType::Character;
                switch (f.type) {
                case FieldType::Numeric:
                case FieldType::Float: vt = ValueType::Numeric; break;
                case FieldType::Date: vt = ValueType::Date; break;
                case FieldType::Logical: vt = ValueType::Logical; break;
                case FieldType::Character:
                case FieldType::Memo: vt = ValueType::Character; break;
                }
                NodePtr n = make(Kind::Field, vt, t.pos);
                n->field = int(i);
                n->offset = offsets_[i];
                n->fieldType = f.type;
                n->width = f.type == FieldType::Memo ? 10 : f.width;
                return n;
            }
        }
        for (const auto& fi : kFunctions) {
            if (t.text == fi.name) fail(t.pos, "function " + t.text + " needs '(' after its name");
        }
        fail(t.pos, "unknown field " + t.text);
    }

    NodePtr parseCall(const Token& name) {
        const FnInfo* info = nullptr;
        for (const auto& fi : kFunctions) {
            if (name.text == fi.name) info = &fi;
        }
        if (!info) fail(name.pos, "unknown function " + name.text + "()");
        advance();  // '('
        if (++depth_ > kMaxDepth) fail(name.pos, "expression nested too deeply");
        std::vector<NodePtr> args;
        if (tok_.kind != Tok::RParen) {
            while (true) {
                args.push_back(parseOr());
                if (tok_.kind == Tok::Comma) {
                    advance();
                    continue;
                }
                break;
            }
        }
        --depth_;
        if (tok_.kind != Tok::RParen)
            fail(tok_.pos, "expected ')' or ',' in the call of " + name.text + "() but found " + describe(tok_));
        advance();
        if (int(args.size()) < info->minArgs || int(args.size()) > info->maxArgs) {
            std::string want = std::to_string(info->minArgs);
            if (info->maxArgs != info->minArgs) want += " to " + std::to_string(info->maxArgs);
            fail(name.pos, name.text + "() takes " + want + " argument(s), not " + std::to_string(args.size()));
        }
        NodePtr n = make(Kind::Func, ValueType::Character, name.pos);
        n->fn = info->fn;
        const std::string fnName = name.text + "()";
        auto arg = [&](size_t i, ValueType t) { need(args[i], t, fnName); };
        auto constInt = [&](size_t i, int fallback) {
            return args.size() > i && args[i]->kind == Kind::Literal ? clampToInt(args[i]->literal.num, -1, 65535)
                                                                     : fallback;
        };
        switch (info->fn) {
        case Fn::Deleted: n->type = ValueType::Logical; break;
        case Fn::Dtos:
            arg(0, ValueType::Date);
            n->width = 8;
            break;
        case Fn::Dtoc:
            arg(0, ValueType::Date);
            n->width = 10;
            break;
        case Fn::Ctod:
            arg(0, ValueType::Character);
            n->type = ValueType::Date;
            break;
        case Fn::Upper:
        case Fn::Lower:
        case Fn::Alltrim:
        case Fn::Ltrim:
        case Fn::Rtrim:
            arg(0, ValueType::Character);
            n->width = args[0]->width;
            break;
        case Fn::Empty: n->type = ValueType::Logical; break;
        case Fn::Str:
            arg(0, ValueType::Numeric);
            for (size_t i = 1; i < args.size(); ++i) arg(i, ValueType::Numeric);
            n->width = std::clamp(constInt(1, 10), 1, 64);
            break;
        case Fn::Val:
            arg(0, ValueType::Character);
            n->type = ValueType::Numeric;
            break;
        case Fn::Len:
            arg(0, ValueType::Character);
            n->type = ValueType::Numeric;
            break;
        case Fn::Substr:
            arg(0, ValueType::Character);
            for (size_t i = 1; i < args.size(); ++i) arg(i, ValueType::Numeric);
            n->width = std::clamp(constInt(2, args[0]->width), 0, std::max(args[0]->width, 0));
            break;
        case Fn::Left:
        case Fn::Right:
            arg(0, ValueType::Character);
            arg(1, ValueType::Numeric);
            n->width = std::clamp(constInt(1, args[0]->width), 0, std::max(args[0]->width, 0));
            break;
        case Fn::Iif:
            arg(0, ValueType::Logical);
            if (args[1]->type != args[2]->type) fail(name.pos, "IIF() needs both results of the same type");
            n->type = args[1]->type;
            n->width = std::max(args[1]->width, args[2]->width);
            break;
        case Fn::Recno: n->type = ValueType::Numeric; break;
        case Fn::Today: n->type = ValueType::Date; break;
        }
        n->args = std::move(args);
        return n;
    }

    static constexpr int kMaxDepth = 200;
    static constexpr int kMaxNodes = 1000;
    int nodes_ = 0;
    std::string_view text_;
    const std::vector<FieldDef>& fields_;
    const std::vector<int>& offsets_;
    size_t p_ = 0;
    int depth_ = 0;
    Token tok_;
};

bool isEmptyValue(const Value& v) {
    switch (v.type) {
    case ValueType::Character: return v.str.find_first_not_of(" \t\r\n") == std::string::npos;
    case ValueType::Numeric: return v.num == 0;
    case ValueType::Date: return v.jdn == 0;
    case ValueType::Logical: return !v.logical;
    }
    return true;
}

}  // namespace

Value Expression::Node::eval(const EvalContext& ctx) const {
    Value r = compute(ctx);
    assert(r.type == type);
    return r;
}

Value Expression::Node::compute(const EvalContext& ctx) const {
    switch (kind) {
    case Kind::Literal: return literal;
    case Kind::Field: return fieldValue(ctx);
    case Kind::Concat:
    case Kind::Add:
    case Kind::Sub:
    case Kind::Mul:
    case Kind::Div:
    case Kind::Neg: return arithmetic(ctx);
    case Kind::DateAdd:
    case Kind::DateSub:
    case Kind::DateDiff: return dateArithmetic(ctx);
    case Kind::Cmp:
    case Kind::Contains: return comparison(ctx);
    case Kind::And:
    case Kind::Or:
    case Kind::Not: return logic(ctx);
    case Kind::Func: return function(ctx);
    }
    return result();
}

Value Expression::Node::fieldValue(const EvalContext& ctx) const {
    assert(ctx.record);
    Value r = result();
    const char* p = ctx.record + offset;
    const std::string_view raw(p, size_t(fieldType == FieldType::Memo ? 10 : width));
    switch (fieldType) {
    case FieldType::Character: r.str.assign(raw); break;
    case FieldType::Numeric:
    case FieldType::Float: r.num = parseNumber(raw); break;
    case FieldType::Date: r.jdn = Date::fromDtos(raw).julianDay(); break;
    case FieldType::Logical: r.logical = raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y'; break;
    case FieldType::Memo: r.str = ctx.memoReader ? ctx.memoReader(field, raw) : std::string(); break;
    }
    return r;
}

// Joined text and the numeric operators.
Value Expression::Node::arithmetic(const EvalContext& ctx) const {
    Value r = result();
    switch (kind) {
    case Kind::Concat:
        r.str = args[0]->eval(ctx).str;
        r.str += args[1]->eval(ctx).str;
        break;
    case Kind::Add: r.num = args[0]->eval(ctx).num + args[1]->eval(ctx).num; break;
    case Kind::Sub: r.num = args[0]->eval(ctx).num - args[1]->eval(ctx).num; break;
    case Kind::Mul: r.num = args[0]->eval(ctx).num * args[1]->eval(ctx).num; break;
    case Kind::Div: {
        const double d = args[1]->eval(ctx).num;
        r.num = d == 0 ? 0 : args[0]->eval(ctx).num / d;
        break;
    }
    case Kind::Neg: r.num = -args[0]->eval(ctx).num; break;
    default: assert(false);
    }
    return r;
}

// A date plus or minus days (an empty date stays empty), and days between two dates.
Value Expression::Node::dateArithmetic(const EvalContext& ctx) const {
    Value r = result();
    if (kind == Kind::DateDiff) {
        const Value a = args[0]->eval(ctx), b = args[1]->eval(ctx);
        r.num = (a.jdn == 0 || b.jdn == 0) ? 0 : double(a.jdn - b.jdn);
        return r;
    }
    const Value d = args[0]->eval(ctx);
    const double days = args[1]->eval(ctx).num;
    if (d.jdn == 0 || !std::isfinite(days) || std::fabs(days) > 4e6) {
        r.jdn = d.jdn;
        return r;
    }
    const int64_t j = d.jdn + int64_t(kind == Kind::DateAdd ? days : -days);
    r.jdn = Date::fromJulianDay(j).julianDay();
    return r;
}

// The comparisons of two values of one type, and '$' (text contained in text).
Value Expression::Node::comparison(const EvalContext& ctx) const {
    Value r = result();
    const Value a = args[0]->eval(ctx), b = args[1]->eval(ctx);
    if (kind == Kind::Contains) {
        r.logical = b.str.find(a.str) != std::string::npos;
        return r;
    }
    int c = 0;
    bool equal = false;
    switch (a.type) {
    case ValueType::Character:
        if (op == CmpOp::ExactEq) {
            equal = a.str == b.str;
        } else if (op == CmpOp::Eq || op == CmpOp::Ne) {
            std::string left = a.str;
            if (left.size() < b.str.size()) left.resize(b.str.size(), ' ');
            equal = left.compare(0, b.str.size(), b.str) == 0;
        }
        c = cmpPadded(a.str, b.str);
        break;
    case ValueType::Numeric:
        c = a.num < b.num ? -1 : (a.num > b.num ? 1 : 0);
        equal = c == 0;
        break;
    case ValueType::Date:
        c = a.jdn < b.jdn ? -1 : (a.jdn > b.jdn ? 1 : 0);
        equal = c == 0;
        break;
    case ValueType::Logical: equal = a.logical == b.logical; break;
    }
    switch (op) {
    case CmpOp::Eq:
    case CmpOp::ExactEq: r.logical = equal; break;
    case CmpOp::Ne: r.logical = !equal; break;
    case CmpOp::Lt: r.logical = c < 0; break;
    case CmpOp::Gt: r.logical = c > 0; break;
    case CmpOp::Le: r.logical = c <= 0; break;
    case CmpOp::Ge: r.logical = c >= 0; break;
    }
    return r;
}

Value Expression::Node::logic(const EvalContext& ctx) const {
    Value r = result();
    if (kind == Kind::And)
        r.logical = args[0]->eval(ctx).logical && args[1]->eval(ctx).logical;
    else if (kind == Kind::Or)
        r.logical = args[0]->eval(ctx).logical || args[1]->eval(ctx).logical;
    else
        r.logical = !args[0]->eval(ctx).logical;
    return r;
}

Value Expression::Node::function(const EvalContext& ctx) const {
    Value r = result();
    switch (fn) {
    case Fn::Deleted: r.logical = ctx.record && ctx.record[0] == '*'; break;
    case Fn::Empty: r.logical = isEmptyValue(args[0]->eval(ctx)); break;
    case Fn::Iif: r = args[0]->eval(ctx).logical ? args[1]->eval(ctx) : args[2]->eval(ctx); break;
    case Fn::Recno: r.num = double(ctx.recno); break;
    case Fn::Today: r.jdn = Date::today().julianDay(); break;
    case Fn::Upper:
    case Fn::Lower:
    case Fn::Alltrim:
    case Fn::Ltrim:
    case Fn::Rtrim:
    case Fn::Substr:
    case Fn::Left:
    case Fn::Right: return textFunction(ctx);
    case Fn::Dtos:
    case Fn::Dtoc:
    case Fn::Ctod:
    case Fn::Str:
    case Fn::Val:
    case Fn::Len: return conversion(ctx);
    }
    return r;
}

// The functions that give part of a text or the text changed.
Value Expression::Node::textFunction(const EvalContext& ctx) const {
    Value r = result();
    const std::string s = args[0]->eval(ctx).str;
    switch (fn) {
    case Fn::Upper: r.str = upperCp1252(s); break;
    case Fn::Lower: r.str = lowerCp1252(s); break;
    case Fn::Alltrim: r.str = ltrim(rtrim(s)); break;
    case Fn::Ltrim: r.str = ltrim(s); break;
    case Fn::Rtrim: r.str = rtrim(s); break;
    case Fn::Substr: {
        const double start = args[1]->eval(ctx).num;
        const double len = args.size() > 2 ? args[2]->eval(ctx).num : double(s.size());
        if (start >= 1 && start <= double(s.size()) && len > 0) {
            const size_t b = size_t(start) - 1;
            r.str = s.substr(b, size_t(std::min(len, double(s.size() - b))));
        }
        break;
    }
    case Fn::Left:
    case Fn::Right: {
        const double n = args[1]->eval(ctx).num;
        const size_t k = size_t(clampToInt(n, 0, int(s.size())));
        r.str = fn == Fn::Left ? s.substr(0, k) : s.substr(s.size() - k);
        break;
    }
    default: assert(false);
    }
    return r;
}

// The functions that turn a value of one type into another.
Value Expression::Node::conversion(const EvalContext& ctx) const {
    Value r = result();
    switch (fn) {
    case Fn::Dtos: r.str = Date::fromJulianDay(args[0]->eval(ctx).jdn).dtos(); break;
    case Fn::Dtoc: {
        const Date d = Date::fromJulianDay(args[0]->eval(ctx).jdn);
        if (d.isEmpty()) {
            r.str = "  /  /    ";
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.month, d.day, d.year);
            r.str = buf;
        }
        break;
    }
    case Fn::Ctod: r.jdn = Date::fromMdy(args[0]->eval(ctx).str).julianDay(); break;
    case Fn::Str: {
        const double v = args[0]->eval(ctx).num;
        const int len = args.size() > 1 ? clampToInt(args[1]->eval(ctx).num, 1, 64) : 10;
        const int dec = args.size() > 2 ? clampToInt(args[2]->eval(ctx).num, 0, 15) : 0;
        r.str = formatNumber(v, len, dec);
        break;
    }
    case Fn::Val: r.num = parseNumber(args[0]->eval(ctx).str); break;
    case Fn::Len: r.num = double(args[0]->eval(ctx).str.size()); break;
    default: assert(false);
    }
    return r;
}

bool Expression::Node::argsAre(std::initializer_list<ValueType> types) const {
    if (args.size() != types.size()) return false;
    size_t i = 0;
    for (ValueType t : types)
        if (args[i++]->type != t) return false;
    return true;
}

bool Expression::Node::wellTyped() const {
    constexpr ValueType kText = ValueType::Character, kNumber = ValueType::Numeric, kDate = ValueType::Date,
                        kLogical = ValueType::Logical;
    for (const auto& a : args)
        if (!a->wellTyped()) return false;
    switch (kind) {
    case Kind::Literal: return args.empty() && literal.type == type;
    case Kind::Field: return args.empty() && field >= 0 && offset >= 1;
    case Kind::Concat: return type == kText && argsAre({kText, kText});
    case Kind::Add:
    case Kind::Sub:
    case Kind::Mul:
    case Kind::Div: return type == kNumber && argsAre({kNumber, kNumber});
    case Kind::Neg: return type == kNumber && argsAre({kNumber});
    case Kind::DateAdd:
    case Kind::DateSub: return type == kDate && argsAre({kDate, kNumber});
    case Kind::DateDiff: return type == kNumber && argsAre({kDate, kDate});
    case Kind::Cmp:
        return type == kLogical && args.size() == 2 && args[0]->type == args[1]->type &&
               (args[0]->type != kLogical || op == CmpOp::Eq || op == CmpOp::ExactEq || op == CmpOp::Ne);
    case Kind::Contains: return type == kLogical && argsAre({kText, kText});
    case Kind::And:
    case Kind::Or: return type == kLogical && argsAre({kLogical, kLogical});
    case Kind::Not: return type == kLogical && argsAre({kLogical});
    case Kind::Func: break;
    }
    switch (fn) {
    case Fn::Deleted: return type == kLogical && args.empty();
    case Fn::Dtos:
    case Fn::Dtoc: return type == kText && argsAre({kDate});
    case Fn::Ctod: return type == kDate && argsAre({kText});
    case Fn::Upper:
    case Fn::Lower:
    case Fn::Alltrim:
    case Fn::Ltrim:
    case Fn::Rtrim: return type == kText && argsAre({kText});
    case Fn::Empty: return type == kLogical && args.size() == 1;
    case Fn::Str:
        return type == kText &&
               (argsAre({kNumber}) || argsAre({kNumber, kNumber}) || argsAre({kNumber, kNumber, kNumber}));
    case Fn::Val:
    case Fn::Len: return type == kNumber && argsAre({kText});
    case Fn::Substr: return type == kText && (argsAre({kText, kNumber}) || argsAre({kText, kNumber, kNumber}));
    case Fn::Left:
    case Fn::Right: return type == kText && argsAre({kText, kNumber});
    case Fn::Iif:
        return args.size() == 3 && args[0]->type == kLogical && args[1]->type == type && args[2]->type == type;
    case Fn::Recno: return type == kNumber && args.empty();
    case Fn::Today: return type == kDate && args.empty();
    }
    return false;
}

std::string encodeNumericKey(double value) {
    if (value == 0 || std::isnan(value)) value = 0;  // folds -0 and NaN onto 0
    uint64_t bits = std::bit_cast<uint64_t>(value);
    if (value < 0)
        bits = ~bits;
    else
        bits ^= uint64_t(1) << 63;
    std::string k(8, '\0');
    for (int i = 0; i < 8; ++i) k[size_t(i)] = char(uint8_t(bits >> (56 - 8 * i)));
    return k;
}

Expression::~Expression() = default;

std::unique_ptr<Expression> Expression::compile(std::string_view text, const std::vector<FieldDef>& fields,
                                                const std::vector<int>& offsets) {
    std::unique_ptr<Expression> e(new Expression);
    e->text_ = std::string(text);
    Parser parser(e->text_, fields, offsets);
    e->root_ = parser.parse();
    assert(e->root_->wellTyped());
    return e;
}

ValueType Expression::type() const { return root_->type; }
int Expression::width() const { return root_->width; }

int Expression::keyLength() const {
    switch (root_->type) {
    case ValueType::Character: return root_->width;
    case ValueType::Numeric:
    case ValueType::Date: return 8;
    case ValueType::Logical: return 1;
    }
    return 1;
}

Value Expression::evaluate(const EvalContext& ctx) const { return root_->eval(ctx); }

bool Expression::evaluateLogical(const EvalContext& ctx) const {
    if (root_->type != ValueType::Logical)
        throw EXbExpressionError(
            text_, 0, "the expression gives " + std::string(typeName(root_->type)) + ", not a logical value");
    return root_->eval(ctx).logical;
}

std::string Expression::key(const EvalContext& ctx) const {
    const Value v = root_->eval(ctx);
    switch (v.type) {
    case ValueType::Character: {
        std::string k = v.str;
        k.resize(size_t(std::max(root_->width, 1)), ' ');
        return k;
    }
    case ValueType::Numeric: return encodeNumericKey(v.num);
    case ValueType::Date: return encodeNumericKey(double(v.jdn));
    case ValueType::Logical: return v.logical ? "T" : "F";
    }
    return {};
}

}  // namespace telvane::records
