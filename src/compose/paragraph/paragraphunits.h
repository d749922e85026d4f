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

double twipsPerUnit(Unit unit);
// "inches" or "centimeters".
QString unitWord(Unit unit);

QString formatIndent(int twips, Unit unit, const QLocale& locale = QLocale::system());
QString formatSpacing(int twips, const QLocale& locale = QLocale::system());

// Empty text is 0; text that is no number gives no value.
std::optional<int> parseIndent(const QString& text, Unit unit, const QLocale& locale = QLocale::system());
std::optional<int> parseSpacing(const QString& text, const QLocale& locale = QLocale::system());

}  // namespace telvane::paragraph
