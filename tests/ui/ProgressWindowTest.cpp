// The progress window through a real modal run on the offscreen platform: the task runs on the
// worker thread and is held at will; the checks run inside the modal loop.

#include "TempDir.h"
#include "ui/UiScale.h"
#include "ui/progress/QKVProgressThreadWindow.h"

#include <QApplication>
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

// Runs `check` inside the modal loop once the window shows.
void whileShown(std::function<void(progress::Instance*)> check) {
    QTimer::singleShot(0, [check] {
        QPointer<progress::Instance> window;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            window = qobject_cast<progress::Instance*>(QApplication::activeModalWidget());
            return window && window->isVisible();
        }));
        check(window);
    });
}

QString text(progress::Instance* window, const char* label) {
    return window->findChild<QLabel*>(label)->text();
}

TEST(ProgressWindow, StaysBusyAndOpenUntilItsTaskEndsWhateverTheUserPressesThenGoes) {
    std::promise<void> release;
    QString shown;
    bool stillShown = false;
    bool taskEnded = false;
    QPointer<progress::Instance> orphan;
    whileShown([&](progress::Instance* window) {
        orphan = window;
        auto* bar = window->findChild<QProgressBar*>("progress");
        shown = text(window, "title") + "|" + text(window, "message") + "|" +
                QString::number(bar->minimum()) + "|" + QString::number(bar->maximum());
        QTest::keyClick(window, Qt::Key_Escape);
        window->close();
        QApplication::processEvents();
        stillShown = window->isVisible();
        release.set_value();
    });
    EXPECT_EQ(5, progress::runWithProgress(nullptr, QSize(280, 140), "Please Wait...",
                                           "Querying Server", 0, 0, [&](progress::IWindow*) {
                                               release.get_future().wait();
                                               taskEnded = true;
                                               return 5;
                                           }));
    EXPECT_EQ(shown, "Please Wait...|Querying Server|0|0");
    EXPECT_TRUE(stillShown);
    EXPECT_TRUE(taskEnded) << "the run ended before its task";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // Without a parent it goes once the run is over, later rather than at once.
    ASSERT_FALSE(orphan.isNull());
    EXPECT_TRUE(QTest::qWaitFor([&] { return orphan.isNull(); }));
}

TEST(ProgressWindow, DeliversTheTasksUpdatesInOrderOnTheInterfaceThreadAndStaysWithItsParent) {
    std::promise<void> connected;
    std::vector<int> values;
    std::vector<QString> messages;
    bool allOnInterfaceThread = true;
    QPointer<progress::Instance> owned;
    whileShown([&](progress::Instance* window) {
        owned = window;
        QObject::connect(window->findChild<QProgressBar*>("progress"), &QProgressBar::valueChanged,
                         [&](int value) {
                             allOnInterfaceThread &= QThread::currentThread() == qApp->thread();
                             values.push_back(value);
                         });
        // Runs after the window's own slot has shown the text.
        QObject::connect(window, &progress::Instance::signalMessage, window,
                         [&messages, window] { messages.push_back(text(window, "message")); });
        connected.set_value();
    });
    QWidget parent;
    const int result = progress::runWithProgress(
        &parent, QSize(280, 140), "Downloading", "", 0, 100, [&](progress::IWindow* window) {
            connected.get_future().wait();
            window->setTitle("Almost there");
            for (int value = 1; value <= 100; ++value) {
                window->setProgressValue(value);
                if (value % 50 == 0) {
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages, (std::vector<QString>{"50 %", "100 %"}));
    ASSERT_FALSE(owned.isNull());
    EXPECT_EQ(text(owned, "title"), "Almost there");
    EXPECT_EQ(owned->parent(), &parent);
    EXPECT_FALSE(owned->isVisible());
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
    EXPECT_EQ(bar, QRect(21, 165, 378, 24));
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
