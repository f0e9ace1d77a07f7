#include "WindowFixture.h"

#include "ui/theme/QKVTheme.h"
#include "ui/window/DialogRunner.h"

#include <QApplication>
#include <QDialog>
#include <QPaintEngine>
#include <QPushButton>
#include <QTextEdit>

#include <unistd.h>

#include <cstdlib>

namespace kv::test {

WindowTest::WindowTest() : core(std::make_unique<Core>()) {
    auto settings = std::make_unique<RecordingProxy>();
    proxy = settings.get();
    proxy->set("publish_file", std::string(kRefused) + "/dozoPublishConf.json");
    core->setProxy(std::move(settings));
    QKVTheme::instance()->setMessageBoxAnswerer([this](QMessageBox& box) {
        questions << box.windowTitle() + ": " + box.text();
        const auto answer = answers.empty() ? QMessageBox::NoButton : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        return answer;
    });
    setDialogAnswerer([this](QDialog& dialog) {
        agreements << QStringLiteral("%1 (%2x%3)")
                          .arg(dialog.findChild<QTextEdit*>("agreementText")->toPlainText())
                          .arg(dialog.width())
                          .arg(dialog.height());
        const bool yes = !agree.empty() && agree.front();
        if (!agree.empty()) {
            agree.pop_front();
        }
        dialog.findChild<QPushButton*>(yes ? "agreeButton" : "disagreeButton")->click();
        return dialog.result();
    });
}

WindowTest::~WindowTest() {
    setDialogAnswerer({});
    QKVTheme::instance()->setMessageBoxAnswerer({});
    delete Window::instance();
    core.reset();
    setUiScale(1.0f);
}

namespace {

// A paint device that keeps the texts drawn on it and nothing else.
class TextRecorder : public QPaintDevice, public QPaintEngine {
public:
    explicit TextRecorder(QSize size) : size_(size) {}
    QPaintEngine* paintEngine() const override { return const_cast<TextRecorder*>(this); }
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF&, const QTextItem& item) override { texts << item.text(); }
    Type type() const override { return User; }
    QStringList texts;

protected:
    int metric(PaintDeviceMetric metric) const override {
        return metric == PdmWidth                    ? size_.width()
               : metric == PdmHeight                 ? size_.height()
               : metric == PdmDepth                  ? 32
               : metric == PdmDevicePixelRatio       ? 1
               : metric == PdmDevicePixelRatioScaled ? static_cast<int>(devicePixelRatioFScale())
                                                     : 96;
    }

private:
    QSize size_;
};

} // namespace

QStringList WindowTest::paintedTexts(QWidget* widget) {
    TextRecorder recorder(widget->size());
    widget->render(&recorder, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return recorder.texts;
}

} // namespace kv::test

// One application object for all the window's tests, in a temporary folder of the program's own
// (which also keeps its single-instance block apart) and on a session bus of its own.
int main(int argc, char** argv) {
    if (std::getenv("KV_OWN_SESSION_BUS") == nullptr) {
        ::setenv("KV_OWN_SESSION_BUS", "1", 1);
        std::vector<char*> command{const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
        command.insert(command.end(), argv, argv + argc + 1);
        ::execvp(command[0], command.data());
        return 127;
    }
    // Static: it outlives the single-instance block, which is removed at exit.
    static kv::test::TempDir temporary;
    ::setenv("TMPDIR", temporary.path().c_str(), 1);
    ::setenv("KVPORTAL_COLOR_SCHEME", "light", 0);
    QApplication app(argc, argv);
    kv::portal::QKVTheme::instance()->initialize(&app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
