// Expression compiler and evaluator for the xBase expression language used by filters, index
// keys, FOR conditions and the clean-up conditions. Expressions are compiled once against a
// table's fields (names and functions case-insensitive, types checked), and every error is an
// EXbExpressionError with the position and the reason; evaluation never fails on record data.
//
// Supported: field names; "..." and '...' strings; numbers; .T. .F. .TRUE. .FALSE.;
// + - * / (numbers; + and - also date +/- days, + joins text); = == != <> # < > <= >= $;
// .AND. .OR. .NOT. !; ( ); functions DELETED() DTOS() DTOC() CTOD() UPPER() LOWER() ALLTRIM()
// LTRIM() RTRIM() TRIM() EMPTY() STR() VAL() LEN() SUBSTR() LEFT() RIGHT() IIF() RECNO() DATE().
#pragma once

#include "records/xb_types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::records {

enum class ValueType : char { Character = 'C', Numeric = 'N', Date = 'D', Logical = 'L' };

struct Value {
    ValueType type = ValueType::Logical;
    std::string str;       // Character
    double num = 0;        // Numeric
    int64_t jdn = 0;       // Date: Julian day number, 0 = empty
    bool logical = false;  // Logical
};

struct EvalContext {
    const char* record = nullptr;  // raw record, byte 0 = deletion flag
    uint32_t recno = 0;
    // Reads the memo of a memo field (field index, 10-character pointer); may be empty.
    std::function<std::string(int, std::string_view)> memoReader;
};

// Encodes a number as an 8-byte index key whose byte order is the numeric order.
std::string encodeNumericKey(double value);

class Expression {
public:
    ~Expression();
    // Compiles text against the fields (offsets are the fields' byte offsets in a record).
    static std::unique_ptr<Expression> compile(std::string_view text, const std::vector<FieldDef>& fields,
                                               const std::vector<int>& offsets);

    const std::string& text() const { return text_; }
    ValueType type() const;
    int width() const;  // width of a character result (its key length)
    int keyLength() const;

    Value evaluate(const EvalContext& ctx) const;
    bool evaluateLogical(const EvalContext& ctx) const;  // the expression must be logical
    std::string key(const EvalContext& ctx) const;       // index key of keyLength() bytes

    struct Node;

private:
    Expression() = default;
    std::string text_;
    std::unique_ptr<Node> root_;
};

}  // namespace telvane::records
