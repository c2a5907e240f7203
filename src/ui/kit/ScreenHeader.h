#pragma once
// The top bar every screen owns: its title on the leading side and its
// actions (progress ring, Refresh, Scan ...) on the trailing side, on the bar
// material with a separator below. The window title follows the header of
// the page on show.

#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace vessora {

class ScreenHeader : public QWidget {
    Q_OBJECT
public:
    explicit ScreenHeader(const QString& title, QWidget* parent = nullptr);
    void setTitle(const QString& title);
    QString title() const;
    // Adds a widget at the trailing end (after those added before).
    void addAction(QWidget* widget);
    // Adds a widget right after the title.
    void addLeading(QWidget* widget);

signals:
    void titleChanged(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    QHBoxLayout* leading_;
    QHBoxLayout* trailing_;
};

} // namespace vessora
