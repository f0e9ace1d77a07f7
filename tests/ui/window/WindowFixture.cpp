#include "WindowFixture.h"

#include "RecordingListener.h"
#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"
#include "ui/window/DialogRunner.h"
#include "ui/window/Group.h"
#include "ui/window/ProductRow.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextEdit>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

using kv::portal::Window;

namespace kv::test {

int RecordingProxy::runProgram(const char* program, const char*, int argumentCount,
                               const char* const* arguments, bool wait) {
    Start start;
    start.program = program;
    for (int i = 0; i < argumentCount; ++i) {
        start.arguments.emplace_back(arguments[i] != nullptr ? arguments[i] : "");
    }
    start.wait = wait;
    std::lock_guard<std::mutex> lock(startsMutex_);
    starts_.push_back(start);
    return 0;
}

std::vector<RecordingProxy::Start> RecordingProxy::starts() const {
    std::lock_guard<std::mutex> lock(startsMutex_);
    return starts_;
}

QPixmap* TestCallbacks::productPixmap(const char* productCode) {
    const std::string code = productCode;
    auto found = pixmaps_.find(code);
    if (found == pixmaps_.end()) {
        const int side = kv::portal::scaled(96);
        // Mode logos are wide; the icon keeps their proportions inside the square.
        const bool modeLogo = code.rfind("LOGO-", 0) == 0;
        QPixmap pixmap(side, modeLogo ? side * 2160 / 5880 : side);
        pixmap.fill(modeLogo ? QColor(42, 130, 218) : QColor(200, 60, 60));
        found = pixmaps_.emplace(code, pixmap).first;
    }
    return &found->second;
}

QPixmap* TestCallbacks::themePixmap(const char* imageName, int width, int height) {
    auto found = pixmaps_.find(imageName);
    if (found == pixmaps_.end()) {
        QPixmap pixmap(kv::portal::scaled(width), kv::portal::scaled(height));
        pixmap.fill(Qt::darkGray);
        found = pixmaps_.emplace(imageName, pixmap).first;
    }
    return &found->second;
}

RefusedPort::RefusedPort() {
    // Bound but never listening: the kernel refuses connections at once.
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    port_ = ntohs(address.sin_port);
}

RefusedPort::~RefusedPort() {
    ::close(fd_);
}

std::string RefusedPort::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

WindowTest::WindowTest() : core(std::make_unique<kv::portal::Core>()) {
    auto settings = std::make_unique<RecordingProxy>();
    proxy = settings.get();
    proxy->set("publish_file", refused.url("/dozoPublishConf.json"));
    core->setProxy(std::move(settings));

    kv::portal::QKVTheme::instance()->setMessageBoxAnswerer([this](QMessageBox& box) {
        questions.push_back(
            {box.windowTitle(), box.text(), box.icon(), box.standardButtons(), box.textFormat()});
        if (answers_.empty()) {
            return QMessageBox::NoButton;
        }
        const QMessageBox::StandardButton answer = answers_.front();
        answers_.pop_front();
        return answer;
    });
    kv::portal::setDialogAnswerer([this](QDialog& dialog) {
        auto* text = dialog.findChild<QTextEdit*>(QStringLiteral("agreementText"));
        auto* agree = dialog.findChild<QPushButton*>(QStringLiteral("agreeButton"));
        auto* disagree = dialog.findChild<QPushButton*>(QStringLiteral("disagreeButton"));
        if (text == nullptr || agree == nullptr || disagree == nullptr) {
            ADD_FAILURE() << "not an agreement dialog";
            return static_cast<int>(QDialog::Rejected);
        }
        agreements.push_back({text->toPlainText(), dialog.size(), agree->text(), disagree->text()});
        const bool accept = !agreementAnswers_.empty() && agreementAnswers_.front();
        if (!agreementAnswers_.empty()) {
            agreementAnswers_.pop_front();
        }
        (accept ? agree : disagree)->click();
        return dialog.result();
    });
}

void WindowTest::answerQuestions(std::initializer_list<QMessageBox::StandardButton> answers) {
    answers_.insert(answers_.end(), answers);
}

void WindowTest::answerAgreements(std::initializer_list<bool> agree) {
    agreementAnswers_.insert(agreementAnswers_.end(), agree);
}

WindowTest::~WindowTest() {
    kv::portal::setDialogAnswerer({});
    kv::portal::QKVTheme::instance()->setMessageBoxAnswerer({});
    delete Window::instance();
    core.reset();
    kv::portal::setUiScale(1.0f);
}

Window* WindowTest::showWindow() {
    window = Window::showMainWindow(nullptr, core.get(), &callbacks);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    return window;
}

void WindowTest::removeProduct(const std::string& name) {
    core->removeProduct(name);
    QCoreApplication::processEvents();
}

kv::portal::ProductPtr WindowTest::addProduct(kv::portal::ProductCode code, const std::string& name,
                                              const std::string& address, const char* version) {
    kv::portal::Version installed;
    installed.parseVersion(version);
    RecordingListener probes;
    core->addListener(&probes);
    EXPECT_TRUE(core->addProduct(code, name, address, installed));
    // A device's serial and twin come with its probe's answer.
    if (!address.empty()) {
        EXPECT_TRUE(probes.waitFor("probed " + name));
    }
    core->removeListener(&probes);
    // Rows are made from queued signals.
    QCoreApplication::processEvents();
    return core->findProduct(name);
}

void WindowTest::giveRelease(const kv::portal::ProductPtr& product, const char* version,
                             const std::string& releaseNotes, const std::string& agreement) {
    auto release = std::make_shared<kv::portal::Product::Cloud>();
    release->version.parseVersion(version);
    release->fileName = std::string(product->code) + "-" + version + ".bin";
    release->link = refused.url("/" + release->fileName);
    release->releaseNotesLink = releaseNotes;
    release->agreementLink = agreement;
    product->cloud.set(release);
}

Window::Product* WindowTest::row(const std::string& name) const {
    if (window == nullptr) {
        return nullptr;
    }
    for (Window::Product* candidate : window->findChildren<Window::Product*>()) {
        const kv::portal::ProductPtr product = candidate->product(0);
        if (product && product->name == name) {
            return candidate;
        }
    }
    return nullptr;
}

Window::Group* WindowTest::group(int index) const {
    for (Window::Group* candidate : window->central()->groups()) {
        if (candidate->index() == index) {
            return candidate;
        }
    }
    return nullptr;
}

QWidget* WindowTest::child(const char* objectName) const {
    return window->findChild<QWidget*>(QLatin1String(objectName));
}

QLabel* WindowTest::link(Window::Product* productRow, const char* objectName) {
    return productRow->findChild<QLabel*>(QLatin1String(objectName), Qt::FindDirectChildrenOnly);
}

bool WindowTest::laidOut(QWidget* row) {
    return QTest::qWaitFor([row] {
        QWidget* parent = row->parentWidget();
        return parent->width() > kv::portal::scaled(500) && parent->layout() != nullptr &&
               row->geometry() == QRect(parent->layout()->contentsRect().topLeft().x(), row->y(),
                                        parent->layout()->contentsRect().width(), row->height());
    });
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
        switch (metric) {
        case PdmWidth:
            return size_.width();
        case PdmHeight:
            return size_.height();
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return 96;
        }
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

QString WindowTest::href(const QLabel* label) {
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("<a href=\"([^\"]*)\"")).match(label->text());
    return match.hasMatch() ? match.captured(1) : QString();
}

void WindowTest::clickLink(QLabel* label) {
    QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier,
                      QPoint(label->width() - 3, label->height() / 2));
}

} // namespace kv::test
