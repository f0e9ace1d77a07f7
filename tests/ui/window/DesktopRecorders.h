#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <vector>

namespace kv::test {

// Stands in for the desktop's web browser: receives the addresses of one scheme that the
// program asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    explicit UrlRecorder(const QString& scheme);
    ~UrlRecorder() override;

    std::vector<QUrl> urls;

public slots:
    void open(const QUrl& url);

private:
    const QString scheme_;
};

// A file manager on the test's session bus that remembers what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    struct Call {
        QString method;
        QStringList uris;
    };

    FakeFileManager();
    ~FakeFileManager() override;

    std::vector<Call> calls;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId);
    void ShowFolders(const QStringList& uris, const QString& startupId);
};

} // namespace kv::test
