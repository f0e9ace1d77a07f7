#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"
#include "ui/window/DisplayName.h"
#include "ui/window/FirmwareOnDevice.h"
#include "ui/window/ProductRow.h"
#include "ui/window/RoundedPath.h"

#include <QPainter>
#include <QPixmap>
#include <QProgressBar>

namespace kv::portal {

namespace {

constexpr int kInset = 7;
constexpr int kRadius = 6;
constexpr int kNamePixelSize = 18;
constexpr int kPointSize = 9;
constexpr int kWarningPointSize = 12;
constexpr int kLineHeight = 16;
constexpr int kLabelX = 117;
constexpr int kValueX = 227;
constexpr int kFirstLineY = 35;
constexpr int kModeLogoRight = 3;
constexpr int kRunningWidth = 86;
constexpr int kRunningRight = 93;
constexpr int kDotX = 118;
constexpr int kDotSize = 14;
constexpr int kDotTextX = 137;
constexpr int kNoteRight = 144;
constexpr int kNoteHeight = 100;

const QColor kOrange(255, 127, 39);
const QColor kRunning(0, 125, 0);

// One flag for every row: only one firmware update runs at a time.
bool blinkOn = false;

QFont pointFont(int pointSize) {
    QFont font;
    font.setPointSize(pointSize);
    return font;
}

} // namespace

void Window::Product::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QKVTheme* theme = QKVTheme::instance();
    const bool dark = theme->isDark();
    const ProductPtr product = product_;
    const int inset = scaled(kInset);

    painter.fillPath(roundedPath(rect(), scaled(kRadius), roundTop_, true),
                     dark ? QColor(43, 43, 43) : QColor(255, 255, 255));

    ICallbacks* callbacks = central()->callbacks();
    QRect logo(inset, inset, 0, 0);
    if (callbacks != nullptr) {
        if (const QPixmap* pixmap = callbacks->productPixmap(product->code)) {
            painter.drawPixmap(logo.topLeft(), *pixmap);
            logo.setSize(pixmap->size());
        }
    }

    QFont nameFont;
    nameFont.setPixelSize(scaled(kNamePixelSize));
    painter.setFont(nameFont);
    painter.setPen(theme->systemColor(QKVTheme::Foreground));
    painter.drawText(QRect(inset, inset, width() - 2 * inset, height()),
                     Qt::AlignHCenter | Qt::AlignTop, displayName(*product));

    const QColor grey = dark ? QColor(150, 150, 150) : QColor(100, 100, 100);
    if (product->isFirmware() && callbacks != nullptr) {
        const char* modeLogo = product->isDante()
                                   ? (dark ? "LOGO-DANTE-DARK" : "LOGO-DANTE-LIGHT")
                                   : (dark ? "LOGO-RAVENNA-DARK" : "LOGO-RAVENNA-LIGHT");
        if (const QPixmap* pixmap = callbacks->productPixmap(modeLogo)) {
            painter.drawPixmap(width() - scaled(kModeLogoRight) - pixmap->width(), 0, *pixmap);
            painter.setFont(pointFont(kPointSize));
            painter.setPen(product->running ? kRunning : grey);
            painter.drawText(QRect(width() - scaled(kRunningRight), pixmap->height() - inset,
                                   scaled(kRunningWidth), height()),
                             Qt::AlignHCenter | Qt::AlignTop,
                             product->running ? QStringLiteral("(Running)")
                                              : QStringLiteral("(Not Running)"));
        }
    }

    const int labelX = scaled(kLabelX);
    const int lineHeight = scaled(kLineHeight);
    const int firstLine = scaled(kFirstLineY);
    const auto drawLine = [&painter, this](int x, int y, const QString& text) {
        painter.drawText(QRect(x, y, width() - x, height() - y), Qt::AlignLeft | Qt::AlignTop,
                         text);
    };
    painter.setFont(pointFont(kPointSize));
    painter.setPen(grey);
    const uint32_t status = product->status;
    if (!firmwareRunsOnDevice(status)) {
        const auto release = product->cloud.get();
        drawLine(labelX, firstLine, QStringLiteral("Installed version:"));
        drawLine(scaled(kValueX), firstLine,
                 product->running ? QString::fromStdString(versionText(product->version.get()))
                                  : QStringLiteral("None"));
        drawLine(labelX, firstLine + lineHeight, QStringLiteral("Released version:"));
        drawLine(scaled(kValueX), firstLine + lineHeight,
                 release ? QString::fromStdString(versionText(release->version))
                         : QStringLiteral("N/A"));
    } else {
        blinkOn = !blinkOn;
        if (blinkOn) {
            painter.setPen(Qt::red);
        }
        painter.setFont(pointFont(kWarningPointSize));
        drawLine(labelX, firstLine,
                 QStringLiteral("Please do not abort the firmware updating process"));
        painter.setFont(pointFont(kPointSize));
        painter.setPen(grey);
    }

    const int statusY = firstLine + 2 * lineHeight;
    const QString text = statusText();
    QRect statusRect(labelX, statusY, width() - labelX - inset, height() - statusY);
    if (text == QLatin1String("Update available")) {
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(kOrange);
        painter.drawEllipse(scaled(kDotX), statusY + scaled(1), scaled(kDotSize), scaled(kDotSize));
        painter.restore();
        statusRect.setLeft(scaled(kDotTextX));
        statusRect.setTop(statusY + scaled(2));
    }
    QFont statusFont = pointFont(kPointSize);
    if (status == ProgressUnavailable) {
        statusFont.setWeight(QFont::Bold);
    }
    painter.setFont(statusFont);
    painter.drawText(statusRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    painter.setFont(pointFont(kPointSize));

    const QString note = QString::fromStdString(product->note.get());
    if (!note.isEmpty() && progress_->isHidden()) {
        QFont noteFont = pointFont(kPointSize);
        noteFont.setItalic(true);
        painter.setFont(noteFont);
        painter.setPen(kOrange);
        painter.drawText(QRect(logo.x(), logo.y() - inset + logo.height(),
                               width() - scaled(kNoteRight), scaled(kNoteHeight)),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, note);
    }
}

} // namespace kv::portal
