// Expression language: parsing errors with positions, types, xBase comparison rules, functions,
// dates and key encodings.
#include "records/expression.h"
#include "records/xb_error.h"
#include "records/xb_types.h"

#include <gtest/gtest.h>

namespace telvane::records {
namespace {

// NAME C10, BORN D8, PAGES N2, SENT L1 — a record is built from the parts.
struct Fixture {
    std::vector<FieldDef> fields{{"NAME", FieldType::Character, 10, 0},
                                 {"BORN", FieldType::Date, 8, 0},
                                 {"PAGES", FieldType::Numeric, 2, 0},
                                 {"SENT", FieldType::Logical, 1, 0}};
    std::vector<int> offsets{1, 11, 19, 21};

    static std::string record(const std::string& name, const std::string& born, const std::string& pages, char sent,
                              bool deleted = false) {
        std::string r(1, deleted ? '*' : ' ');
        std::string n = name;
        n.resize(10, ' ');
        return r + n + born + pages + sent;
    }

    Value eval(const std::string& expr, const std::string& rec) const {
        auto e = Expression::compile(expr, fields, offsets);
        EvalContext ctx;
        ctx.record = rec.data();
        ctx.recno = 7;
        return e->evaluate(ctx);
    }

    bool test(const std::string& expr, const std::string& rec) const {
        const Value v = eval(expr, rec);
        EXPECT_EQ(v.type, ValueType::Logical) << expr;
        return v.logical;
    }

