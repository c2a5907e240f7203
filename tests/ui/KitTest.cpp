// The kit's promises other screens rely on: no symbol is ever blank, plain
// text stays plain, and the share bar is always visible.

#include "UiTestSupport.h"
#include "catalog/StorageCategories.h"
#include "ui/browse/ChangeText.h"
#include "ui/browse/NodeRowDelegate.h"
#include "ui/browse/TreemapView.h"
#include "ui/kit/Colors.h"
#include "ui/kit/ElidedLabel.h"
#include "ui/kit/RemovalConfirmation.h"
#include "ui/kit/Style.h"
#include "ui/kit/ShareBar.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"

namespace vessora::test {
namespace {

// The symbols the window and the category table use, beyond the table's own.
QStringList symbolsInUse() {
    QStringList names = Symbols::knownSymbols();
    for (auto& category : StorageCategories::all()) names << QString::fromStdString(category.symbol);
    names << QStringLiteral("no.such.symbol");
    return names;
}

bool hasInk(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() > 0) return true;
    return false;
}

TEST(Symbols, EverySymbolHasInkWithAdwaitaAndWithoutAnyTheme) {
    const QStringList original = QIcon::themeSearchPaths();
    for (const auto& [theme, paths] : {std::pair{QStringLiteral("Adwaita"), original}, {"no-such-theme", {}}}) {
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(theme);
        QIcon::setFallbackThemeName(theme);
        Symbols::clearCache();
        for (const QString& name : symbolsInUse())
            for (QColor tint : {QColor(), QColor(Qt::red)})
                EXPECT_TRUE(hasInk(Symbols::pixmap(name, 16, tint, 2.0)))
                    << theme.toStdString() << " " << name.toStdString();
        EXPECT_EQ(Symbols::source(QStringLiteral("folder")) == Symbols::Source::theme, !paths.isEmpty());
    }
    QIcon::setThemeSearchPaths(original);
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    Symbols::setUpIconTheme();
}

// A name is one line that says what it holds and stays literal in buttons and
// labels: control characters, line separators and undecodable bytes are
// visible escapes; Qt's file classes still get the path as it is.
TEST(Text, FileNamesStayLiteralAndOnOneLine) {
    EXPECT_EQ((QStringList{Text::escapeMnemonic(QStringLiteral("<b>a&b")), Text::fileName("/tmp/dir/<b>a&b"),
                           Text::fileName("/tmp/dir/"), Text::fileName("/")}),
              (QStringList{"<b>a&&b", "<b>a&b", "dir", "/"}));
    // Not UTF-8: still shown, never dropped.
    EXPECT_FALSE(Text::fileName("/tmp/\xff\xfe").isEmpty());

    ElidedLabel label(QStringLiteral("/a/very/long/path/that/cannot/fit/<b>a&b"), Qt::ElideMiddle);
    label.resize(80, 20);
    label.show();
    EXPECT_LT(label.minimumSizeHint().width(), 60);
    EXPECT_NE(label.shownText(), label.text());
    EXPECT_TRUE(label.toolTip().contains(QStringLiteral("&lt;b&gt;a&amp;b")));

    const std::string evil = "/tmp/a\nb\x1b[2J\tc\xff\xe2\x80\xa8\xc2\x85\\d";
    EXPECT_EQ(Text::fileName(evil), QStringLiteral("a\\nb\\x1b[2J\\tc\\xff\\u2028\\xc2\\x85\\d"));
    EXPECT_EQ(Text::fromPath("/tmp/caf\xc3\xa9 _x"), QString::fromUtf8("/tmp/caf\xc3\xa9 _x"));
    EXPECT_EQ(Text::filePath(evil), QFile::decodeName(QByteArray::fromStdString(evil)));
}

// At small sizes an underscore lies below the font's descent: a one-line
// label still shows it (".npm/_cacache", not ".npm/ cacache").
TEST(ElidedLabel, UnderscoreIsNotCutOff) {
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPointSizeF(7.7);
    ElidedLabel label(QStringLiteral("_"), Qt::ElideLeft);
    label.setFont(small);
    label.resize(label.sizeHint());
    const QImage image = label.grab().toImage();
    bool ink = false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ink |= qGray(image.pixel(x, y)) < 160;
    EXPECT_TRUE(ink);
}

// "Move to Trash" is the default; "Delete Immediately" is never pressed by
// Return, not even with focus; the warning closes the message.
TEST(RemovalConfirmation, ReturnNeverDeletes) {
    QWidget parent;
    parent.show();
    std::vector<RemovalMode> chosen;
    auto open = [&] {
        QMessageBox* box = RemovalConfirmation::build(&parent, "box", "Remove x?", "/tmp/x",
                                                      [&](RemovalMode mode) { chosen.push_back(mode); });
        box->open();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
        return box;
    };
    QMessageBox* box = open();
    EXPECT_EQ(box->informativeText(), "/tmp/x\nItems deleted immediately cannot be put back.");
    EXPECT_EQ(box->defaultButton()->text(), "Move to Trash");
    auto* erase = box->findChild<QPushButton*>("confirmation.delete");
    ASSERT_TRUE(erase);
    erase->setFocus();
    QTest::keyClick(erase, Qt::Key_Return);
    QTest::keyClick(erase, Qt::Key_Enter);
    EXPECT_TRUE(chosen.empty() && box->isVisible()) << "Return and Enter never delete";
    QTest::keyClick(erase, Qt::Key_Space);
    EXPECT_EQ(chosen, std::vector<RemovalMode>{RemovalMode::deleteImmediately});
    box = open();
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(chosen.back(), RemovalMode::trash);
    box = open();
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_EQ(chosen.size(), 2u);
}

// The colours text is drawn in read at least 4.5 to 1 on the backgrounds of
// both schemes; labels on treemap tiles of every colour and of every change;
// change texts on rows; empty check boxes stand out from their field.
TEST(Colors, TextRolesReadOnEveryBackground) {
    for (const QPalette& p : {Colors::lightPalette(), Colors::darkPalette()}) {
        const bool dark = Colors::isDark(p);
        SCOPED_TRACE(dark ? "dark" : "light");
        const QColor backgrounds[] = {p.color(QPalette::Window), p.color(QPalette::Base), p.color(QPalette::Button),
                                      Colors::barMaterial(p)};
        const std::pair<const char*, QColor> texts[] = {
            {"primary", Colors::primary(p)},
            {"secondary", Colors::secondary(p)},
            {"green", Colors::green(p)},
            {"orange", Colors::orange(p)},
            {"red", Colors::red(p)},
            {"link", Colors::link(p)},
            {"disabled", p.color(QPalette::Disabled, QPalette::ButtonText)}};
        for (const auto& [name, text] : texts)
            for (const QColor& bg : backgrounds)
                EXPECT_GE(Colors::contrast(Colors::over(text, bg), bg), Colors::minimumContrast)
                    << name << " on " << bg.name().toStdString();
        EXPECT_GE(Colors::contrast(p.color(QPalette::HighlightedText), p.color(QPalette::Highlight)),
                  Colors::minimumContrast);
        // Placeholders are drawn in fields only.
        EXPECT_GE(Colors::contrast(p.color(QPalette::PlaceholderText), p.color(QPalette::Base)),
                  Colors::minimumContrast);
        EXPECT_GE(Colors::contrast(Style::indicatorFrame(p, p.color(QPalette::Base)), p.color(QPalette::Base)), 3.0);
        std::vector<QColor> fills;
        for (const Rgb& rgb : Palette::ramp()) fills.push_back(Colors::fromRgb(rgb));
        for (const auto& category : StorageCategories::all()) fills.push_back(Colors::fromRgb(category.color()));
        for (QColor fill : fills)
            for (double alpha : {0.85, 0.55}) {
                fill.setAlphaF(float(alpha));
                const QColor tile = Colors::over(fill, Colors::background(p));
                EXPECT_GE(Colors::contrast(TreemapView::tileLabelColor(fill, Colors::background(p)), tile),
                          Colors::minimumContrast)
                    << fill.name().toStdString();
            }
        using Change = ScanComparison::Change;
        for (Change change : {Change::grew, Change::shrank, Change::added, Change::gone, Change::same}) {
            const QColor fill = ChangeText::tileColor(change), base = p.color(QPalette::Base);
            EXPECT_GE(Colors::contrast(Colors::over(QColor(255, 255, 255, 217), fill), fill), Colors::minimumContrast);
            EXPECT_GE(Colors::contrast(ChangeText::textColor(change, p), base), Colors::minimumContrast)
                << ChangeText::label(change).toStdString();
        }
    }
}

// A row's bar shows even when its folder is empty (or its size unknown).
TEST(ShareBar, FillIsAtLeastTwoPixelsAndNeverBeyondTheTrack) {
    EXPECT_EQ(std::tuple(ShareBar::fillWidth(90, NodeRowDelegate::fraction(500, 0)),
                         ShareBar::fillWidth(90, std::nan("")),
                         ShareBar::fillWidth(90, NodeRowDelegate::fraction(1, 2)),
                         ShareBar::fillWidth(90, NodeRowDelegate::fraction(7, 1))),
              std::tuple(2, 2, 45, 90));
}

} // namespace
} // namespace vessora::test
