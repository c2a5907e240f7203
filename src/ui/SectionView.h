#pragma once
// The base of every page in the window's detail stack. The window builds
// each page once, handing it the stores of the model it shows; pages live for
// the whole run. Source files under src/ui (and its folders) are picked up by
// the build without editing CMakeLists.txt.
//
// A page owns a ScreenHeader (the window title follows its title), asks the
// window to switch with sectionRequested, and is told which section it shows
// through showSection before it becomes current (category detail resets there).

#include "ui/Section.h"

#include <QWidget>

class QLabel;

namespace vessora {

class ScreenHeader;

class SectionView : public QWidget {
    Q_OBJECT
public:
    explicit SectionView(QWidget* parent = nullptr);
    // The section this page is about to show. The default does nothing.
    virtual void showSection(const Section& section);
    // The page's header, or nullptr when it has none.
    virtual ScreenHeader* header() const { return nullptr; }

signals:
    void sectionRequested(const vessora::Section& section);
};

// A page for a screen that is not built yet, or for a category id nobody
// knows: a header with the title and, centred, a symbol and a line of text.
class PlaceholderView : public SectionView {
    Q_OBJECT
public:
    PlaceholderView(const QString& title, const QString& symbol, const QString& text, QWidget* parent = nullptr);
    void showSection(const Section& section) override;
    ScreenHeader* header() const override { return header_; }
    // When true, the title follows the section shown (category pages).
    void setFollowsSection(bool follows) { followsSection_ = follows; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();
    ScreenHeader* header_;
    QLabel* icon_;
    QString symbol_;
    bool followsSection_ = false;
};

} // namespace vessora
