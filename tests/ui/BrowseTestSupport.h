#pragma once
// What the Browse tests share: real trees on disk, scanned by the real model.

#include "TestSupport.h"
#include "model/CorvaneModel.h"

#include <QtTest/QTest>

#include <memory>
#include <string>

namespace vessora::test {

// A temporary folder with a small tree of every kind of row:
//   docs/   two files of their own and a lump of three small ones
//   empty/  an empty folder
//   rows/   `rows` folders of one small file each
//   big.bin a file of its own at the top
struct BrowseTree {
    explicit BrowseTree(int rows = 40);
    std::string root() const { return dir.path(); }
    std::string operator/(const std::string& relative) const { return dir / relative; }
    TempDir dir;
};

// Scans `path` with `model` and waits for the tree.
FSNode::Ptr scanned(CorvaneModel& model, const std::string& path);

// The child of `node` called `name`, or null.
FSNode::Ptr childNamed(const FSNode::Ptr& node, const std::string& name);

// Fails the running test on any Qt warning while it lives (the item model
// tester reports through qWarning).
class FailOnQtWarnings {
public:
    FailOnQtWarnings();
    ~FailOnQtWarnings();
};

} // namespace vessora::test
