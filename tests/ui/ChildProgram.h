#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
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
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            if (!process_.waitForFinished(kDeadlineMs)) {
                process_.kill();
                process_.waitForFinished();
            }
        }
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Whether the program has written the line `count` times before it ended or the deadline.
    bool waitFor(const QString& line, int count = 1, int deadlineMs = kDeadlineMs) {
        QDeadlineTimer deadline(deadlineMs);
        while (said(line) < count) {
            if (!process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                return said(line) >= count;
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
        if (!process_.waitForFinished(kDeadlineMs) && process_.state() != QProcess::NotRunning) {
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    int pid() const { return static_cast<int>(process_.processId()); }
    void write(const char* text) { process_.write(text); }
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