    EXbExpressionError error(const std::string& expr) const {
        try {
            Expression::compile(expr, fields, offsets);
        } catch (const EXbExpressionError& e) {
            return e;
        }
        ADD_FAILURE() << "no error for " << expr;
        return EXbExpressionError(expr, 0, "none");
    }
};

TEST(Expression, ParseErrorsNamePositionAndReason) {
    Fixture f;
    struct Case {
        const char* expr;
        size_t pos;
        const char* reasonPart;
    } cases[] = {
        {"", 0, "empty"},
        {"NAME ==", 7, "ends where a value was expected"},
        {"NOSUCH = \"x\"", 0, "unknown field NOSUCH"},
        {"FOO(NAME)", 0, "unknown function FOO()"},
        {"UPPER(NAME", 10, "expected ')'"},
        {"\"abc", 0, "not closed"},
        {"NAME = \"a\" \"b\"", 11, "after a complete expression"},
        {"NAME + 1", 5, "cannot apply '+' to text and number"},
        {"PAGES == \"2\"", 6, "cannot compare number with text"},
        {".not. NAME", 6, ".NOT. needs logical, not text"},
        {"DTOS(NAME)", 5, "DTOS() needs date"},
        {"UPPER()", 0, "takes 1 argument"},
        {"NAME .xor. NAME", 5, "unknown word"},
        {"NAME @ 1", 5, "unexpected character '@'"},
        {"SENT < .T.", 5, "only be compared for equality"},
        {"NAME = \"a\" = \"b\"", 11, "cannot be chained"},
        {"DELETED", 0, "needs '('"},
    };
    for (const auto& c : cases) {
        const EXbExpressionError e = f.error(c.expr);
        EXPECT_EQ(e.position(), c.pos) << c.expr << ": " << e.what();
        EXPECT_NE(e.reason().find(c.reasonPart), std::string::npos) << c.expr << ": " << e.reason();
        EXPECT_NE(std::string(e.what()).find(c.expr), std::string::npos) << "message names the expression";
    }
}

TEST(Expression, DeepNestingIsAnErrorNotACrash) {
    Fixture f;
    const std::string deep(100000, '(');
    EXPECT_NE(f.error(deep).reason().find("nested too deeply"), std::string::npos);
    std::string chain = "NAME";
    for (int i = 0; i < 5000; ++i) chain += "+NAME";
    EXPECT_NE(f.error(chain).reason().find("too long"), std::string::npos);
    std::string nots;
    for (int i = 0; i < 50000; ++i) nots += ".not. ";
    EXPECT_NE(f.error(nots + ".t.").reason().find("nested too deeply"), std::string::npos);
}

TEST(Expression, NamesFunctionsAndKeywordsAreCaseInsensitive) {
    Fixture f;
    const std::string rec = Fixture::record("smith", "20250131", " 7", 'T');
    EXPECT_TRUE(f.test("upper(name) == \"SMITH     \"", rec));
    EXPECT_TRUE(f.test("Sent .AnD. .NoT. Deleted()", rec));
    EXPECT_TRUE(f.test(".F. .or. .True.", rec));
    EXPECT_TRUE(f.test("dtos(born) = '20250131'", rec));
    EXPECT_TRUE(f.test(".NOT.DELETED()", rec)) << "the spacing Visual FoxPro writes";
    EXPECT_TRUE(f.test("PAGES>6.and.PAGES<7.5", rec)) << "a '.' after a number starts .AND.";
}

TEST(Expression, StringComparisonRules) {
    Fixture f;
    const std::string rec = Fixture::record("SMITH", "        ", "  ", ' ');
    // == is exact, trailing blanks included; ALLTRIM removes them.
    EXPECT_FALSE(f.test("NAME == \"SMITH\"", rec));
    EXPECT_TRUE(f.test("ALLTRIM(NAME) == \"SMITH\"", rec));
    // = compares the left side over the length of the right side.
    EXPECT_TRUE(f.test("NAME = \"SMI\"", rec));
    EXPECT_TRUE(f.test("NAME = \"\"", rec));
    EXPECT_FALSE(f.test("\"SMI\" = \"SMITH\"", rec));
    EXPECT_TRUE(f.test("NAME != \"JONES\"", rec));
    EXPECT_TRUE(f.test("NAME # \"JONES\" .and. NAME <> \"X\"", rec));
    // $ tests containment.
    EXPECT_TRUE(f.test("\"MIT\" $ NAME", rec));
    EXPECT_FALSE(f.test("\"mit\" $ NAME", rec));
    EXPECT_TRUE(f.test("\"MIT\" $ ALLTRIM(UPPER(NAME))", rec));
    // Ordering pads the shorter side with blanks.
    EXPECT_TRUE(f.test("NAME < \"SMIU\"", rec));
    EXPECT_TRUE(f.test("NAME >= \"SMITH\"", rec));
    EXPECT_TRUE(f.test("NAME <= \"SMITH\"", rec));
    EXPECT_FALSE(f.test("NAME > \"SMITH\"", rec));
}

TEST(Expression, DatesEmptyAndCtod) {
    Fixture f;
    const std::string sent = Fixture::record("A", "20240315", " 3", 'T');
    const std::string unsent = Fixture::record("B", "        ", "  ", 'F');
    const std::string cond = "(BORN<CTOD(\"03/16/2024\")) .and. (.not. EMPTY(BORN))";
    EXPECT_TRUE(f.test(cond, sent));
    EXPECT_FALSE(f.test(cond, unsent));
    EXPECT_FALSE(f.test("(BORN<CTOD(\"03/15/2024\"))", sent)) << "the chosen day itself is not before";
    EXPECT_TRUE(f.test("EMPTY(BORN)", unsent));
    EXPECT_TRUE(f.test("EMPTY(PAGES) .and. EMPTY(NAME) = .F.", unsent));
    EXPECT_EQ(f.eval("DTOS(BORN)", sent).str, "20240315");
    EXPECT_EQ(f.eval("DTOS(BORN)", unsent).str, "        ");
    EXPECT_EQ(f.eval("DTOC(BORN)", sent).str, "03/15/2024");
    EXPECT_EQ(f.eval("BORN + 17", sent).jdn, (Date{2024, 4, 1}).julianDay());
    EXPECT_EQ(f.eval("BORN - CTOD('03/01/2024')", sent).num, 14);
    EXPECT_TRUE(f.test("EMPTY(CTOD(\"13/45/2024\"))", sent)) << "an invalid date text gives the empty date";
}

TEST(Expression, NumbersFunctionsAndDeleted) {
    Fixture f;
    const std::string rec = Fixture::record("  Mixed Ca", "20250101", "12", 'F', true);
    EXPECT_EQ(f.eval("PAGES * 2 + 1", rec).num, 25);
    EXPECT_EQ(f.eval("-PAGES / 4", rec).num, -3);
    EXPECT_EQ(f.eval("PAGES / 0", rec).num, 0) << "division by zero gives 0, not a crash";
    EXPECT_EQ(f.eval("STR(PAGES, 5)", rec).str, "   12");
    EXPECT_EQ(f.eval("STR(PAGES * 1000, 3)", rec).str, "***");
    EXPECT_EQ(f.eval("VAL(\" 42.5\")", rec).num, 42.5);
    EXPECT_EQ(f.eval("LEN(ALLTRIM(NAME))", rec).num, 8);
    EXPECT_EQ(f.eval("LOWER(LTRIM(NAME))", rec).str, "mixed ca");
    EXPECT_EQ(f.eval("SUBSTR(NAME, 3, 5)", rec).str, "Mixed");
    EXPECT_EQ(f.eval("LEFT(NAME, 4) + RIGHT(NAME, 2)", rec).str, "  MiCa");
    EXPECT_EQ(f.eval("IIF(SENT, \"yes\", \"no \")", rec).str, "no ");
    EXPECT_EQ(f.eval("RECNO()", rec).num, 7);
    EXPECT_TRUE(f.test("DELETED()", rec));
    EXPECT_FALSE(f.test(".not. deleted()", rec));
}

TEST(Expression, KeyLengthsAndEncodings) {
    Fixture f;
    auto len = [&](const std::string& e) { return Expression::compile(e, f.fields, f.offsets)->keyLength(); };
    EXPECT_EQ(len("DTOS(BORN)+NAME"), 18);
    EXPECT_EQ(len("UPPER(NAME)"), 10);
    EXPECT_EQ(len("BORN"), 8);
    EXPECT_EQ(len("PAGES"), 8);
    EXPECT_EQ(len("SENT"), 1);
    // Numeric and date keys as in the file format reference.
    EXPECT_EQ(encodeNumericKey(0), std::string("\x80\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(encodeNumericKey(1), std::string("\xBF\xF0\0\0\0\0\0\0", 8));
    EXPECT_EQ(encodeNumericKey(-1), std::string("\x40\x0F\xFF\xFF\xFF\xFF\xFF\xFF", 8));
    EXPECT_EQ(encodeNumericKey(-0.0), encodeNumericKey(0));
    EXPECT_LT(encodeNumericKey(-5), encodeNumericKey(-1));
    EXPECT_LT(encodeNumericKey(2.5), encodeNumericKey(3));
    const std::string rec = Fixture::record("x", "19991231", " 1", 'T');
    auto e = Expression::compile("BORN", f.fields, f.offsets);
    EvalContext ctx;
    ctx.record = rec.data();
    EXPECT_EQ(e->key(ctx), std::string("\xC1\x42\xB4\x2C\0\0\0\0", 8));
}

TEST(Dates, JulianDaysAndParsing) {
    EXPECT_EQ((Date{2000, 1, 1}.julianDay()), 2451545);
    EXPECT_EQ((Date{1, 1, 1}.julianDay()), 1721426);
    EXPECT_EQ((Date{2025, 1, 31}.julianDay()), 2460707);
    for (int64_t j = 2400000; j < 2500000; j += 997) EXPECT_EQ(Date::fromJulianDay(j).julianDay(), j);
    EXPECT_EQ(Date::fromDtos("20240229"), (Date{2024, 2, 29}));
    EXPECT_TRUE(Date::fromDtos("20230229").isEmpty());
    EXPECT_TRUE(Date::fromDtos("2024-1-1").isEmpty());
    EXPECT_EQ(Date::fromMdy("12/31/1999"), (Date{1999, 12, 31}));
    EXPECT_TRUE(Date::fromMdy("12/31").isEmpty());
    EXPECT_TRUE(Date::fromMdy("1/2/3/4").isEmpty());
    EXPECT_EQ(Date{}.dtos(), "        ");
}

TEST(Text, Cp1252RoundTripAndCase) {
    const std::string utf8 = "Zoë Müller – €5 ½";
    const std::string stored = utf8ToCp1252(utf8);
    EXPECT_EQ(stored.size(), 17u);
    EXPECT_EQ(cp1252ToUtf8(stored), utf8);
    EXPECT_EQ(utf8ToCp1252("日本"), "??");
    EXPECT_EQ(utf8ToCp1252(std::string("\xC3", 1)), "?") << "a cut sequence is replaced, not read past";
    EXPECT_EQ(cp1252ToUtf8(upperCp1252(utf8ToCp1252("zoë straße ÿ"))), "ZOË STRAßE Ÿ");
    EXPECT_EQ(cp1252ToUtf8(lowerCp1252(utf8ToCp1252("ÀÉÎ Š"))), "àéî š");
}

}  // namespace
}  // namespace telvane::records
