// The single-instance mechanism between real processes: each probe is the program's start-up
// reduced to its single-instance steps (tests/ui/ipc). Every test gives its probes a private
// runtime and temporary folder, which hold the block, so tests never meet each other or a
// KVPortal that runs on the machine.

#include "ChildProgram.h"
#include "TempDir.h"
#include "Unavailable.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

// Where a user's probes run: their runtime folder and the temporary folder.
struct Session {
    std::string runtime;
    std::string temporary;
    // The user id to run as; -1 for this process's own.
    int user = -1;
};

QProcessEnvironment environmentOf(const Session& session) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(session.runtime));
    environment.insert(QStringLiteral("TMPDIR"), QString::fromStdString(session.temporary));
    return environment;
}

QStringList asUser(const Session& session, const QStringList& arguments) {
    if (session.user < 0) {
        return arguments;
    }
    const QString id = QString::number(session.user);
    return QStringList{QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                       QStringLiteral("--clear-groups"), QStringLiteral(KV_INSTANCE_PROBE)} +
           arguments;
}

class Probe : public kv::test::ChildProgram {
public:
    explicit Probe(const kv::test::TempDir& folder, const QStringList& arguments = {})
        : Probe(Session{folder.path(), folder.path()}, arguments) {}

    explicit Probe(const Session& session, const QStringList& arguments = {})
        : ChildProgram(session.user < 0 ? QStringLiteral(KV_INSTANCE_PROBE)
                                        : QStringLiteral("setpriv"),
                       asUser(session, arguments), environmentOf(session)) {}

    // Waits until the probe either runs as the instance or has ended; true when it runs.
    bool runs() {
        if (waitFor("running")) {
            return true;
        }
        EXPECT_NE(-1, exitCode()) << "neither runs nor ended";
        return false;
    }

    void proceed() { write("go\n"); }
    void quit() { closeInput(); }
};

TEST(SingleInstance, SecondStartRaisesTheFirstAndTheNextRunsOnceItHasEndedOrBeenKilled) {
    kv::test::TempDir folder;
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "ended");
        Probe first(folder);
        ASSERT_TRUE(first.runs());
        Probe second(folder);
        EXPECT_EQ(0, second.exitCode());
        EXPECT_EQ(1, second.said("exiting"));
        EXPECT_EQ(0, second.said("running"));
        EXPECT_TRUE(first.waitFor("raised"));
        if (killed) {
            first.kill();
        } else {
            first.quit();
            EXPECT_EQ(0, first.exitCode());
        }
    }
    Probe next(folder);
    EXPECT_TRUE(next.runs());
}

TEST(SingleInstance, TwoStartsWithinOnePollRaiseTheRunningInstanceOnce) {
    kv::test::TempDir folder;
    Probe first(folder);
    ASSERT_TRUE(first.waitFor("running"));
    Probe held1(folder, {QStringLiteral("--hold")});
    Probe held2(folder, {QStringLiteral("--hold")});
    ASSERT_TRUE(held1.waitFor("counted"));
    ASSERT_TRUE(held2.waitFor("counted"));

    // A raise shows when the running instance has just polled; the two held starts then leave
    // their requests together, well before its next poll.
    Probe timing(folder);
    EXPECT_EQ(0, timing.exitCode());
    ASSERT_TRUE(first.waitFor("raised"));
    held1.proceed();
    held2.proceed();
    EXPECT_EQ(0, held1.exitCode());
    EXPECT_EQ(0, held2.exitCode());
    EXPECT_EQ(1, held1.said("exiting"));
    EXPECT_EQ(1, held2.said("exiting"));

    EXPECT_TRUE(first.waitFor("raised", 2));
    // Two more polls pass without another raise.
    EXPECT_FALSE(first.waitFor("raised", 3, 2500));
}

TEST(SingleInstance, SimultaneousStartsLeaveExactlyOneRunning) {
    kv::test::TempDir folder;
    // Odd rounds start over the block of a killed instance.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        auto a = std::make_unique<Probe>(folder);
        auto b = std::make_unique<Probe>(folder);
        const bool aRuns = a->runs();
        const bool bRuns = b->runs();
        ASSERT_NE(aRuns, bRuns);
        Probe& running = aRuns ? *a : *b;
        Probe& ended = aRuns ? *b : *a;
        EXPECT_EQ(0, ended.exitCode());
        EXPECT_EQ(1, ended.said("exiting"));
        if (round % 2 == 0) {
            running.kill();
        } else {
            running.quit();
            EXPECT_EQ(0, running.exitCode());
        }
    }
    Probe last(folder);
    EXPECT_TRUE(last.runs());
}

// Another user of the machine, with a runtime folder of its own, shares the temporary folder.
TEST(SingleInstance, EachUserHasAnInstanceOfItsOwn) {
    if (::geteuid() != 0) {
        return kv::test::unavailable("needs root to start a probe as another user");
    }
    constexpr int kNobody = 65534;
    kv::test::TempDir shared;
    kv::test::TempDir runtime;
    const std::string otherRuntime = shared.file("nobody");
    std::filesystem::create_directory(otherRuntime);
    ASSERT_EQ(0, ::chown(otherRuntime.c_str(), kNobody, kNobody));
    std::filesystem::permissions(shared.path(),
                                 std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    const Session mine{runtime.path(), shared.path()};
    const Session other{otherRuntime, shared.path(), kNobody};

    // A block that someone else left in the runtime folder, counting an instance, is not used.
    const std::string block = runtime.file("SM_KVPortal");
    kv::test::writeFile(block, std::string("\1\0\0\0\1\0\0\0", 8));
    ASSERT_EQ(0, ::chown(block.c_str(), kNobody, kNobody));

    Probe otherFirst(other);
    ASSERT_TRUE(otherFirst.waitFor("running"));
    Probe first(mine);
    ASSERT_TRUE(first.runs());
    struct stat status {};
    ASSERT_EQ(0, ::stat(block.c_str(), &status));
    EXPECT_EQ(::geteuid(), status.st_uid);
    EXPECT_EQ(0600u, status.st_mode & 0777);

    Probe otherSecond(other);
    EXPECT_EQ(0, otherSecond.exitCode());
    EXPECT_TRUE(otherFirst.waitFor("raised"));
    Probe second(mine);
    EXPECT_EQ(0, second.exitCode());
    EXPECT_TRUE(first.waitFor("raised"));
    EXPECT_EQ(1, otherFirst.said("raised"));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
