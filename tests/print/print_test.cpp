// The CD jacket window printed to PDF files (no dialog, no printer) and read back with
// poppler-utils: the words and where they stand (pdftotext), the outline measured on a
// rendering of the page (pdftoppm).
#include "jacketpreview.h"
#include "playlistmodel.h"
#include "printwindow.h"
#include "scriptedprompter.h"
#include "settings.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace kes;

namespace
{

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// pdftotext's text, NFKC-normalised (it gives some kanji as Kangxi radicals), with runs
// of blanks made one space.
QString pdfText(const QString &pdf)
{
    QString t = run(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), pdf, QStringLiteral("-") });
    return t.normalized(QString::NormalizationForm_KC).replace(QRegularExpression(QStringLiteral("[ \\t]+")), " ");
}

struct Word {
    QString text;
    double x, y; // points from the page's top left
};

// The three-digit entry numbers of the page by their text ("001" ...).
QMap<QString, Word> entryNumbers(const QString &pdf)
{
    const QString html = run(QStringLiteral("pdftotext"), { QStringLiteral("-bbox"), pdf, QStringLiteral("-") });
    static const QRegularExpression re(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\"[^>]*>(\\d{3})</word>"));
    QMap<QString, Word> out;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        out.insert(m.captured(3), { m.captured(3), m.captured(1).toDouble(), m.captured(2).toDouble() });
    }
    return out;
}

// Centres of the black lines at least 50 mm long on the rendered page, in mm from its
// top left: vertical lines by x, horizontal lines by y.
struct Lines {
    QList<double> xs, ys;
};
Lines measureLines(const QString &pdf, const QString &dir)
{
    constexpr int dpi = 300;
    const QString base = dir + QStringLiteral("/page");
    run(QStringLiteral("pdftoppm"),
        { QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"), QStringLiteral("-singlefile"), pdf,
            base });
    const QImage img(base + QStringLiteral(".pgm"));
    const double mmPerPx = 25.4 / dpi;
    const int minLength = static_cast<int>(50 / mmPerPx);
    auto centres = [&](int n, int m, auto dark) {
        QList<double> out;
        int runStart = -1;
        for (int i = 0; i <= n; ++i) {
            int count = 0; // the longest stretch of dark pixels across row or column i
            for (int j = 0, stretch = 0; i < n && j < m; ++j)
                count = std::max(count, stretch = dark(i, j) ? stretch + 1 : 0);
            if (count >= minLength && runStart < 0)
                runStart = i;
            if (count < minLength && runStart >= 0) {
                out.append((runStart + i - 1) / 2.0 * mmPerPx);
                runStart = -1;
            }
        }
        return out;
    };
    auto isDark = [&](int x, int y) { return qGray(img.pixel(x, y)) < 128 ? 1 : 0; };
    return { centres(img.width(), img.height(), isDark),
        centres(img.height(), img.width(), [&](int y, int x) { return isDark(x, y); }) };
}

QList<TrackRow> rows(int n)
{
    QList<TrackRow> out;
    for (int i = 1; i <= n; ++i)
        out.append({ {}, QStringLiteral("Song%1").arg(i), QStringLiteral("Band%1").arg(i), {},
            QStringLiteral("/m/%1.mp3").arg(i) });
    return out;
}

class PrintTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // A window over the playlist with the print dialog answered by `accept`, printing to
    // a fresh PDF file each time it is accepted.
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
    static void choose(PrintWindow &w, const char *combo, int value)
    {
        auto *c = w.findChild<QComboBox *>(QString::fromUtf8(combo));
        c->setCurrentIndex(c->findData(value));
    }

    QTemporaryDir dir;
    PlaylistModel playlist;
    ScriptedPrompter prompter;
    Settings settings;
    QString pdf;
    int jobs = 0;
};

