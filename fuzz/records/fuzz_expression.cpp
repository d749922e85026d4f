// Fuzz target: the expression compiler and evaluator on a fixed record.
#include "records/expression.h"
#include "records/xb_error.h"

#include <string>
#include <vector>

using namespace telvane::records;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    static const std::vector<FieldDef> fields{{"NAME", FieldType::Character, 10, 0},
                                              {"DAY", FieldType::Date, 8, 0},
                                              {"PAGES", FieldType::Numeric, 5, 1},
                                              {"OK", FieldType::Logical, 1, 0},
                                              {"BODY", FieldType::Memo, 10, 0}};
    static const std::vector<int> offsets{1, 11, 19, 24, 25};
    static const std::string record = "*Smith     20240229 12.5T         8";
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        auto e = Expression::compile(text, fields, offsets);
        EvalContext ctx;
        ctx.record = record.data();
        ctx.recno = 3;
        ctx.memoReader = [](int, std::string_view) { return std::string("{\\rtf1 memo}"); };
        e->evaluate(ctx);
        if (e->keyLength() >= 1 && e->keyLength() <= 240) e->key(ctx);
    } catch (const EXbError&) {}
    return 0;
}
