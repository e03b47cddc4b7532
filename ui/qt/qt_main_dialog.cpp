#include "ui/qt/qt_main_dialog.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace vkt5 {

// The top-level window. It only forwards the keys and the close command to the host, which
// owns all the logic.
class QtDialogWindow final : public QDialog {
  public:
    explicit QtDialogWindow(QtMainDialog& host)
        : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint),
          host_(host) {}

  protected:
    // QDialog would turn Escape into reject(), which ends the dialog; here Escape is only the
    // cancel command, which the handler ignores. Enter goes to the host's own default button
    // rather than to QDialog's search over its child buttons, so it can never reach a button
    // that has been removed.
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Cancel)) {
            event->accept();
            host_.onEscapeKey();
            return;
        }
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            event->accept();
            host_.onEnterKey();
            return;
        }
        event->ignore();
    }

    // The close button, the window menu's Close and Alt+F4 all arrive here; reject() stays as
    // QDialog has it, since a close that started elsewhere also passes through it.
    void closeEvent(QCloseEvent* event) override {
        host_.onCloseRequest();
        event->accept();
    }

    void paintEvent(QPaintEvent* event) override {
        if (!painted_) {
            painted_ = true;
            QTimer::singleShot(0, this, [this] { host_.onFirstShown(); });
        }
        QDialog::paintEvent(event);
    }

  private:
    QtMainDialog& host_;
    bool painted_ = false;
};

namespace {

constexpr char16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QColor colorOf(ColorRef c) {
    return QColor(redOf(c), greenOf(c), blueOf(c));
}

// A static text as the platform's edit-control style of label draws it: left and top aligned,
// wrapped at word boundaries within the control's width (a word longer than the line is broken
// anywhere), and a following line that would be only partly visible is not drawn at all. The
// first line is always drawn, clipped if the control is shorter than the font, so a label whose
// font is a little taller than its rectangle still shows its text. The background is left to
// the dialog, so labels that share a rectangle do not hide each other.
class DialogLabel final : public QLabel {
  public:
    explicit DialogLabel(QWidget* parent) : QLabel(parent) {
        // The unit's version text reaches a label; it must never be read as markup.
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    // Number of lines the label shows at its current size and font.
    int visibleLineCount() const {
        QTextLayout layout;
        return layOut(layout);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QTextLayout layout;
        const int lines = layOut(layout);
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        for (int i = 0; i < lines; ++i) {
            layout.lineAt(i).draw(&painter, QPointF(0, 0));
        }
    }

  private:
    int layOut(QTextLayout& layout) const {
        layout.setText(text());
        layout.setFont(font());
        QTextOption option(Qt::AlignLeft | Qt::AlignTop);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        int shown = 0;
        qreal y = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width());
            if (shown > 0 && y + line.height() > height()) {
                break;
            }
            line.setPosition(QPointF(0, y));
            y += line.height();
            ++shown;
        }
        layout.endLayout();
        return shown;
    }
};

// A borderless bar that fills from the left in proportion to (value - minimum) / (maximum -
// minimum), worked out in double so that a range across the whole 32-bit span does not
// overflow. The platform's default and smooth fills are drawn alike.
class DialogProgressBar final : public QProgressBar {
  public:
    explicit DialogProgressBar(QWidget* parent) : QProgressBar(parent) { setTextVisible(false); }

    double fraction() const {
        const double span = static_cast<double>(maximum()) - minimum();
        if (span <= 0) {
            return 0;
        }
        return std::clamp((static_cast<double>(value()) - minimum()) / span, 0.0, 1.0);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Base));
        const int filled = static_cast<int>(std::lround(fraction() * width()));
        painter.fillRect(QRect(0, 0, filled, height()), palette().color(QPalette::Highlight));
    }
};

}  // namespace

QString textFromBytes(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            break;
        }
        text.append(byte >= 0x80 && byte < 0xA0 ? QChar(CP1252_HIGH[byte - 0x80]) : QChar(byte));
    }
    return text;
}

QtMainDialog::QtMainDialog(QtDialogResources resources) : resources_(std::move(resources)) {}

