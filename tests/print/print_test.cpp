// The CD jacket window printed to PDF and read back with poppler-utils: words, places, outline.
#include "jacketpreview.h"
#include "playlistmodel.h"
#include "printwindow.h"
#include "scriptedprompter.h"
#include "settings.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes;

namespace
{

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

// The text, NFKC-normalised (pdftotext gives some kanji as radicals), blanks made one space.
QString pdfText(const QString &pdf)
{
    const QString text = run("pdftotext", { "-layout", pdf, "-" });
    return text.normalized(QString::NormalizationForm_KC).replace(QRegularExpression("[ \\t]+"), " ");
}

// The top left corners (points) of the page's three-digit entry numbers, by their text.
QMap<QString, QPointF> entryNumbers(const QString &pdf)
{
    static const QRegularExpression re(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)"[^>]*>(\d{3})</word>)re");
    QMap<QString, QPointF> out;
    for (auto it = re.globalMatch(run("pdftotext", { "-bbox", pdf, "-" })); it.hasNext();) {
        const auto m = it.next();
        out.insert(m.captured(3), { m.captured(1).toDouble(), m.captured(2).toDouble() });
    }
    return out;
}

// Centres (mm from the top left) of the black lines of 50 mm or more: vertical, horizontal.
std::pair<QList<double>, QList<double>> measureLines(const QString &pdf, const QString &dir)
{
    constexpr double mmPerPx = 25.4 / 300, minLength = 50 / mmPerPx;
    run("pdftoppm", { "-r", "300", "-gray", "-singlefile", pdf, dir + "/page" });
    const QImage img(dir + "/page.pgm");
    auto centres = [&](bool vertical) {
        const int n = vertical ? img.width() : img.height(), m = vertical ? img.height() : img.width();
        QList<double> out;
        for (int i = 0, start = -1; i <= n; ++i) {
            int longest = 0; // the longest stretch of dark pixels across row or column i
            for (int j = 0, stretch = 0; i < n && j < m; ++j)
                longest = std::max(
                    longest, stretch = qGray(img.pixel(vertical ? i : j, vertical ? j : i)) < 128 ? stretch + 1 : 0);
            if ((longest >= minLength) == (start < 0))
                start = start < 0 ? i : (out.append((start + i - 1) / 2.0 * mmPerPx), -1);
        }
        return out;
    };
    return { centres(true), centres(false) };
}

QList<TrackRow> rows(int n)
{
    QList<TrackRow> out;
    for (int i = 1; i <= n; ++i)
        out.append(
            { .title = QString("Song%1").arg(i), .artist = QString("Band%1").arg(i), .fullPath = QString::number(i) });
    return out;
}

class PrintTest : public ::testing::Test
{
protected:
    // A window over the list; its print dialog, answered by accept, prints to a new PDF file.
    std::unique_ptr<PrintWindow> open(const QList<TrackRow> &list, bool accept = true)
    {
        playlist.clear();
        playlist.addRows(list);
        auto w = std::make_unique<PrintWindow>(&playlist, &prompter, &settings);
        w->setPrintDialog([this, accept](QPrinter &printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setOutputFileName(pdf = dir.filePath(QStringLiteral("out%1.pdf").arg(++jobs)));
            return accept;
        });
        EXPECT_TRUE(w->formLoad());
        return w;
    }

    QTemporaryDir dir;
    PlaylistModel playlist;
    ScriptedPrompter prompter;
    Settings settings;
    QString pdf;
    int jobs = 0;
};

