// The kit's promises other screens rely on: no symbol is ever blank, plain
// text stays plain, and the share bar is always visible.

#include "UiTestSupport.h"
#include "ui/kit/ElidedLabel.h"
#include "ui/kit/ShareBar.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"
#include "catalog/StorageCategories.h"

#include <QImage>
#include <QPainter>

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
    struct Case {
        const char* theme;
        QStringList searchPaths;
    };
    const QStringList original = QIcon::themeSearchPaths();
    for (const Case& c : {Case{"Adwaita", original}, Case{"no-such-theme", QStringList{}}}) {
        QIcon::setThemeSearchPaths(c.searchPaths);
        QIcon::setThemeName(QString::fromLatin1(c.theme));
        QIcon::setFallbackThemeName(QString::fromLatin1(c.theme));
        Symbols::clearCache();
        for (const QString& name : symbolsInUse()) {
            for (QColor tint : {QColor(), QColor(Qt::red)}) {
                const QPixmap pixmap = Symbols::pixmap(name, 16, tint, 2.0);
                EXPECT_FALSE(pixmap.isNull()) << c.theme << " " << name.toStdString();
                EXPECT_TRUE(hasInk(pixmap)) << c.theme << " " << name.toStdString();
            }
        }
        if (QString::fromLatin1(c.theme) == QLatin1String("Adwaita"))
            EXPECT_EQ(Symbols::source(QStringLiteral("folder")), Symbols::Source::theme);
        else
            EXPECT_NE(Symbols::source(QStringLiteral("folder")), Symbols::Source::theme);
    }
    QIcon::setThemeSearchPaths(original);
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    Symbols::setUpIconTheme();
}

TEST(Text, FileNamesStayLiteralInButtonsAndLabels) {
    EXPECT_EQ(Text::escapeMnemonic(QStringLiteral("<b>a&b")), QStringLiteral("<b>a&&b"));
    EXPECT_EQ(Text::fileName("/tmp/dir/<b>a&b"), QStringLiteral("<b>a&b"));
    EXPECT_EQ(Text::fileName("/tmp/dir/"), QStringLiteral("dir"));
    EXPECT_EQ(Text::fileName("/"), QStringLiteral("/"));
    // Not UTF-8: still shown, never dropped.
    EXPECT_FALSE(Text::fileName("/tmp/\xff\xfe").isEmpty());

    ElidedLabel label(QStringLiteral("/a/very/long/path/that/cannot/fit/<b>a&b"), Qt::ElideMiddle);
    label.resize(80, 20);
    label.show();
    EXPECT_LT(label.minimumSizeHint().width(), 60);
    EXPECT_NE(label.shownText(), label.text());
    EXPECT_TRUE(label.toolTip().contains(QStringLiteral("&lt;b&gt;a&amp;b")));
}

TEST(ShareBar, FillIsAtLeastTwoPixelsAndNeverBeyondTheTrack) {
    EXPECT_EQ(ShareBar::fillWidth(90, 0), 2);
    EXPECT_EQ(ShareBar::fillWidth(90, std::nan("")), 2);
    EXPECT_EQ(ShareBar::fillWidth(90, 0.5), 45);
    EXPECT_EQ(ShareBar::fillWidth(90, 7), 90);
}

} // namespace
} // namespace vessora::test
