// Helpers for the rendering tests and benchmark: a Qt GUI application, temporary directories, RTF
// documents built from text, decoded pages of fax files, and OCR of pages with tesseract.
#pragma once

#include "faximage/faxunpacker.h"
#include "faximage/ovffile.h"
#include "faximage/raster.h"

#include <QGuiApplication>

#include "support/pbm.h"
#include "support/tempdir.h"
#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace rendertest {

// The render core needs Qt GUI only; a widget test's QApplication serves as well.
inline void ensureApp() {
    static int argc = 1;
    static char name[] = "telvane-render-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QGuiApplication(argc, argv);
}

using TempDir = telvane::test::TempDir;

// Puts the build's programs ($TELVANE_BIN) first on PATH: the program finds telvane-faxconv beside
// itself or on PATH, and tests run from another directory.
inline void putBuiltProgramsOnPath() {
    const char* bin = std::getenv("TELVANE_BIN");
    if (!bin) return;
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (std::string(bin) + ":" + (path ? path : "")).c_str(), 1);
}

// One RTF paragraph group per entry: text in the given font size (points), "\page" before
// paragraphs whose text is exactly "\f" (a page break).
struct Para {
    QString text;
    int points = 12;
};

inline QByteArray rtfEscape(const QString& text) {
    QByteArray out;
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\\' || u == '{' || u == '}')
            out += '\\', out += char(u);
        else if (u < 128)
            out += char(u);
        else
            out += "\\u" + QByteArray::number(short(u)) + "?";
    }
    return out;
}

inline QByteArray makeRtf(const std::vector<Para>& paras, const QString& font = QStringLiteral("Arial")) {
    QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss " + font.toLatin1() + ";}}\n";
    for (const Para& p : paras) {
        if (p.text == QStringLiteral("\f")) {
            rtf += "\\page\n";
            continue;
        }
        rtf += "\\pard\\plain\\f0\\fs" + QByteArray::number(p.points * 2) + " " + rtfEscape(p.text) + "\\par\n";
    }
    rtf += "}";
    return rtf;
}

// Every page of a fax file as transmitted (1728 pels wide, one row per coded line).
inline std::vector<telvane::faximage::Raster> decodePages(const std::string& ovf) {
    telvane::faximage::TOvxFaxUnpacker u;
    u.setInFileName(ovf);
    std::vector<telvane::faximage::Raster> pages;
    const int count = u.getPageCount();
    for (int p = 1; p <= count; ++p) {
        telvane::faximage::Raster r;
        bool fine = false;
        if (u.unpackPageToRaster(p, r, fine) != 0) return {};
        pages.push_back(std::move(r));
    }
    return pages;
}

// The coded bytes of page n of a fax file (line records unpacked).
inline std::vector<std::uint8_t> pageData(const std::string& ovf, int n) {
    telvane::faximage::OvfReader reader;
    std::vector<std::uint8_t> out;
    telvane::faximage::OvfPageHeader page;
    if (reader.open(ovf) != 0 || reader.seekPage(n, page) != 0) return out;
    reader.readPageData([&](const std::uint8_t* d, std::size_t n) {
        out.insert(out.end(), d, d + n);
        return true;
    });
    return out;
}

inline telvane::faximage::OvfFileHeader fileHeader(const std::string& ovf) {
    telvane::faximage::OvfReader reader;
    reader.open(ovf);
    return reader.header();
}

inline bool rowHasInk(const telvane::faximage::Raster& r, int y) {
    const std::uint8_t* row = r.row(y);
    return std::any_of(row, row + r.stride, [](std::uint8_t b) { return b != 0; });
}

// Runs of rows with ink: [top, bottom) pairs.
inline std::vector<std::pair<int, int>> inkBands(const telvane::faximage::Raster& r, int fromRow = 0, int toRow = -1) {
    if (toRow < 0) toRow = r.height;
    std::vector<std::pair<int, int>> bands;
    int start = -1;
    for (int y = fromRow; y < toRow; ++y) {
        const bool ink = rowHasInk(r, y);
        if (ink && start < 0) start = y;
        if (!ink && start >= 0) {
            bands.emplace_back(start, y);
            start = -1;
        }
    }
    if (start >= 0) bands.emplace_back(start, toRow);
    return bands;
}

inline void writePbm(const telvane::faximage::Raster& r, const std::string& path) {
    telvane::test::writePbm(path, r.width, r.height, r.bits.data());
}

inline bool haveTool(const QString& name) { return !QStandardPaths::findExecutable(name).isEmpty(); }

// Text tesseract reads from an image file (English, resolution dpi); empty on failure.
inline QString ocrImage(const QString& imagePath, int dpi = 200) {
    QProcess p;
    // One thread: tests and benchmarks share the machine's cores with other work.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("tesseract"), {imagePath, QStringLiteral("stdout"), QStringLiteral("-l"),
                                          QStringLiteral("eng"), QStringLiteral("--dpi"), QString::number(dpi)});
    if (!p.waitForFinished(180000) || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Words with surrounding punctuation removed.
inline QStringList words(const QString& text) {
    QStringList out;
    for (QString w : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        while (!w.isEmpty() && !w.front().isLetterOrNumber()) w.remove(0, 1);
        while (!w.isEmpty() && !w.back().isLetterOrNumber()) w.chop(1);
        if (!w.isEmpty()) out << w;
    }
    return out;
}

// Share of the expected words that come back exactly and in order (longest common subsequence).
inline double wordAccuracy(const QStringList& expected, const QStringList& got) {
    if (expected.isEmpty()) return 0;
    std::vector<int> prev(got.size() + 1, 0), cur(got.size() + 1, 0);
    for (const QString& e : expected) {
        for (int j = 1; j <= got.size(); ++j)
            cur[j] = e == got[j - 1] ? prev[j - 1] + 1 : std::max(prev[j], cur[j - 1]);
        std::swap(prev, cur);
    }
    return double(prev[got.size()]) / expected.size();
}

// A known English passage of about 300 words.
inline QString samplePassage() {
    return QStringLiteral(
        "The small harbour town wakes early. Before the sun clears the hills, fishing boats leave the "
        "quay one by one, their engines low and steady, and the gulls follow them out past the "
        "lighthouse. On the hill above the market, a baker opens his shutters and sets out the first "
        "trays of bread, while the smell of coffee drifts from the cafe at the corner. By seven the "
        "square is busy with people buying fruit, newspapers and flowers, and the school bus waits "
        "beside the fountain with its doors open. "
        "Most visitors come in the summer, when the beaches are warm and the ferries run twice a day "
        "to the islands. They walk along the sea wall, look at the old customs house, and climb the "
        "narrow streets to the church, whose bell still rings every hour. In the evening they sit "
        "outside the restaurants on the harbour and watch the boats return with their catch. "
        "Winter is quieter. Many shops close for a few months, and the wind from the north brings "
        "rain that lasts for days. Yet the people who live here like this season best. The library "
        "holds readings on Thursday nights, the football club trains under bright lights, and the "
        "choir practises in the school hall for the concert before the new year. Neighbours have "
        "time to talk, and the harbour master tells the same stories he has told for forty years. "
        "Last spring the council agreed to repair the old pier and to build a new path along the "
        "cliffs. Work will begin in March and should be finished before the holiday season. The plan "
        "also includes a small museum about the history of the fishing fleet, with photographs, "
        "letters and models of the boats that sailed from this coast more than a century ago. "
        "Anyone who wishes to lend pictures or papers to the museum is asked to contact the town "
        "office before the end of the month.");
}

}  // namespace rendertest