// Where the entries stand, and Japanese text that comes back from the PDF as it went in.
TEST_F(PrintTest, TrackListOnThePage)
{
    QList<TrackRow> longFirst = rows(70);
    longFirst[0].title = QString(120, u'W'); // too long to share its line
    // Name, rows, Start Pos, entries printed, entry 001's line (-1 unchecked), "a=b"/"a<b"/"a|b" layouts, page texts.
    const std::tuple<const char *, QList<TrackRow>, int, int, int, QStringList, QStringList> cases[] = {
        { "Max Line 60: lines 1-10 hold two entries", rows(70), 2, 70, -1, { "001=061", "010=070", "011<012" },
            { "001 Song1 ( Band1 )" } },
        { "Start Pos 1: the first entry on the third line", rows(70), 1, 70, 2, {}, { "070 Song70 ( Band70 )" } },
        { "a long first entry pushes its partner to the next line", longFirst, 2, 70, -1,
            { "001<061", "061<002", "002=062", "061|062" }, { "061 Song61" } },
        { "empty playlist: empty lines only", {}, 2, 0, -1, {}, {} },
        { "200 rows, answered OK: the first 120", rows(200), 2, 120, -1, { "001=061", "060=120" }, { "120 Song120" } },
        { "Japanese",
            { { .title = "春の小川", .artist = "さくら合唱団", .fullPath = "/a" },
                { .title = "生きる  ", .artist = "山田こずえ", .fullPath = "/b" } },
            2, 2, -1, {}, { "001 春の小川 ( さくら合唱団 )", "002 生きる ( 山田こずえ )" } },
    };
    for (const auto &[name, list, startPos, count, firstLine, relations, texts] : cases) {
        SCOPED_TRACE(name);
        auto w = open(list);
        auto *combo = w->findChild<QComboBox *>("Combo2");
        combo->setCurrentIndex(combo->findData(startPos));
        w->CmdDataPrint_Click();
        const auto at = entryNumbers(pdf);
        EXPECT_EQ(at.size(), count);
        // One line is the step from entry 3 to entry 4 as printed: one em of the 5-point preset.
        const double line = at.contains("004") ? at["004"].y() - at["003"].y() : 5.0;
        EXPECT_NEAR(line, 5.0, 0.05);
        const double top = w->printer().pageLayout().paintRect(QPageLayout::Point).top();
        EXPECT_EQ(firstLine < 0 ? -1 : int(std::floor((at["001"].y() - top) / line)), firstLine);
        for (const QString &r : relations) {
            const QPointF a = at[r.left(3)], b = at[r.mid(4)];
            const double got = r[3] == u'|' ? b.x() - a.x() : b.y() - a.y();
            EXPECT_NEAR(got, r[3] == u'<' ? line : 0, 0.5) << r.toStdString();
        }
        const QString text = pdfText(pdf);
        for (const QString &t : texts)
            EXPECT_TRUE(text.contains(t)) << t.toStdString() << " in " << text.toStdString();
        EXPECT_EQ(text.trimmed().isEmpty(), texts.isEmpty());
    }
    EXPECT_TRUE(run("pdffonts", { pdf }).contains("IPAPGothic")); // the Japanese font, embedded
    // From 160 rows the window asks first (the 200 rows' question was answered OK); Cancel ends it.
    open(rows(159));
    playlist.addRows(rows(160));
    prompter.answers.enqueue(Prompter::Answer::Cancel);
    EXPECT_FALSE(PrintWindow(&playlist, &prompter, &settings).formLoad());
    const QString question = QStringLiteral("ＤＡＴＡが%1個あります。続けますか（印字最大１６０件）");
    EXPECT_EQ(prompter.texts(), QStringList({ question.arg(200), question.arg(160) }));
}

// A row whose tags are pending prints once they are in; a preview keeps the waiting print, closing drops it.
TEST_F(PrintTest, PrintingWaitsForTheTagsOfPrintedRows)
{
    auto fill = [this](int row) {
        TrackRow filled = rows(row)[row - 1];
        filled.id = playlist.row(row).id;
        playlist.fillRows({ filled });
    };
    auto pending = [](int n, int row) {
        QList<TrackRow> list = rows(n);
        list[row - 1].title = QStringLiteral("%1.mp3").arg(row);
        list[row - 1].tagsPending = true;
        return list;
    };
    prompter.answers.enqueue(Prompter::Answer::Ok); // 200 rows: go on
    auto past = open(pending(200, 150)); // row 150 is past the 120 printed
    past->CmdDataPrint_Click();
    EXPECT_TRUE(pdfText(pdf).contains("120 Song120")) << "printed without waiting";

    auto w = open(pending(2, 2));
    w->CmdDataPrint_Click();
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(w->cursor().shape(), Qt::BusyCursor);
    w->CmdDataSet_Click(); // the preview changes meanwhile
    fill(2);
    EXPECT_TRUE(pdfText(pdf).contains("002 Song2 ( Band2 )")) << pdfText(pdf).toStdString();
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);

    auto closed = open(pending(2, 2));
    closed->show();
    closed->Cmd_Print_Al_Click();
    EXPECT_EQ(closed->cursor().shape(), Qt::BusyCursor);
    closed->Cmd_close_Click();
    fill(2);
    EXPECT_FALSE(QFile::exists(pdf)) << "printed after the window closed";
}

