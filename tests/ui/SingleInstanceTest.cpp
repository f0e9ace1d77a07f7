// The single-instance mechanism between real processes: each probe is the program's start-up
// reduced to its single-instance steps (tests/ui/ipc). The probes' runtime and temporary folder
// are the test's own, so they never meet a KVPortal that runs on the machine.

#include "TempDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kDeadlineMs = 20000;

// A probe read line by line; when it goes, its input closes and it may end by itself.
class Probe {
public:
    explicit Probe(const kv::test::TempDir& folder) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(folder.path()));
        environment.insert("TMPDIR", QString::fromStdString(folder.path()));
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(KV_INSTANCE_PROBE), QStringList());
    }
    ~Probe() {
        quit();
        if (exitCode() == -1) {
            kill();
        }
    }

    // Whether the probe has written the line before it ended or the deadline.
    bool waitFor(const QString& line) {
        const QDeadlineTimer deadline(kDeadlineMs);
        while (!lines().contains(line)) {
            if (!process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                return lines().contains(line);
            }
        }
        return true;
    }

    // Waits until the probe either runs as the instance or has ended; true when it runs.
    bool runs() {
        if (waitFor("running")) {
            return true;
        }
        EXPECT_NE(-1, exitCode()) << "neither runs nor ended";
        return false;
    }

    QStringList lines() {
        while (process_.canReadLine()) {
            lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        }
        return lines_;
    }

    // The exit code of a normal end, -1 when it did not end so before the deadline.
    int exitCode() {
        process_.waitForFinished(kDeadlineMs);
        const bool ended = process_.state() == QProcess::NotRunning &&
                           process_.exitStatus() == QProcess::NormalExit;
        return ended ? process_.exitCode() : -1;
    }

    void quit() { process_.closeWriteChannel(); }
    void kill() {
        process_.kill();
        process_.waitForFinished(kDeadlineMs);
    }

private:
    QProcess process_;
    QStringList lines_;
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
        EXPECT_EQ(QStringList{"exiting"}, ended.lines());
        EXPECT_TRUE(running.waitFor("raised"));
        if (round % 2 == 0) {
            running.kill();
        } else {
            running.quit();
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
