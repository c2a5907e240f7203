#include "BrowseTestSupport.h"

#include <gtest/gtest.h>

namespace vessora::test {

BrowseTree::BrowseTree(int rows) {
    writeFile(dir / "docs/report.pdf", 2 << 20);
    writeFile(dir / "docs/video.mov", 3 << 20);
    for (int i = 0; i < 3; ++i) writeFile(dir / ("docs/note" + std::to_string(i) + ".txt"), 1000);
    makeDirs(dir / "empty");
    for (int i = 0; i < rows; ++i) writeFile(dir / ("rows/row" + std::to_string(i) + "/file.txt"), 100 + i);
    writeFile(dir / "big.bin", (1 << 20) + 4096);
}

FSNode::Ptr scanned(CorvaneModel& model, const std::string& path) {
    model.scan().start(path);
    const bool done = QTest::qWaitFor([&] { return !model.scan().isScanning(); }, 30000);
    EXPECT_TRUE(done) << "scan of " << path << " did not finish";
    return model.scan().tree();
}

FSNode::Ptr childNamed(const FSNode::Ptr& node, const std::string& name) {
    if (node)
        for (const auto& child : node->children())
            if (child->name() == name) return child;
    return nullptr;
}

namespace {
QtMessageHandler previousHandler = nullptr;
void failingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // The offscreen platform's own complaints are no fault of ours.
    const bool platform = message.contains(QLatin1String("This plugin does not support"));
    if ((type == QtWarningMsg || type == QtCriticalMsg) && !platform) ADD_FAILURE() << "Qt: " << message.toStdString();
    previousHandler(type, context, message);
}
} // namespace

FailOnQtWarnings::FailOnQtWarnings() { previousHandler = qInstallMessageHandler(failingHandler); }
FailOnQtWarnings::~FailOnQtWarnings() { qInstallMessageHandler(previousHandler); }

} // namespace vessora::test