QtMainDialog::~QtMainDialog() {
    stopAllTimers();
    stopWatching();
    retiredNotifiers_.clear();
    controls_.clear();
    window_.reset();
}

QDialog* QtMainDialog::window() const {
    return window_.get();
}

QWidget* QtMainDialog::control(std::int32_t id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.data();
}

QFont QtMainDialog::realise(const FontSpec& wanted) const {
    // A logical font's height is in device pixels at the screen's vertical resolution; giving
    // Qt that pixel size (rather than the point size) keeps the glyphs at the same whole-pixel
    // height that the other platform draws, 13 px for 10 pt at 96 dpi.
    QScreen* screen = window_ ? window_->screen() : QGuiApplication::primaryScreen();
    const auto dpi =
        static_cast<std::int32_t>(std::lround(screen ? screen->logicalDotsPerInchY() : 96.0));
    QFont font(QString::fromStdString(wanted.face));
    const std::int32_t pixels = -fontPixelHeight(wanted.points, dpi);
    if (pixels > 0) {
        font.setPixelSize(pixels);
    }
    font.setWeight(wanted.weight > 0
                       ? static_cast<QFont::Weight>(std::clamp(wanted.weight, 1, 1000))
                       : QFont::Normal);
    font.setItalic(wanted.italic);
    return font;
}

WindowHandle QtMainDialog::createDialog(std::string_view caption, std::int32_t clientWidth,
                                        std::int32_t clientHeight) {
    window_ = std::make_unique<QtDialogWindow>(*this);
    window_->setFont(realise(dialogFont()));
    window_->setFixedSize(clientWidth, clientHeight);
    window_->setWindowTitle(textFromBytes(caption));

    // The window is not mapped yet, so its frame is not known: centre the client area for now
    // and correct for the frame once the window manager has put one around it.
    if (const auto at = centredFor(QSize(clientWidth, clientHeight))) {
        placedAt_ = *at;
        window_->move(*at);
    }
    return window_.get();
}

std::optional<QPoint> QtMainDialog::centredFor(QSize outerSize) const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return std::nullopt;
    }
    const QRect area = screen->availableGeometry();
    const Point at = centredPosition(Rect{area.x(), area.y(), area.width(), area.height()},
                                     outerSize.width(), outerSize.height());
    return QPoint(at.x, at.y);
}

void QtMainDialog::onFirstShown() {
    // Only while the window still stands where it was put: the user may already have moved it.
    if (!window_ || !window_->windowHandle() || window_->pos() != placedAt_) {
        return;
    }
    const QMargins frame = window_->windowHandle()->frameMargins();
    if (frame.isNull()) {
        return;
    }
    const QSize outer = window_->size().grownBy(frame);
    if (const auto at = centredFor(outer); at && *at != placedAt_) {
        placedAt_ = *at;
        window_->move(*at);
    }
}