TEST_F(PrintTest, TrackListOnThePage)
{
    const QString longTitle = QString(120, QLatin1Char('W'));
    struct Case {
        const char *name;
        int rows;
        int maxLine;
        int startPos;
        std::function<void(QList<TrackRow> &)> edit;
        std::function<void(const QMap<QString, Word> &, double lineHeight, double top)> check;
    };
    auto sameLine = [](const Word &a, const Word &b) { return std::abs(a.y - b.y) < 0.5; };
    const QList<Case> cases {
        { "70 rows, Max Line 60: lines 1-10 hold two entries", 70, 60, 2, {},
            [&](const auto &w, double lineHeight, double) {
                EXPECT_NEAR(lineHeight, 5.0, 0.05); // one em of the 5-point preset
                EXPECT_EQ(w.size(), 70);
                EXPECT_TRUE(sameLine(w["001"], w["061"]));
                EXPECT_TRUE(sameLine(w["010"], w["070"]));
                for (const Word &x : w)
                    EXPECT_TRUE(x.text == "011" || !sameLine(x, w["011"])) << x.text.toStdString();
            } },
        { "Start Pos 1: the first entry on the third line", 70, 60, 1, {},
            [&](const auto &w, double lineHeight, double top) {
                EXPECT_EQ(std::floor((w["001"].y - top) / lineHeight), 2);
            } },
        { "a long first entry pushes its partner to the next line", 70, 60, 2,
            [&](QList<TrackRow> &l) { l[0].title = longTitle; },
            [&](const auto &w, double lineHeight, double) {
                EXPECT_NEAR(w["061"].y - w["001"].y, lineHeight, 0.5);
                EXPECT_NEAR(w["061"].x, w["062"].x, 0.5);
                EXPECT_NEAR(w["002"].y - w["061"].y, lineHeight, 0.5);
                EXPECT_TRUE(sameLine(w["002"], w["062"]));
            } },
        { "empty playlist: empty lines only", 0, 60, 2, {},
            [&](const auto &, double, double) { EXPECT_TRUE(pdfText(pdf).trimmed().isEmpty()); } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QList<TrackRow> list = rows(c.rows);
        if (c.edit)
            c.edit(list);
        auto w = open(list);
        choose(*w, "Combo3", c.maxLine);
        choose(*w, "Combo2", c.startPos);
        w->CmdDataPrint_Click();
        ASSERT_TRUE(QFile::exists(pdf));
        const auto words = entryNumbers(pdf);
        // One line is the step from entry 3 to entry 4 as printed.
        const double lineHeight = words.contains("004") ? words["004"].y - words["003"].y : 0;
        c.check(words, lineHeight, w->printer().pageLayout().paintRect(QPageLayout::Point).top());
    }
}

TEST_F(PrintTest, LongPlaylistQuestion)
{
    const QString question = QStringLiteral("ＤＡＴＡが%1個あります。続けますか（印字最大１６０件）");
    playlist.addRows(rows(200));
    PrintWindow w(&playlist, &prompter, &settings);
    prompter.answers.enqueue(Prompter::Answer::Cancel);
    EXPECT_FALSE(w.formLoad());
    ASSERT_EQ(prompter.messages.size(), 1);
    EXPECT_EQ(prompter.messages[0].text, question.arg(200));

    // Answered OK, the presets print rows 1 to 120 in two columns of 60.
    auto printing = open(rows(200));
    EXPECT_EQ(prompter.messages.size(), 2);
    printing->CmdDataPrint_Click();
    const auto words = entryNumbers(pdf);
    EXPECT_EQ(words.size(), 120);
    EXPECT_TRUE(words.contains("120") && !words.contains("121"));
}

TEST_F(PrintTest, JapaneseTitlesComeBackAsTheSameText)
{
    auto w = open({ { {}, QStringLiteral("春の小川"), QStringLiteral("さくら合唱団"), {}, QStringLiteral("/a") },
        { {}, QStringLiteral("生きる  "), QStringLiteral("山田こずえ"), {}, QStringLiteral("/b") } });
    w->CmdDataPrint_Click();
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("001 春の小川 ( さくら合唱団 )"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("002 生きる ( 山田こずえ )"))) << text.toStdString();
    // The glyphs come from the installed Japanese font, embedded in the file.
    EXPECT_TRUE(run(QStringLiteral("pdffonts"), { pdf }).contains(QStringLiteral("IPAPGothic")));
}

