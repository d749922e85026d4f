// Unit rules of the paragraph properties dialog: indents shown in inches (1440 twips) or
// centimetres (566.929 twips) with two decimals, spacing in points (20 twips), and the reading back
// of edited texts into whole twips. Numbers use the given locale's decimal separator.
#pragma once

#include <QLocale>
#include <QString>
#include <optional>

namespace telvane::paragraph {

enum class Unit { Inch, Cm };

inline constexpr double kTwipsPerInch = 1440.0;
inline constexpr double kTwipsPerCm = 566.929;

double TwipsPerUnit(Unit unit);
// "inches" or "centimeters".
QString UnitWord(Unit unit);

QString FormatIndent(int twips, Unit unit, const QLocale& locale = QLocale::system());
QString FormatSpacing(int twips, const QLocale& locale = QLocale::system());

// Empty text is 0; text that is no number gives no value.
std::optional<int> ParseIndent(const QString& text, Unit unit, const QLocale& locale = QLocale::system());
std::optional<int> ParseSpacing(const QString& text, const QLocale& locale = QLocale::system());

}  // namespace telvane::paragraph
