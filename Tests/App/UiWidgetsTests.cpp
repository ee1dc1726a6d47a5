// The theme and the shared widgets: colours in both appearances, the
// geometry of the core bar and the sparkline, and what the pill and the app
// icon put on screen, read back from rendered pixels.
#include "Appearance.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "Ui/AppIconView.h"
#include "Ui/CoreSplitBar.h"
#include "Ui/RulePill.h"
#include "Ui/Sparkline.h"
#include "Ui/Theme.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cmath>

using namespace trevlin;
using namespace trevlin::testing;
using namespace trevlin::ui;

namespace {

QPalette lookOf(bool dark) { return dark ? Appearance::darkPalette() : Appearance::lightPalette(); }

/// The widget drawn on its window colour at `ratio` device pixels per point.
QImage render(QWidget& w, const QPalette& palette, qreal ratio = 1) {
    w.setPalette(palette);
    QImage image(w.size() * ratio, QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(palette.color(QPalette::Window));
    w.render(&image);
    return image;
}

/// `over` painted with its opacity onto the opaque `under`.
QColor blend(const QColor& under, const QColor& over) {
    const double a = over.alphaF();
    auto mix = [a](int u, int o) { return static_cast<int>(std::lround(o * a + u * (1 - a))); };
    return QColor(mix(under.red(), over.red()), mix(under.green(), over.green()), mix(under.blue(), over.blue()));
}

int distance(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

::testing::AssertionResult near(const QColor& actual, const QColor& expected, int tolerance = 3) {
    if (distance(actual, expected) <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.name().toStdString() << " is not " << expected.name().toStdString();
}

}  // namespace

TEST(ThemeTest, TheFourColoursInBothAppearancesAndTheTrack) {
    struct Case {
        ThemeColor color;
        const char* light;
        const char* dark;
    };
    const Case cases[] = {
        {ThemeColor::perf, "#2b5fd9", "#6f9bff"},
        {ThemeColor::eff, "#0f9d8a", "#3ecfb8"},
        {ThemeColor::saved, "#7c3aed", "#b794ff"},
        {ThemeColor::cap, "#c2410c", "#ff9a5c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Theme::color(c.color, false).name().toStdString(), c.light);
        EXPECT_EQ(Theme::color(c.color, true).name().toStdString(), c.dark);
        // Chosen by the palette the widget draws with.
        EXPECT_EQ(Theme::color(c.color, lookOf(true)).name().toStdString(), c.dark);
        EXPECT_EQ(Theme::color(c.color, false).alpha(), 255);
    }
    EXPECT_FALSE(Theme::isDark(lookOf(false)));
    EXPECT_TRUE(Theme::isDark(lookOf(true)));
    const QColor track = Theme::track(lookOf(true));
    EXPECT_EQ(track.rgb(), lookOf(true).color(QPalette::WindowText).rgb());
    EXPECT_NEAR(track.alphaF(), 0.1, 0.005);
}

TEST(CoreSplitBarTest, PartsAreShareOfAllCores) {
    struct Case {
        double p, e;
        int total;
        double width, performance, efficiency;
    };
    const Case cases[] = {
        {6, 4, 8, 200, 150, 50},     // 0.75 and the remaining 0.25, not 0.5
        {0.3, 0.2, 0, 100, 30, 20},  // no core count: against one core
        {0.3, 0.2, 1, 100, 30, 20},
        {10, 5, 8, 80, 80, 0},       // more than the machine: the bar is full
        {2, 10, 4, 100, 50, 50},
        {0, 0, 8, 100, 0, 0},
    };
    for (const auto& c : cases) {
        const CoreSplit split = coreSplit(c.p, c.e, c.total, c.width);
        EXPECT_DOUBLE_EQ(split.performance, c.performance) << c.p << " " << c.e << " " << c.total;
        EXPECT_DOUBLE_EQ(split.efficiency, c.efficiency) << c.p << " " << c.e << " " << c.total;
    }

    // Drawn: performance, efficiency, then the empty track.
    qtApp();
    for (bool dark : {false, true}) {
        const QPalette look = lookOf(dark);
        CoreSplitBar bar(nullptr, 8);
        bar.resize(200, 8);
        bar.setValues(3, 2, 8);  // 75 and 50 points
        const QImage image = render(bar, look);
        EXPECT_TRUE(near(image.pixelColor(40, 4), Theme::color(ThemeColor::perf, dark)));
        EXPECT_TRUE(near(image.pixelColor(100, 4), Theme::color(ThemeColor::eff, dark)));
        EXPECT_TRUE(near(image.pixelColor(160, 4), blend(look.color(QPalette::Window), Theme::track(look))));
    }
}

TEST(SparklineTest, BucketsScaleAndBaseline) {
    const double W = Sparkline::kWidth, H = Sparkline::kHeight;

    // One value: the baseline alone.
    SparklineShape one = sparklineShape({0.7f}, W, H);
    EXPECT_TRUE(one.line.empty());
    EXPECT_EQ(one.baseline, QLineF(0, H - 1, W, H - 1));

    // 600 values: only the last 300 count, in 60 buckets of 5.
    std::vector<float> values(300, 100.0f);
    for (int i = 0; i < 300; ++i) values.push_back(static_cast<float>(i / 5) + (i % 5 == 4 ? 0.5f : 0.0f));
    SparklineShape many = sparklineShape(values, W, H);
    ASSERT_EQ(many.line.size(), 60u);
    EXPECT_NEAR(many.top, 1.1 * 59.1, 1e-4);
    for (size_t i = 0; i < many.line.size(); ++i) {
        const double mean = static_cast<double>(i) + 0.1;
        EXPECT_NEAR(many.line[i].x(), W * static_cast<double>(i) / 59, 1e-9);
        EXPECT_NEAR(many.line[i].y(), H - 2 - (H - 4) * mean / many.top, 1e-4);
    }

    // 70 values: buckets of 2, the last one short.
    std::vector<float> seventy(70, 1.0f);
    seventy.back() = 3.0f;
    SparklineShape uneven = sparklineShape(seventy, W, H);
    ASSERT_EQ(uneven.line.size(), 35u);
    EXPECT_NEAR(uneven.top, 1.1 * 2.0, 1e-6);

    // All idle: the smallest scale, the line flat at H - 2.
    SparklineShape idle = sparklineShape(std::vector<float>(120, 0.0f), W, H);
    EXPECT_DOUBLE_EQ(idle.top, 0.05);
    ASSERT_EQ(idle.line.size(), 60u);
    for (const auto& pt : idle.line) EXPECT_DOUBLE_EQ(pt.y(), H - 2);
    EXPECT_DOUBLE_EQ(sparklineShape({}, W, H).top, 0.05);
}

TEST(RulePillTest, ColoursPerStyleAndDimmedReadFromPixels) {
    qtApp();
    struct Case {
        PillStyle style;
        std::optional<ThemeColor> color;  // none: the secondary text colour
    };
    const Case cases[] = {
        {PillStyle::automatic, ThemeColor::perf},
        {PillStyle::limited, ThemeColor::cap},
        {PillStyle::paused, ThemeColor::saved},
        {PillStyle::off, std::nullopt},
    };
    for (bool dark : {false, true}) {
        const QPalette look = lookOf(dark);
        const QColor background = look.color(QPalette::Window);
        const QColor primary = look.color(QPalette::WindowText);
        for (const auto& c : cases) {
            for (bool dimmed : {false, true}) {
                SCOPED_TRACE(std::string(dark ? "dark " : "light ") + std::to_string(static_cast<int>(c.style)) +
                             (dimmed ? " dimmed" : ""));
                RulePill pill;
                pill.setPill("HHHH", c.style, dimmed);
                pill.resize(pill.sizeHint());
                const qreal ratio = 4;
                const QImage image = render(pill, look, ratio);

                QColor base = c.color ? Theme::color(*c.color, dark) : primary;
                if (!c.color) base.setAlphaF(0.55);
                QColor text = base;
                text.setAlphaF(base.alphaF() * (dimmed ? 0.55 : 1.0));
                QColor fill = c.style == PillStyle::off ? primary : text;
                fill.setAlphaF(c.style == PillStyle::off ? 0.08 : text.alphaF() * 0.16);
                const QColor capsule = blend(background, fill);

                // Inside the capsule, left of the text.
                EXPECT_TRUE(near(image.pixelColor(int(4 * ratio), int(9 * ratio)), capsule));
                // The text's fully covered pixels: the ones farthest from the capsule.
                QColor strongest = capsule;
                for (int y = 0; y < image.height(); ++y)
                    for (int x = int(8 * ratio); x < image.width() - int(8 * ratio); ++x)
                        if (distance(image.pixelColor(x, y), capsule) > distance(strongest, capsule))
                            strongest = image.pixelColor(x, y);
                EXPECT_TRUE(near(strongest, blend(capsule, text), 4));
            }
        }
    }
}

TEST(AppIconViewTest, BadgeForCommandLineGroupsEntryIconOrGenericPicture) {
    qtApp();
    test::TempDir dir;
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(QColor(255, 0, 0));
    const std::string png = dir.path() + "/red.png";
    ASSERT_TRUE(red.save(QString::fromStdString(png)));
    const std::string withIcon = dir.write("apps/red.desktop", "[Desktop Entry]\nName=Red\nIcon=" + png + "\n");
    const std::string withoutIcon = dir.write("apps/plain.desktop", "[Desktop Entry]\nName=Plain\n");

    const QPalette look = lookOf(false);
    auto draw = [&](const std::string& path) {
        AppIconView view(QString::fromStdString(path), 32);
        return render(view, look, 2);
    };
    auto countRed = [](const QImage& image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 60 && c.blue() < 60) ++n;
            }
        return n;
    };

    // The entry's own icon fills the square.
    EXPECT_GT(countRed(draw(withIcon)), 64 * 64 * 8 / 10);

    // Any "cli:" key is a command-line group, even one that looks like a path:
    // the badge, never a file's icon.
    for (const std::string& key : {std::string("cli:node"), "cli:" + withIcon}) {
        SCOPED_TRACE(key);
        const QImage badge = draw(key);
        EXPECT_EQ(countRed(badge), 0);
        // The badge's tint near its corner, ">_" in the secondary colour in the middle.
        const QColor window = look.color(QPalette::Window);
        EXPECT_TRUE(near(badge.pixelColor(12, 32), blend(window, Theme::withOpacity(Theme::primary(look), 0.1))));
        bool hasText = false;
        for (int y = 16; y < 48 && !hasText; ++y)
            for (int x = 8; x < 56 && !hasText; ++x) hasText = distance(badge.pixelColor(x, y), window) > 60;
        EXPECT_TRUE(hasText);
    }

    // No icon in the entry: Trevlin's own generic picture, opaque in the middle.
    const QImage generic = draw(withoutIcon);
    EXPECT_EQ(countRed(generic), 0);
    EXPECT_GT(distance(generic.pixelColor(32, 8), look.color(QPalette::Window)), 40);

    // No app at all: the processor symbol, with its inset left empty.
    const QImage cpu = draw("");
    EXPECT_TRUE(near(cpu.pixelColor(4, 4), look.color(QPalette::Window)));
    EXPECT_TRUE(near(cpu.pixelColor(60, 32), look.color(QPalette::Window)));
}
