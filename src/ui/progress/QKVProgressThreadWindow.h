#pragma once

#include <QDialog>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

class QLabel;
class QProgressBar;

// Runs one blocking task on a worker thread behind a small modal, frameless window with a
// title, a message and a progress bar, and returns the task's result.
namespace kv::portal::QKVProgressThreadWindow {

// What the task may change in its window, from the worker thread.
class IWindow {
public:
    virtual void setTitle(const QString& text) = 0;
    virtual void setMessage(const QString& text) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual int runTask() = 0;

protected:
    ~IWindow() = default;
};

using Task = std::function<int(IWindow*)>;

// Sizes are logical pixels; the window scales them with the interface. Minimum and maximum of
// 0 show a busy indicator. Without a parent the window deletes itself afterwards; with one it
// stays owned by the parent.
int runWithProgress(QWidget* parent, QSize size, const QString& title, const QString& message,
                    int minimum, int maximum, Task task);

class Instance : public QDialog, public IWindow {
    Q_OBJECT

public:
    Instance(QWidget* parent, QSize size, Task task);

    void setTitle(const QString& text) override;
    void setMessage(const QString& text) override;
    void setProgressValue(int value) override;
    // Runs the task and keeps its result; only then may the window close.
    int runTask() override;

    void setRange(int minimum, int maximum);
    int taskResult() const { return result_.load(); }

    // Escape and close requests end the modal run only once the task is over: the worker is
    // still running the task this window holds.
    void reject() override;

signals:
    void signalTitle(const QString& text);
    void signalMessage(const QString& text);
    void signalProgressValue(int value);

public slots:
    void slotTitle(const QString& text);
    void slotMessage(const QString& text);
    void slotProgressValue(int value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::atomic<int> result_{0};
    std::atomic<bool> taskEnded_{false};
    QLabel* title_;
    QLabel* message_;
    QProgressBar* progress_;
    const Task task_;
};

class WorkerThread : public QThread {
    Q_OBJECT

public:
    explicit WorkerThread(IWindow* window) : window_(window) {}

signals:
    // Emitted by the worker once the task has ended and its result is kept.
    void finished();

protected:
    void run() override;

private:
    IWindow* const window_;
};

} // namespace kv::portal::QKVProgressThreadWindow
