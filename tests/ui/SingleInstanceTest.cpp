// The single-instance mechanism between real processes: each probe is the program's start-up
// reduced to its single-instance steps (tests/ui/ipc). The probes' runtime and temporary folder
// are the test's own, so they never meet a KVPortal that runs on the machine.

#include "ChildProgram.h"
#include "TempDir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Probe : public kv::test::ChildProgram {
public:
    explicit Probe(const kv::test::TempDir& folder)
        : ChildProgram(QStringLiteral(KV_INSTANCE_PROBE), {}, environment(folder)) {}

    // Waits until the probe either runs as the instance or has ended; true when it runs.
    bool runs() {
        if (waitFor("running")) {
            return true;
        }
        EXPECT_NE(-1, exitCode()) << "neither runs nor ended";
        return false;
    }

private:
    static QProcessEnvironment environment(const kv::test::TempDir& folder) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(folder.path()));
        environment.insert("TMPDIR", QString::fromStdString(folder.path()));
        return environment;
    }
};

TEST(SingleInstance, OfTwoStartsOneRunsAndIsRaisedByTheOtherAndTheNextRunsOnceItHasGone) {
    kv::test::TempDir folder;
    // Even rounds kill the instance: the next round starts over the block it left.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        auto a = std::make_unique<Probe>(folder);
        auto b = std::make_unique<Probe>(folder);
        const bool aRuns = a->runs();
        ASSERT_NE(aRuns, b->runs());
        Probe& running = aRuns ? *a : *b;
        Probe& ended = aRuns ? *b : *a;
        EXPECT_EQ(0, ended.exitCode());
        EXPECT_EQ(1, ended.said("exiting"));
        EXPECT_TRUE(running.waitFor("raised"));
        if (round % 2 == 0) {
            running.kill();
        } else {
            running.closeInput();
            EXPECT_EQ(0, running.exitCode());
        }
        EXPECT_EQ(QStringList{"running"} << "raised", running.lines());
    }
    Probe last(folder);
    EXPECT_TRUE(last.runs());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
