// Basic value types of the xBase engine: field definitions, dates and text conversion.
// Stored text is Windows-1252 (the tables' code page mark 0x03); the engine's record-set API
// speaks UTF-8 and converts at the boundary, replacing characters 1252 cannot hold with '?'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::records {

enum class FieldType : char {
    Character = 'C',
    Numeric = 'N',
    Float = 'F',
    Logical = 'L',
    Date = 'D',
    Memo = 'M',
};

struct FieldDef {
    std::string name;  // upper case, at most 10 characters
    FieldType type = FieldType::Character;
    int width = 1;
    int decimals = 0;
};

// A calendar date; all zero means the empty date (stored as eight blanks).
struct Date {
    int year = 0;
    int month = 0;
    int day = 0;

    bool isEmpty() const { return year == 0 && month == 0 && day == 0; }
    bool isValid() const;                      // a real calendar date from year 1 to 9999
    std::string dtos() const;                  // "yyyymmdd", eight blanks when empty
    static Date fromDtos(std::string_view s);  // empty Date for blanks or anything invalid
    static Date fromMdy(std::string_view s);   // "mm/dd/yyyy" (CTOD); empty when invalid
    int64_t julianDay() const;                 // 0 for the empty date
    static Date fromJulianDay(int64_t jdn);
    static Date today();  // local date
    friend bool operator==(const Date&, const Date&) = default;
};

// Windows-1252 <-> UTF-8.
std::string cp1252ToUtf8(std::string_view bytes);
std::string utf8ToCp1252(std::string_view utf8);
// Upper-casing of Windows-1252 text (ASCII and the accented letters of the code page).
std::string upperCp1252(std::string_view bytes);
std::string lowerCp1252(std::string_view bytes);

}  // namespace telvane::records
