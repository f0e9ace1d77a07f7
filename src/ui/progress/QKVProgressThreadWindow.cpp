#include "ui/progress/QKVProgressThreadWindow.h"

#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>

#include <utility>

namespace kv::portal::QKVProgressThreadWindow {

Instance::Instance(QWidget* parent, QSize size, Task task)
    : QDialog(parent, Qt::FramelessWindowHint), title_(new QLabel(this)),
      message_(new QLabel(this)), progress_(new QProgressBar(this)), task_(std::move(task)) {
    // The corners outside the rounded panel stay see-through.
    setAttribute(Qt::WA_TranslucentBackground);
    const int width = scaled(size.width());
    const int height = scaled(size.height());
    const int margin = scaled(14);
    resize(width, height);

    QFont titleFont = title_->font();
    titleFont.setPixelSize(scaled(16));
    title_->setFont(titleFont);
    title_->setObjectName(QStringLiteral("title"));
    title_->setAlignment(Qt::AlignCenter);
    title_->setGeometry(margin, margin, width - 2 * margin, static_cast<int>(height * 0.2));

    message_->setObjectName(QStringLiteral("message"));
    message_->setAlignment(Qt::AlignCenter);
    message_->setGeometry(margin, margin, width - 2 * margin, height - 2 * margin);

    const int barHeight = scaled(16);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 0);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setGeometry(margin, height - margin - barHeight, width - 2 * margin, barHeight);

    connect(this, &Instance::signalTitle, this, &Instance::slotTitle);
    connect(this, &Instance::signalMessage, this, &Instance::slotMessage);
    connect(this, &Instance::signalProgressValue, this, &Instance::slotProgressValue);
}

void Instance::setTitle(const QString& text) {
    emit signalTitle(text);
}

void Instance::setMessage(const QString& text) {
    emit signalMessage(text);
}

void Instance::setProgressValue(int value) {
    emit signalProgressValue(value);
}

int Instance::runTask() {
    const int value = task_(this);
    result_.store(value);
    taskEnded_.store(true);
    return value;
}

void Instance::setRange(int minimum, int maximum) {
    progress_->setRange(minimum, maximum);
    progress_->setValue(minimum);
}

void Instance::reject() {
    if (taskEnded_.load()) {
        QDialog::reject();
    }
}

void Instance::slotTitle(const QString& text) {
    title_->setText(text);
}

void Instance::slotMessage(const QString& text) {
    message_->setText(text);
}

void Instance::slotProgressValue(int value) {
    progress_->setValue(value);
}

void Instance::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QKVTheme::instance()->isDark() ? QColor(43, 43, 43) : QColor(255, 255, 255));
    const int inset = scaled(4);
    painter.drawRoundedRect(inset, inset, width() - 2 * inset, height() - 2 * inset, scaled(6),
                            scaled(6));
}

void WorkerThread::run() {
    window_->runTask();
    emit finished();
}

int runWithProgress(QWidget* parent, QSize size, const QString& title, const QString& message,
                    int minimum, int maximum, Task task) {
    auto* instance = new Instance(parent, size, std::move(task));
    instance->slotTitle(title);
    instance->slotMessage(message);
    instance->setRange(minimum, maximum);

    auto* worker = new WorkerThread(instance);
    QObject::connect(worker, &WorkerThread::finished, instance, &Instance::close);
    // The thread object goes once its thread has really ended; the window's own signal above
    // comes while the thread is still running.
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);

    instance->exec();
    const int result = instance->taskResult();
    if (!parent) {
        instance->deleteLater();
    }
    return result;
}

} // namespace kv::portal::QKVProgressThreadWindow
