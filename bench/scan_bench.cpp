// SPDX-License-Identifier: GPL-3.0-or-later
// The image reference scanner on a generated 10 MB page, beside a plain copy of the same text:
// the scan is one pass over the page and should stay within a small factor of the copy.

#include "harvest/imagerefs.h"

#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

namespace {

// A page of about `size` characters that looks like a long photo gallery: paragraphs of text,
// links, scripts and images of several kinds, some Japanese text.
QString makePage(qsizetype size, bool gallery)
{
    const QString blocks[] = {
        QStringLiteral("<p>The gallery shows pictures taken during the trip; see the notes "
                       "below each one for the place and the date.</p>\n"),
        QStringLiteral("<img src=\"photos/%1.jpg\" width=\"640\" height=\"480\" alt=\"photo\">\n"),
        QStringLiteral("<a href=\"detail/%1.html\"><img SRC=/thumbs/%1.JPG border=0></a>\n"),
        QStringLiteral("<script src=\"js/gallery-%1.js\" type=\"text/javascript\"></script>\n"),
        QStringLiteral("<img src=\"/cgi-bin/count.cgi?page=%1.jpg\"><img src='icons/%1.gif'>\n"),
        QStringLiteral(
            "<div class=\"caption\">写真%1：京都の夕暮れ、ß と ﬁ を含む説明文。</div>\n"),
        QStringLiteral(
            "<table border=\"1\"><tr><td>row %1</td><td>no source here</td></tr></table>\n"),
    };
    QString page;
    page.reserve(size + 200);
    page += QStringLiteral("<html><head><title>Gallery</title></head><body>\n");
    // An article page: text, captions and tables, with one picture every 16 blocks.
    const int article[] = {0, 5, 6, 0, 5, 6, 0, 5, 6, 0, 5, 6, 0, 5, 6, 1};
    for (int n = 0; page.size() < size; ++n) {
        const QString &block =
            blocks[gallery ? n % std::size(blocks) : article[n % std::size(article)]];
        page += block.contains(u"%1") ? block.arg(n) : block;
    }
    page += QStringLiteral("</body></html>\n");
    return page;
}

const QString &page(bool gallery)
{
    static const QString galleryPage = makePage(10 * 1000 * 1000, true);
    static const QString articlePage = makePage(10 * 1000 * 1000, false);
    return gallery ? galleryPage : articlePage;
}

// range(0): 1 for the gallery page (a reference every ~260 characters), 0 for the article page.
void BM_ScanImageRefs(benchmark::State &state)
{
    const QString &text = page(state.range(0) != 0);
    qint32 count = 0;
    for (auto _ : state) {
        QStringList refs;
        count = ScanImageRefs(text, refs);
        benchmark::DoNotOptimize(refs.constData());
    }
    state.SetBytesProcessed(state.iterations() * text.size() * qsizetype(sizeof(QChar)));
    state.counters["references"] = count;
}
BENCHMARK(BM_ScanImageRefs)->ArgName("gallery")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_CopyPage(benchmark::State &state)
{
    const QString &text = page(true);
    for (auto _ : state) {
        QString copy(text.constData(), text.size());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * text.size() * qsizetype(sizeof(QChar)));
}
BENCHMARK(BM_CopyPage)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
