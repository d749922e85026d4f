// Helpers for the viewing and printing tests: fax files made from rasters with the T.4 line
// coder, pages that show their number as a count of black bars, PDF pages rendered to grey
// images with pdftoppm and looked at.
#pragma once

#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"
#include "faximage/raster.h"

#include <QApplication>

#include "support/qtapp.h"
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <string>
#include <vector>

namespace viewertest {

using telvane::faximage::Raster;

inline QApplication* app() { return telvane::test::application(); }

inline void fillRect(Raster& r, int x0, int y0, int w, int h) {
    for (int y = y0; y < y0 + h && y < r.height; ++y)
        for (int x = x0; x < x0 + w && x < r.width; ++x) r.setPixel(x, y, true);
}

// A 1728-pel page with `bars` black bars (120 pels wide, 120 apart) across rows 200..rows-200.
inline Raster barsPage(int bars, int rows = 1200) {
    Raster r(1728, rows);
    for (int b = 0; b < bars; ++b) fillRect(r, 100 + b * 240, 200, 120, rows - 400);
    return r;
}

// Writes an OVF file whose pages are the given rasters (each 1728 or 2048 pels wide).
inline bool makeFax(const std::string& path, const std::vector<Raster>& pages, bool fine = true) {
    telvane::faximage::OvfWriter w;
    if (w.create(path, "TEST") != 0) return false;
    telvane::faximage::FaxLineCoder coder;
    for (const Raster& r : pages) {
        std::uint16_t flags = fine ? telvane::faximage::FAX_FINE : 0;
        if (r.width == 2048) flags |= telvane::faximage::FAX_WIDE;
        coder.setup(r.width, 0, false);
        if (w.beginPage(flags) != 0) return false;
        for (int y = 0; y < r.height; ++y) {
            const std::size_t n = coder.codeLine(r.row(y));
            if (w.appendRecord(coder.data(), n) != 0) return false;
        }
        if (w.endPage() != 0) return false;
    }
    return w.close() == 0;
}

// An 8-bit grey image (0 = black).
struct Grey {
    int width = 0, height = 0;
    std::vector<unsigned char> px;
    bool dark(int x, int y) const { return px[std::size_t(y) * std::size_t(width) + std::size_t(x)] < 128; }
    // Dark runs along row y between x0 and x1.
    int runsInRow(int y, int x0, int x1) const {
        int runs = 0;
        bool in = false;
        for (int x = x0; x < x1; ++x) {
            const bool d = dark(x, y);
            if (d && !in) ++runs;
            in = d;
        }
        return runs;
    }
    // The most dark runs any row of the rectangle holds.
    int maxRuns(int x0, int y0, int x1, int y1) const {
        int best = 0;
        for (int y = y0; y < y1; ++y) best = std::max(best, runsInRow(y, x0, x1));
        return best;
    }
    int darkCount(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += dark(x, y);
        return n;
    }
    // Longest dark run in any row.
    int longestRun() const {
        int best = 0;
        for (int y = 0; y < height; ++y) {
            int run = 0;
            for (int x = 0; x < width; ++x) {
                run = dark(x, y) ? run + 1 : 0;
                best = std::max(best, run);
            }
        }
        return best;
    }
};

inline bool readPgm(const QString& path, Grey& g) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray all = f.readAll();
    // "P5\n<w> <h>\n255\n" then the pels.
    int fields = 0, pos = 2, values[3] = {0, 0, 0};
    if (!all.startsWith("P5")) return false;
    while (fields < 3 && pos < all.size()) {
        while (pos < all.size() && QChar(all[pos]).isSpace()) ++pos;
        int v = 0;
        while (pos < all.size() && QChar(all[pos]).isDigit()) v = v * 10 + (all[pos++] - '0');
        values[fields++] = v;
    }
    ++pos;
    g.width = values[0];
    g.height = values[1];
    const qsizetype need = qsizetype(g.width) * g.height;
    if (all.size() - pos < need) return false;
    g.px.assign(all.begin() + pos, all.begin() + pos + need);
    return true;
}

inline bool havePoppler() {
    return !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty();
}

// Renders every page of a PDF at `dpi` into grey images.
inline std::vector<Grey> renderPdf(const QString& pdf, int dpi) {
    const QString prefix = pdf + QStringLiteral("-page");
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"), pdf, prefix});
    std::vector<Grey> pages;
    const QDir dir = QFileInfo(pdf).absoluteDir();
    QStringList files =
        dir.entryList({QFileInfo(prefix).fileName() + QStringLiteral("-*.pgm")}, QDir::Files, QDir::Name);
    for (const QString& f : files) {
        Grey g;
        if (readPgm(dir.filePath(f), g)) pages.push_back(std::move(g));
    }
    return pages;
}

inline QString pdfText(const QString& pdf, int page) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(page),
                                          QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace viewertest
