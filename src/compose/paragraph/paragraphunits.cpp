// Unit rules of the paragraph properties dialog (see paragraphunits.h).
#include "compose/paragraph/paragraphunits.h"

#include <cmath>
#include <limits>

namespace telvane::paragraph {
namespace {

std::optional<double> parseNumber(const QString& text, const QLocale& locale) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return 0.0;
    bool ok = false;
    double v = locale.toDouble(t, &ok);
    if (!ok) v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<int> toTwips(double value) {
    const double twips = std::round(value);
    if (twips > std::numeric_limits<int>::max() || twips < std::numeric_limits<int>::min()) return std::nullopt;
    return static_cast<int>(twips);
}

}  // namespace

double twipsPerUnit(Unit unit) { return unit == Unit::Inch ? kTwipsPerInch : kTwipsPerCm; }

QString unitWord(Unit unit) { return unit == Unit::Inch ? QStringLiteral("inches") : QStringLiteral("centimeters"); }

QString formatIndent(int twips, Unit unit, const QLocale& locale) {
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(twips / twipsPerUnit(unit), 'f', 2);
}

QString formatSpacing(int twips, const QLocale& locale) {
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(static_cast<qlonglong>(std::llround(twips / kTwipsPerInch * 72.0)));
}

std::optional<int> parseIndent(const QString& text, Unit unit, const QLocale& locale) {
    const auto v = parseNumber(text, locale);
    if (!v) return std::nullopt;
    return toTwips(*v * twipsPerUnit(unit));
}

std::optional<int> parseSpacing(const QString& text, const QLocale& locale) {
    const auto v = parseNumber(text, locale);
    if (!v) return std::nullopt;
    return toTwips(*v * kTwipsPerInch / 72.0);
}

}  // namespace telvane::paragraph
