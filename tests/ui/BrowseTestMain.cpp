// The window's tests run offscreen with a pinned style and font, in a home
// folder of their own so removals reach a Trash made for the run.

#include "TestSupport.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    ::testing::InitGoogleTest(&argc, argv);
    vessora::test::TempDir folder;
    vessora::test::makeDirs(folder / "home");
    vessora::test::ScopedEnv home("HOME", folder / "home");
    return RUN_ALL_TESTS();
}
