#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

namespace kv::test {

// A program started by a test and read line by line. When the object goes, the program's input
// closes and it may end by itself before it is killed.
class ChildProgram {
public:
    static constexpr int kDeadlineMs = 20000;

    ChildProgram(
        const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
    }
    ~ChildProgram() {
        closeInput();
        if (exitCode() == -1) {
            kill();
        }
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Whether the program has written the line before it ended or the deadline.
    bool waitFor(const QString& line) {
        QDeadlineTimer deadline(kDeadlineMs);
        while (said(line) == 0) {
            if (!process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                return said(line) > 0;
            }
        }
        return true;
    }

    int said(const QString& line) { return lines().count(line); }

    QStringList lines() {
        while (process_.canReadLine()) {
            lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        }
        return lines_;
    }

    // The exit code of a normal end, -1 when the program did not end so before the deadline.
    int exitCode() {
        process_.waitForFinished(kDeadlineMs);
        return process_.state() == QProcess::NotRunning &&
                       process_.exitStatus() == QProcess::NormalExit
                   ? process_.exitCode()
                   : -1;
    }

    void closeInput() { process_.closeWriteChannel(); }
    void kill() {
        process_.kill();
        process_.waitForFinished(kDeadlineMs);
    }

private:
    QProcess process_;
    QStringList lines_;
};

} // namespace kv::test
