#pragma once

#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "core/Core.h"
#include "ui/window/Window.h"

#include <QMessageBox>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

class QLabel;

// Readable test failures for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '"' << texts.join(QStringLiteral("\", \"")).toStdString() << '"';
}

namespace kv::test {

// Settings of the test's choosing; remembers the programs it is asked to start.
class RecordingProxy : public FixedSettings {
public:
    struct Start {
        std::string program;
        std::vector<std::string> arguments;
        bool wait = false;
    };

    int runProgram(const char* program, const char* workingDirectory, int argumentCount,
                   const char* const* arguments, bool wait) override;
    std::vector<Start> starts() const;

private:
    mutable std::mutex startsMutex_;
    std::vector<Start> starts_;
};

// Plain coloured logos and arrows at the sizes the real ones have, and a count of refreshes.
class TestCallbacks : public kv::portal::Window::ICallbacks {
public:
    QPixmap* productPixmap(const char* productCode) override;
    QPixmap* themePixmap(const char* imageName, int width, int height) override;
    void refresh() override { ++refreshes; }

    int refreshes = 0;

private:
    std::map<std::string, QPixmap> pixmaps_;
};

// A TCP port on 127.0.0.1 that refuses every connection while this object lives.
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;

    std::string url(const std::string& path) const;

private:
    int fd_ = -1;
    int port_ = 0;
};

// A message box as the program asked it.
struct Question {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format;
};

// An agreement dialog as the program showed it.
struct AgreementShown {
    QString text;
    QSize size;
    QString agreeText;
    QString disagreeText;
};

// A real core with a private Downloads folder, whose catalogue server refuses connections
// (tests that want a catalogue point "publish_file" elsewhere), and the real main window.
class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    kv::portal::Window* showWindow();

    kv::portal::ProductPtr addProduct(kv::portal::ProductCode code, const std::string& name,
                                      const std::string& address = {},
                                      const char* version = "1.0.0b1");
    void removeProduct(const std::string& name);
    // Gives the product a release record as a sync would.
    void giveRelease(const kv::portal::ProductPtr& product, const char* version,
                     const std::string& releaseNotes = {}, const std::string& agreement = {});

    // The next message boxes are answered with these buttons, in order; every box is kept in
    // `questions`. A box beyond the answers given is answered with no button.
    void answerQuestions(std::initializer_list<QMessageBox::StandardButton> answers);
    // The next agreement dialogs are answered by pressing "I Agree" (true) or "I do not Agree";
    // every dialog is kept in `agreements`.
    void answerAgreements(std::initializer_list<bool> agree);

    // The row that shows the product of that name, in a group, a tab or the list itself.
    kv::portal::Window::Product* row(const std::string& name) const;
    kv::portal::Window::Group* group(int index) const;
    QWidget* child(const char* objectName) const;
    static QLabel* link(kv::portal::Window::Product* row, const char* objectName);
    // Waits until the list's layouts have given the row its place across the window.
    static bool laidOut(QWidget* row);

    // The texts the widget paints itself, in painting order.
    static QStringList paintedTexts(QWidget* widget);
    // The href of the label's first anchor.
    static QString href(const QLabel* label);
    // A left click on the end of a right-aligned link, as the user would click it.
    static void clickLink(QLabel* label);

    CoreTestEnvironment environment;
    RefusedPort refused;
    std::unique_ptr<kv::portal::Core> core;
    RecordingProxy* proxy = nullptr;
    TestCallbacks callbacks;
    kv::portal::Window* window = nullptr;
    std::vector<Question> questions;
    std::vector<AgreementShown> agreements;

private:
    std::deque<QMessageBox::StandardButton> answers_;
    std::deque<bool> agreementAnswers_;
};

} // namespace kv::test
