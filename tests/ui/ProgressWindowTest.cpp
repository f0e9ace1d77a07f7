// The progress window through a real modal run on the offscreen platform: the task runs on the
// worker thread and is held at will; the checks run inside the modal loop.

#include "TempDir.h"
#include "ui/UiScale.h"
#include "ui/progress/QKVProgressThreadWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <vector>

namespace {

namespace progress = kv::portal::QKVProgressThreadWindow;

constexpr int kDeadlineMs = 10000;

progress::Instance* shownWindow() {
    QPointer<progress::Instance> window;
    const bool shown = QTest::qWaitFor(
        [&] {
            window = qobject_cast<progress::Instance*>(QApplication::activeModalWidget());
            return window && window->isVisible();
        },
        kDeadlineMs);
    return shown ? window.data() : nullptr;
}

// Runs `check` inside the modal loop once the window shows.
void whileShown(std::function<void(progress::Instance*)> check) {
    QTimer::singleShot(0, [check] {
        progress::Instance* window = shownWindow();
        ASSERT_NE(window, nullptr);
        check(window);
    });
}

// Counts how often a progress window was shown.
class ShowCounter : public QObject {
public:
    ShowCounter() { qApp->installEventFilter(this); }
    ~ShowCounter() override { qApp->removeEventFilter(this); }
    int shown = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<progress::Instance*>(object)) {
            ++shown;
        }
        return false;
    }
};

TEST(ProgressWindow, ShowsOnceAndReturnsTheResultOfATaskThatEndsAtOnce) {
    ShowCounter counter;
    const int result =
        progress::runWithProgress(nullptr, QSize(280, 140), "Please Wait...", "Querying Server", 0,
                                  0, [](progress::IWindow*) { return 42; });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(counter.shown, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Escape and close leave the window to its task; the indicator stays busy all along.
TEST(ProgressWindow, StaysBusyUntilItsTaskEndsWhateverTheUserPresses) {
    std::promise<void> release;
    std::vector<std::pair<int, int>> ranges;
    bool stillShown = false;
    bool taskEnded = false;
    whileShown([&](progress::Instance* window) {
        auto* bar = window->findChild<QProgressBar*>("progress");
        ranges.emplace_back(bar->minimum(), bar->maximum());
        EXPECT_EQ(window->findChild<QLabel*>("title")->text(), "Please Wait...");
        EXPECT_EQ(window->findChild<QLabel*>("message")->text(), "Querying Server");
        // Runs after the window's own slot has taken the value.
        QObject::connect(window, &progress::Instance::signalProgressValue, window,
                         [&ranges, bar] { ranges.emplace_back(bar->minimum(), bar->maximum()); });
        QTest::keyClick(window, Qt::Key_Escape);
        window->close();
        QApplication::processEvents();
        stillShown = window->isVisible();
        release.set_value();
    });
    const int result =
        progress::runWithProgress(nullptr, QSize(280, 140), "Please Wait...", "Querying Server", 0,
                                  0, [&](progress::IWindow* window) {
                                      release.get_future().wait();
                                      window->setProgressValue(7);
                                      taskEnded = true;
                                      return 5;
                                  });
    EXPECT_TRUE(stillShown);
    EXPECT_TRUE(taskEnded) << "the run ended before its task";
    EXPECT_EQ(result, 5);
    EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{0, 0}, {0, 0}}));
}

TEST(ProgressWindow, DeliversTheTasksUpdatesInOrderOnTheInterfaceThread) {
    std::promise<void> connected;
    std::vector<int> values;
    std::vector<QString> messages;
    QString title;
    bool allOnInterfaceThread = true;
    whileShown([&](progress::Instance* window) {
        auto* bar = window->findChild<QProgressBar*>("progress");
        QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
            allOnInterfaceThread &= QThread::currentThread() == qApp->thread();
            values.push_back(value);
        });
        auto* message = window->findChild<QLabel*>("message");
        // Runs after the window's own slot has shown the text.
        QObject::connect(window, &progress::Instance::signalMessage, window,
                         [&messages, message] { messages.push_back(message->text()); });
        connected.set_value();
    });
    const int result = progress::runWithProgress(
        nullptr, QSize(280, 140), "Downloading", "", 0, 100, [&](progress::IWindow* window) {
            connected.get_future().wait();
            window->setTitle("Almost there");
            for (int value = 1; value <= 100; ++value) {
                window->setProgressValue(value);
                if (value % 25 == 0) {
                    window->setMessage(QString::number(value) + " %");
                }
            }
            return 100;
        });
    EXPECT_EQ(result, 100);
    std::vector<int> expected;
    for (int value = 1; value <= 100; ++value) {
        expected.push_back(value);
    }
    EXPECT_EQ(values, expected);
    EXPECT_TRUE(allOnInterfaceThread);
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages.size() == 4; }, kDeadlineMs));
    EXPECT_EQ(messages, (std::vector<QString>{"25 %", "50 %", "75 %", "100 %"}));
}

TEST(ProgressWindow, StaysWithItsParentAndGoesWithoutOne) {
    QWidget parent;
    QPointer<progress::Instance> owned;
    whileShown([&](progress::Instance* window) { owned = window; });
    progress::runWithProgress(&parent, QSize(280, 140), "", "", 0, 0,
                              [](progress::IWindow*) { return 0; });
    ASSERT_FALSE(owned.isNull());
    EXPECT_EQ(owned->parent(), &parent);
    EXPECT_FALSE(owned->isVisible());

    QPointer<progress::Instance> orphan;
    whileShown([&](progress::Instance* window) { orphan = window; });
    progress::runWithProgress(nullptr, QSize(280, 140), "", "", 0, 0,
                              [](progress::IWindow*) { return 0; });
    ASSERT_FALSE(orphan.isNull()) << "deleted later, not at once";
    EXPECT_TRUE(QTest::qWaitFor([&] { return orphan.isNull(); }, kDeadlineMs));
}

TEST(ProgressWindow, ScalesItsLayoutWithTheInterface) {
    kv::portal::setUiScale(1.5f);
    QSize size;
    QRect title;
    QRect bar;
    int titlePixels = 0;
    whileShown([&](progress::Instance* window) {
        size = window->size();
        title = window->findChild<QLabel*>("title")->geometry();
        titlePixels = window->findChild<QLabel*>("title")->font().pixelSize();
        bar = window->findChild<QProgressBar*>("progress")->geometry();
    });
    progress::runWithProgress(nullptr, QSize(280, 140), "", "", 0, 0,
                              [](progress::IWindow*) { return 0; });
    kv::portal::setUiScale(1.0f);
    EXPECT_EQ(size, QSize(420, 210));
    EXPECT_EQ(title, QRect(21, 21, 378, 42));
    EXPECT_EQ(titlePixels, 24);
    EXPECT_EQ(bar, QRect(21, 210 - 21 - 24, 378, 24));
}

} // namespace

int main(int argc, char** argv) {
    kv::test::TempDir runtime;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    qputenv("KVPORTAL_COLOR_SCHEME", "light");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