// Each print to a file asks for the file, outline alone too; a list in no palette colour sends no page.
TEST_F(PrintTest, PrintsToFilesAskAndEmptyPagesAreNotSent)
{
    auto w = open(rows(3));
    w->CmdDataPrint_Click();
    const QString first = pdf;
    w->CmdLblPr_Click();
    EXPECT_EQ(jobs, 2);
    EXPECT_TRUE(pdfText(first).contains("001 Song1 ( Band1 )"));
    EXPECT_TRUE(QFile::exists(pdf) && pdf != first);
    settings.Font_Color2 = -1;
    w->CmdDataPrint_Click();
    EXPECT_EQ(jobs, 3);
    EXPECT_FALSE(QFile::exists(pdf)) << "a blank page";
}

TEST_F(PrintTest, OutlinesMeasureTheInsertSizes)
{
    const double spine = 150.0 * 350 / 8500; // mm
    // Option, the vertical lines from the left one, the height.
    const std::tuple<int, QList<double>, double> cases[]
        = { { 0, { 0, 120 }, 120 }, { 1, { 0, spine, 150 - spine, 150 }, 118 } };
    for (const auto &[option, columnsMm, heightMm] : cases) {
        SCOPED_TRACE(option);
        auto w = open(rows(3));
        w->Option1_Click(option);
        w->printer().setOutputFormat(QPrinter::PdfFormat);
        w->printer().setOutputFileName(pdf = dir.filePath("outline.pdf"));
        w->CmdLblPr_Click();
        const auto [xs, ys] = measureLines(pdf, dir.path());
        const QRectF area = w->printer().pageLayout().paintRect(QPageLayout::Millimeter);
        ASSERT_TRUE(xs.size() == columnsMm.size() && ys.size() == 2) << xs.size() << " " << ys.size();
        for (int i = 0; i < xs.size(); ++i)
            EXPECT_NEAR(xs[i] - area.left(), columnsMm[i], 0.5) << i;
        EXPECT_NEAR(ys[0], area.top(), 0.5);
        EXPECT_NEAR(ys[1] - ys[0], heightMm, 0.5);
        EXPECT_TRUE(pdfText(pdf).trimmed().isEmpty());
    }
}

// Preview in Font_Color2; 両印刷 keeps the outline alone; no selection draws no list; Cancel prints nothing.
TEST_F(PrintTest, PreviewAndBothPrint)
{
    auto count = [](const QImage &img, auto pixelIs) {
        const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
        const auto *p = reinterpret_cast<const QRgb *>(rgb.constBits());
        return std::count_if(p, p + rgb.width() * rgb.height(), pixelIs);
    };
    auto redInk = [](QRgb p) { return qRed(p) > qGreen(p) + 40 && qGreen(p) == qBlue(p); }; // smoothed text
    settings.Font_Color2 = 4;
    auto w = open(rows(70));
    JacketPreview *pic = w->picWork();
    w->CmdDataSet_Click();
    EXPECT_GT(count(pic->image(), redInk), 500);
    w->Option1_Click(0);
    w->Cmd_Print_Al_Click();
    EXPECT_EQ(count(pic->image(), redInk), 0);
    EXPECT_GT(count(pic->image(), [](QRgb p) { return p == qRgb(0, 0, 0); }), 4 * 440);
    EXPECT_TRUE(pdfText(pdf).contains("001 Song1 ( Band1 )") && measureLines(pdf, dir.path()).first.size() == 2);

    settings.Font_Color2 = -1;
    w->CmdDataSet_Click();
    EXPECT_EQ(count(pic->image(), [](QRgb p) { return p == qRgb(255, 255, 255); }), pic->width() * pic->height());
    w->Cmd_Print_Al_Click();
    EXPECT_TRUE(pdfText(pdf).trimmed().isEmpty());

    auto cancelled = open(rows(3), false);
    cancelled->CmdDataPrint_Click();
    cancelled->Cmd_Print_Al_Click();
    EXPECT_TRUE(jobs == 4 && !QFile::exists(pdf)) << jobs;
}

} // namespace