void QtMainDialog::setDialogIcons(std::int32_t /*iconGroup*/) {
    if (!window_) {
        return;
    }
    // Keep one picture per size, the deepest of the group's entries for that size, so the
    // window system gets exactly a 32 px big and a 16 px small icon to choose from.
    QImageReader reader(resources_.icon);
    QImage best[2];
    int bestDepth[2] = {-1, -1};
    const int count = std::max(reader.imageCount(), 1);
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i)) {
            break;
        }
        const QImage image = reader.read();
        if (image.isNull()) {
            break;
        }
        const int slot = image.size() == QSize(32, 32) ? 0 : image.size() == QSize(16, 16) ? 1 : -1;
        if (slot < 0) {
            continue;
        }
        bool known = false;
        int depth = image.text(QStringLiteral("_q_icoOrigDepth")).toInt(&known);
        if (!known) {
            depth = image.depth();
        }
        if (depth > bestDepth[slot]) {
            bestDepth[slot] = depth;
            best[slot] = image;
        }
    }
    QIcon icon;
    for (const QImage& image : best) {
        if (!image.isNull()) {
            icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    if (!icon.isNull()) {
        window_->setWindowIcon(icon);
    }
}

void QtMainDialog::addControl(ControlKind kind, std::int32_t id, std::string_view text, Rect rect,
                              std::uint32_t /*style*/) {
    if (!window_) {
        return;
    }
    if (controls_.count(id) != 0) {
        removeControl(id);
    }
    QWidget* widget = nullptr;
    switch (kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(textFromBytes(text), window_.get());
            // Buttons carry no tab stop; keeping them out of the focus chain also means Enter
            // always reaches the dialog, which sends it to the default button.
            button->setFocusPolicy(Qt::NoFocus);
            button->setAutoDefault(false);
            QObject::connect(button, &QPushButton::clicked, button, [this, id, button] {
                deliver(MSG_COMMAND, static_cast<std::uintptr_t>(id) & 0xFFFF,
                        reinterpret_cast<std::intptr_t>(button));
            });
            if (auto* previous = qobject_cast<QPushButton*>(control(defaultButton_))) {
                previous->setDefault(false);
            }
            button->setDefault(true);
            defaultButton_ = id;
            widget = button;
            break;
        }
        case ControlKind::Label: {
            auto* label = new DialogLabel(window_.get());
            label->setText(textFromBytes(text));
            widget = label;
            break;
        }
        case ControlKind::Image: {
            // The image shows the logo at its natural size from the rectangle's top-left
            // corner; the rectangle's size only matters when the picture is missing.
            auto* image = new QLabel(window_.get());
            image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            const QPixmap logo(resources_.logo);
            if (!logo.isNull()) {
                image->setPixmap(logo);
                rect.width = logo.width();
                rect.height = logo.height();
            }
            widget = image;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new DialogProgressBar(window_.get());
            bar->setRange(0, 100);
            bar->setValue(0);
            widget = bar;
            break;
        }
    }
    widget->setFont(window_->font());
    widget->setGeometry(rect.x, rect.y, rect.width, rect.height);
    controls_[id] = widget;
    widget->show();
}

void QtMainDialog::removeControl(std::int32_t id) {
    const auto it = controls_.find(id);
    if (it == controls_.end()) {
        return;
    }
    QPointer<QWidget> widget = it->second;
    controls_.erase(it);
    if (id == defaultButton_) {
        defaultButton_ = 0;
    }
    if (!widget) {
        return;
    }
    // A button is usually removed from inside its own click, so it cannot be freed on the spot;
    // cut it off from the handler and the dialog's keys at once and free it on the next turn of
    // the event loop.
    if (auto* button = qobject_cast<QPushButton*>(widget.data())) {
        button->setDefault(false);
    }
    widget->disconnect();
    widget->hide();
    widget->deleteLater();
}

void QtMainDialog::setControlText(std::int32_t id, std::string_view text) {
    QWidget* widget = control(id);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(textFromBytes(text));
    } else if (auto* label = dynamic_cast<DialogLabel*>(widget)) {
        label->setText(textFromBytes(text));
        label->update();
    }
}

void QtMainDialog::setControlFont(std::int32_t id, const FontSpec& font) {
    if (QWidget* widget = control(id)) {
        widget->setFont(realise(font));
        widget->update();
    }
}

void QtMainDialog::setControlColor(std::int32_t id, ColorRef text, std::int32_t background) {
    QWidget* widget = control(id);
    if (!widget) {
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colorOf(text));
    palette.setColor(QPalette::ButtonText, colorOf(text));
    palette.setColor(QPalette::Text, colorOf(text));
    if (background != DEFAULT_BACKGROUND) {
        palette.setColor(QPalette::Window, colorOf(static_cast<ColorRef>(background)));
    }
    widget->setAutoFillBackground(background != DEFAULT_BACKGROUND);
    widget->setPalette(palette);
    widget->update();
}

void QtMainDialog::setProgressRange(std::int32_t id, std::int32_t low, std::int32_t high) {
    if (auto* bar = qobject_cast<QProgressBar*>(control(id))) {
        // QProgressBar resets a value outside a new range to "no value"; the bar keeps its
        // position, pulled into the range, as a progress control does.
        const int position = bar->value();
        bar->setRange(low, high);
        bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    }
}

void QtMainDialog::setProgressPosition(std::int32_t id, std::int32_t position) {
    if (auto* bar = qobject_cast<QProgressBar*>(control(id))) {
        // QProgressBar ignores a value outside its range; clamp it to the nearer end instead.
        bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    }
}