TEST_F(PrintTest, OutlinesMeasureTheInsertSizes)
{
    struct Case {
        int option;
        QList<double> columnsMm; // vertical lines from the left one
        double heightMm;
    };
    const double spine = 150.0 * 350 / 8500;
    const QList<Case> cases {
        { 0, { 0, 120 }, 120 },
        { 1, { 0, spine, 150 - spine, 150 }, 118 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.option);
        auto w = open(rows(3));
        w->Option1_Click(c.option);
        // No print dialog for the outline: the job goes where the printer points.
        w->printer().setOutputFormat(QPrinter::PdfFormat);
        w->printer().setOutputFileName(pdf = dir.filePath(QStringLiteral("outline%1.pdf").arg(c.option)));
        w->CmdLblPr_Click();
        const Lines lines = measureLines(pdf, dir.path());
        const QRectF area = w->printer().pageLayout().paintRect(QPageLayout::Millimeter);
        ASSERT_EQ(lines.xs.size(), c.columnsMm.size());
        ASSERT_EQ(lines.ys.size(), 2);
        for (int i = 0; i < lines.xs.size(); ++i)
            EXPECT_NEAR(lines.xs[i] - area.left(), c.columnsMm[i], 0.5) << i;
        EXPECT_NEAR(lines.ys[0], area.top(), 0.5);
        EXPECT_NEAR(lines.ys[1] - lines.ys[0], c.heightMm, 0.5);
        EXPECT_TRUE(pdfText(pdf).trimmed().isEmpty());
    }
}

// The preview in colour Font_Color2; "両印刷" keeps the outline only in the preview, and a
// colour list without a selection draws no track list anywhere.
TEST_F(PrintTest, PreviewAndBothPrint)
{
    // Pixels of a colour, or for `red` of the red ink of the (smoothed) text.
    const QRgb red = qRgb(128, 0, 0);
    auto count = [red](const QImage &img, QRgb colour) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                n += colour == red ? qRed(p) > qGreen(p) + 40 && qGreen(p) == qBlue(p) : p == colour;
            }
        }
        return n;
    };
    settings.Font_Color2 = 4;
    auto w = open(rows(70));
    JacketPreview *pic = w->picWork();
    w->CmdDataSet_Click();
    EXPECT_GT(count(pic->image(), red), 500);
    w->Option1_Click(0);
    EXPECT_GT(count(pic->image(), red), 500);

    w->Cmd_Print_Al_Click();
    EXPECT_EQ(count(pic->image(), red), 0);
    EXPECT_GT(count(pic->image(), qRgb(0, 0, 0)), 4 * 440);
    EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("001 Song1 ( Band1 )")));
    EXPECT_EQ(measureLines(pdf, dir.path()).xs.size(), 2);

    settings.Font_Color2 = -1;
    w->CmdDataSet_Click();
    EXPECT_EQ(count(pic->image(), qRgb(255, 255, 255)), pic->width() * pic->height());
    w->Cmd_Print_Al_Click();
    EXPECT_TRUE(pdfText(pdf).trimmed().isEmpty());

    // Cancel in the print dialog: nothing is printed.
    auto cancelled = open(rows(3), false);
    const int before = jobs;
    cancelled->CmdDataPrint_Click();
    cancelled->Cmd_Print_Al_Click();
    EXPECT_EQ(jobs, before + 2);
    EXPECT_FALSE(QFile::exists(pdf));
}

} // namespace
