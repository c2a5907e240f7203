// Screens under the offscreen platform, with a fixed style and font so that
// sizes and pixels do not depend on the machine.

#include "model/ModelTestSupport.h"
#include "support/Paths.h"

#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

namespace vessora::test {
namespace {
std::string suiteHomeValue;
}
const std::string& suiteHome() { return suiteHomeValue; }
} // namespace vessora::test

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setStyle("Fusion");
    QApplication application(argc, argv);
    QApplication::setFont(QFont("DejaVu Sans", 10));
    vessora::test::suiteHomeValue = vessora::Paths::home();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