std::int32_t QtMainDialog::startTimer(std::int32_t timerId, std::int32_t intervalMs) {
    if (!window_ || ended_ || timerId == 0) {
        return 0;
    }
    auto& timer = timers_[timerId];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this, timerId] {
            deliver(MSG_TIMER, static_cast<std::uintptr_t>(timerId), 0);
        });
    }
    // Starting a running tick again restarts it with the new interval, as a window timer does.
    timer->start(std::max(intervalMs, 0));
    return timerId;
}

void QtMainDialog::stopTimer(std::int32_t timerId) {
    const auto it = timers_.find(timerId);
    if (it != timers_.end()) {
        // Stopped, not freed: the handler may stop the tick from inside its own timeout.
        it->second->stop();
    }
}

void QtMainDialog::stopAllTimers() {
    for (auto& [id, timer] : timers_) {
        timer->stop();
    }
}

void QtMainDialog::watchPort(std::intptr_t waitHandle) {
    if (portNotifier_ && portNotifier_->socket() == static_cast<qintptr>(waitHandle)) {
        return;
    }
    stopWatching();
    if (waitHandle == SerialPortService::NO_WAIT_HANDLE || !window_ || ended_) {
        return;
    }
    portNotifier_ =
        std::make_unique<QSocketNotifier>(static_cast<qintptr>(waitHandle), QSocketNotifier::Read);
    QObject::connect(portNotifier_.get(), &QSocketNotifier::activated, portNotifier_.get(),
                     [this] { deliver(MSG_PORT_DATA, 0, 0); });
}

void QtMainDialog::stopWatching() {
    if (portNotifier_) {
        portNotifier_->setEnabled(false);
        retiredNotifiers_.push_back(std::move(portNotifier_));
    }
}

void QtMainDialog::endMainDialog() {
    if (ended_ || !window_) {
        return;
    }
    ended_ = true;
    stopAllTimers();
    stopWatching();
    if (running_) {
        // Hiding ends the modal run, which then destroys the window once the event that led
        // here has been handled completely.
        window_->done(0);
    } else {
        controls_.clear();
        defaultButton_ = 0;
        window_.reset();
    }
}

void QtMainDialog::runMainDialog(DialogEventHandler& handler) {
    if (!window_ || ended_) {
        return;
    }
    handler_ = &handler;
    running_ = true;
    deliver(MSG_INIT_DIALOG, 0, 0);
    const auto width = static_cast<std::uint32_t>(window_->width()) & 0xFFFF;
    const auto height = static_cast<std::uint32_t>(window_->height()) & 0xFFFF;
    deliver(MSG_SIZE, 0, static_cast<std::intptr_t>(height << 16 | width));
    if (!ended_) {
        window_->show();
        window_->raise();
        window_->activateWindow();
        // exec() returns once the window is hidden: by endMainDialog, by the close command, or
        // by anything else that rejects the dialog.
        window_->exec();
    }
    ended_ = true;
    stopAllTimers();
    stopWatching();
    retiredNotifiers_.clear();
    controls_.clear();
    defaultButton_ = 0;
    handler_ = nullptr;
    running_ = false;
    window_.reset();
}

void QtMainDialog::showImageError(std::string_view message) {
    // Start-up reports an unusable image before any window exists, so the box stands alone,
    // under the caption the dialog would have had.
    QMessageBox::critical(window_.get(), textFromBytes(dialogCaption()), textFromBytes(message));
}

void QtMainDialog::onEnterKey() {
    if (auto* button = qobject_cast<QPushButton*>(control(defaultButton_))) {
        button->click();
    }
}

void QtMainDialog::onEscapeKey() {
    deliver(MSG_COMMAND, static_cast<std::uintptr_t>(ID_CANCEL), 0);
}

void QtMainDialog::onCloseRequest() {
    endMainDialog();
}

void QtMainDialog::deliver(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (!handler_ || inHandler_ || ended_) {
        return;
    }
    // No notifier is inside its own signal here: a retired one is disabled and emits no more.
    retiredNotifiers_.clear();
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(inHandler_);
    handler_->handleEvent(window_.get(), message, wParam, lParam);
}

}  // namespace vkt5
