// The Qt dialog as a user meets it, on the offscreen platform: what the window looks like after
// start-up and on the search screen, what the keys and the close command do, and what the
// handler receives. Each test builds the dialog through the same core routines that start-up and
// the sequencer use.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <climits>
#include <functional>
#include <memory>
#include <vector>

#include "app/upgrade_state.h"
#include "ui/main_dialog.h"
#include "ui/phase_screens.h"
#include "ui/qt/qt_main_dialog.h"

namespace vkt5 {
namespace {

struct Event {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

// Records every event; a test may act on each one from inside the handler.
class RecordingHandler final : public DialogEventHandler {
  public:
    std::intptr_t handleEvent(WindowHandle, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        events.push_back({message, wParam, lParam});
        if (onEvent) {
            onEvent(events.back());
        }
        --depth;
        return 0;
    }

    std::vector<std::uintptr_t> commands() const {
        std::vector<std::uintptr_t> ids;
        for (const Event& e : events) {
            if (e.message == MSG_COMMAND) {
                ids.push_back(e.wParam);
            }
        }
        return ids;
    }
    int count(std::uint32_t message) const {
        return static_cast<int>(std::count_if(
            events.begin(), events.end(), [&](const Event& e) { return e.message == message; }));
    }

    std::vector<Event> events;
    std::function<void(const Event&)> onEvent;
    int depth = 0;
    int maxDepth = 0;
};

bool hasInk(const QImage& image, QRect area, QColor background) {
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixelColor(x, y) != background) {
                return true;
            }
        }
    }
    return false;
}

class QtDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state = std::make_unique<UpgradeState>();
        state->dialogWidth = DIALOG_CLIENT_WIDTH;
        state->dialogHeight = DIALOG_CLIENT_HEIGHT;
        buildMainDialog(*state, dialog);
        ASSERT_NE(dialog.window(), nullptr);
    }

    // Runs the dialog modally; script runs once the window is up, and a watchdog ends a run
    // that the test failed to end.
    void run(const std::function<void()>& script) {
        QTimer::singleShot(0, dialog.window(), script);
        bool watchdogFired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            watchdogFired = true;
            dialog.endMainDialog();
        });
        watchdog.start(5000);
        dialog.runMainDialog(handler);
        EXPECT_FALSE(watchdogFired) << "the run did not end by itself";
    }

    template <typename T>
    T* controlAs(std::int32_t id) {
        return qobject_cast<T*>(dialog.control(id));
    }

    QColor face() const { return dialog.window()->palette().color(QPalette::Window); }

    // Pixel height the host gives a font of the given size on the offscreen screen.
    static int pixelsFor(int points) {
        const int dpi =
            static_cast<int>(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInchY()));
        return -fontPixelHeight(points, dpi);
    }

    std::unique_ptr<UpgradeState> state;
    QtMainDialog dialog;
    RecordingHandler handler;
};

TEST_F(QtDialogTest, WindowIsAFixedCentredDialogWithCaptionAndBothIcons) {
    QDialog* w = dialog.window();
    EXPECT_EQ(w->size(), QSize(500, 240));
    EXPECT_EQ(w->minimumSize(), QSize(500, 240));
    EXPECT_EQ(w->maximumSize(), QSize(500, 240));
    const Qt::WindowFlags flags = w->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(w->windowTitle().toStdString(), dialogCaption());

    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const Point at =
        centredPosition(Rect{area.x(), area.y(), area.width(), area.height()}, 500, 240);
    EXPECT_EQ(w->pos(), QPoint(at.x, at.y));

    const QList<QSize> sizes = w->windowIcon().availableSizes();
    EXPECT_EQ(sizes.size(), 2);
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

TEST_F(QtDialogTest, LogoAndBannerStandWhereAndHowTheyShould) {
    auto* logo = controlAs<QLabel>(ID_LOGO);
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->geometry(), QRect(5, 8, 150, 150));
    EXPECT_EQ(logo->pixmap().size(), QSize(150, 150));

    auto* banner = controlAs<QLabel>(ID_BANNER);
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->geometry(), QRect(175, 8, 488, 18));
    EXPECT_EQ(banner->text(), QString("C o r v a n e"));
    const QFontInfo font(banner->font());
    EXPECT_TRUE(font.family() == "Liberation Sans" || font.family() == "Arial")
        << font.family().toStdString();
    EXPECT_TRUE(font.bold());
    EXPECT_EQ(font.pixelSize(), pixelsFor(12));
    EXPECT_EQ(banner->palette().color(QPalette::WindowText), QColor(0, 0, 140));

    // The banner's text is drawn, in its colour, even though the rectangle is cut at the client
    // edge and barely taller than the font.
    const QImage shot = dialog.window()->grab().toImage();
    bool dark = false;
    for (int y = 8; y < 26 && !dark; ++y) {
        for (int x = 175; x < 300 && !dark; ++x) {
            dark = shot.pixelColor(x, y) == QColor(0, 0, 140);
        }
    }
    EXPECT_TRUE(dark);
}

TEST_F(QtDialogTest, SearchScreenShowsItsControlsInTheDialogFont) {
    showSearchScreen(*state, dialog);

    struct Expected {
        std::int32_t id;
        QRect geometry;
        const char* text;
    };
    const Expected labels[] = {
        {ID_PROMPT, {175, 50, 488, 18}, "Connect VKT-5 to a Serial or USB Port"},
        {ID_PROMPT2, {175, 75, 488, 18}, ""},
        {ID_RESET_HINT, {175, 75, 488, 18}, "Power-up VKT Unit while holding the Reset button"},
        {ID_SEARCHING, {210, 140, 488, 18}, "Searching for VKT-5..."},
        {ID_SCAN_NOTE, {175, 96, 320, 42}, ""},
    };
    for (const Expected& e : labels) {
        auto* label = controlAs<QLabel>(e.id);
        ASSERT_NE(label, nullptr) << e.id;
        EXPECT_EQ(label->geometry(), e.geometry) << e.id;
        EXPECT_EQ(label->text(), QString(e.text)) << e.id;
        const QFontInfo font(label->font());
        EXPECT_EQ(font.pixelSize(), pixelsFor(10)) << e.id;
        EXPECT_TRUE(font.bold()) << e.id;
        EXPECT_EQ(label->palette().color(QPalette::WindowText),
                  dialog.window()->palette().color(QPalette::WindowText));
    }

    auto* exitButton = controlAs<QPushButton>(ID_EXIT);
    ASSERT_NE(exitButton, nullptr);
    EXPECT_EQ(exitButton->geometry(), QRect(230, 200, 94, 24));
    EXPECT_EQ(exitButton->text(), QString("Exit"));
    EXPECT_TRUE(exitButton->isDefault());
    EXPECT_FALSE(exitButton->autoDefault());
    EXPECT_EQ(QFontInfo(exitButton->font()).pixelSize(), pixelsFor(10));
    EXPECT_EQ(dialog.defaultButtonId(), ID_EXIT);

    auto* bar = controlAs<QProgressBar>(ID_SCAN_PROGRESS);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), QRect(200, 170, 150, 4));
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 50);
    EXPECT_EQ(bar->value(), 1);
    EXPECT_FALSE(bar->isTextVisible());

    // The reset hint shares its rectangle with the empty second prompt and must show through.
    const QImage shot = dialog.window()->grab().toImage();
    EXPECT_TRUE(hasInk(shot, QRect(175, 75, 325, 18), face()));
    shot.save("/tmp/vkt5_qt_search_screen.png");
}

TEST_F(QtDialogTest, LabelsWrapAtWordsAndNeverDrawAPartialLastLine) {
    const QFontMetrics metrics(dialog.window()->font());
    const int line = metrics.height();
    const int width = 160;
    // Three short words per line at most; the text needs well over three lines.
    const std::string text = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu";

    struct Case {
        int height;
        int linesShown;
    };
    const Case cases[] = {
        {line - 3, 1},      // shorter than one line: the first line still shows, clipped
        {line, 1},          //
        {2 * line - 1, 1},  // the second line would be cut by one pixel
        {2 * line, 2},      //
        {3 * line + 2, 3},  //
    };
    for (const Case& c : cases) {
        dialog.addControl(ControlKind::Label, 150, text, Rect{10, 10, width, c.height},
                          STYLE_LABEL);
        const QImage shot = dialog.control(150)->grab().toImage();
        const int inkBottom = c.linesShown * line;
        EXPECT_TRUE(hasInk(shot, QRect(0, (c.linesShown - 1) * line, width, line), face()))
            << "height " << c.height;
        EXPECT_FALSE(hasInk(shot, QRect(0, inkBottom, width, c.height - inkBottom), face()))
            << "height " << c.height;
        dialog.removeControl(150);
    }

    // Word boundaries: part of "gamma" would fit on the first line, but the whole word goes to
    // the second.
    const int narrow = metrics.horizontalAdvance("alpha beta gam");
    dialog.addControl(ControlKind::Label, 150, "alpha beta gamma", Rect{10, 10, narrow, 2 * line},
                      STYLE_LABEL);
    const QImage shot = dialog.control(150)->grab().toImage();
    const int afterBeta = metrics.horizontalAdvance("alpha beta") + 1;
    EXPECT_FALSE(hasInk(shot, QRect(afterBeta, 0, narrow - afterBeta, line), face()));
    EXPECT_TRUE(hasInk(shot, QRect(0, line, metrics.horizontalAdvance("g"), line), face()));
}

// The failure screens and the silence warning as the sequencer puts them up, with the longest
// texts they can hold: every line of every text is drawn, inside the client area, and nothing
// stands on the logo, the banner or another control.
TEST_F(QtDialogTest, FailureScreensAndTheWarningFitTheWindow) {
    struct Case {
        const char* name;
        std::int32_t phase, step, failure, linesSent, lineCount, warningSeconds;
    };
    const Case cases[] = {
        {"unplugged at the question", AwaitAnswer, ConfirmUpgrade, PortLost, 0, 2263, 0},
        {"lost while erasing", Programming, AwaitErased, PortLost, 0, 2263, 0},
        {"ended early", Programming, AwaitLinePrompt, EndedEarly, 2262, 2263, 0},
        {"refused line, long image", Programming, SendImageLine, SendFailed, 1999999, 2000000, 0},
        {"silent", Programming, AwaitLinePrompt, NoFailure, 2262, 2263, 10},
        {"silent while erasing", Programming, AwaitErased, NoFailure, 0, 2263, 60},
    };
    const std::int32_t shown[] = {ID_PROMPT, ID_PROMPT2, ID_FAILURE_TEXT,   ID_UPLOAD_TEXT,
                                  ID_RETRY,  ID_EXIT,    ID_UPLOAD_PROGRESS};
    const QRect client(0, 0, DIALOG_CLIENT_WIDTH, DIALOG_CLIENT_HEIGHT);
    for (const Case& c : cases) {
        *state = UpgradeState{};
        state->dialogWidth = DIALOG_CLIENT_WIDTH;
        state->lineCount = c.lineCount;
        state->unitVersion = "V1.001";
        showSearchScreen(*state, dialog);
        showVersionPrompt(*state, dialog);
        state->phase = c.phase;
        state->step = c.step;
        if (c.phase == Programming) {
            showUploadScreen(*state, dialog);
            state->linesSent = c.linesSent;
            refreshUploadProgress(*state, dialog);
        }
        state->failure = c.failure;
        if (c.warningSeconds > 0) {
            showSilenceWarning(*state, dialog, c.warningSeconds);
        } else {
            showFailureScreen(*state, dialog);
        }

        auto* banner = controlAs<QLabel>(ID_BANNER);
        std::vector<std::pair<std::int32_t, QRect>> used = {
            {ID_LOGO, controlAs<QLabel>(ID_LOGO)->geometry()},
            {ID_BANNER,
             QFontMetrics(banner->font())
                 .boundingRect(banner->text())
                 .translated(banner->pos() + QPoint(0, QFontMetrics(banner->font()).ascent()))
                 .intersected(banner->geometry())},
        };
        for (const std::int32_t id : shown) {
            QWidget* control = dialog.control(id);
            if (control == nullptr) {
                continue;
            }
            QRect area = control->geometry();
            if (auto* label = qobject_cast<QLabel*>(control)) {
                if (label->text().isEmpty()) {
                    continue;
                }
                // Laid out as the label does it, at its own width; a line it cannot show whole
                // is not drawn at all.
                const QFontMetrics metrics(label->font());
                const QRect text =
                    metrics.boundingRect(QRect(0, 0, label->width(), 1000),
                                         Qt::AlignLeft | Qt::TextWordWrap, label->text());
                const int lines = text.height() / metrics.lineSpacing();
                EXPECT_LE(lines * metrics.height(), label->height())
                    << c.name << ": text of " << id << " cut: " << label->text().toStdString();
                area = QRect(label->pos(), QSize(text.width(), label->height()));
            }
            EXPECT_TRUE(client.contains(area)) << c.name << ": control " << id << " reaches out";
            for (const auto& [other, otherArea] : used) {
                EXPECT_FALSE(area.intersects(otherArea))
                    << c.name << ": control " << id << " overlaps " << other;
            }
            used.emplace_back(id, area);
        }
        EXPECT_NE(dialog.control(ID_RETRY), nullptr) << c.name;
        for (const std::int32_t id : shown) {
            dialog.removeControl(id);
        }
    }
}

TEST_F(QtDialogTest, TextsAreBytesAndNeverMarkup) {
    dialog.addControl(ControlKind::Label, 150, "<b>V1</b> \x80 & more", Rect{10, 10, 300, 18},
                      STYLE_LABEL);
    auto* label = controlAs<QLabel>(150);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), QString::fromUtf8("<b>V1</b> \u20AC & more"));

    using namespace std::string_view_literals;
    dialog.setControlText(150, "V1\0hidden"sv);
    EXPECT_EQ(label->text(), QString("V1"));
}

TEST_F(QtDialogTest, ProgressBarsTakeTheWhole32BitRangeAndShowNoText) {
    struct Case {
        std::int32_t low, high, position;
        std::int32_t shown;
        double fraction;
    };
    const Case cases[] = {
        {0, 2263, 950, 950, 950.0 / 2263},
        {0, 2'000'000'000, 1'500'000'000, 1'500'000'000, 0.75},
        {INT_MIN, INT_MAX, 0, 0, 0.5},
        {0, 50, 70, 50, 1.0},  // beyond the range: pulled to the end
        {0, 50, -5, 0, 0.0},
    };
    dialog.addControl(ControlKind::ProgressBar, 150, "", Rect{0, 100, 400, 16}, STYLE_PROGRESS);
    auto* bar = controlAs<QProgressBar>(150);
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_EQ(bar->value(), 0);
    for (const Case& c : cases) {
        dialog.setProgressRange(150, c.low, c.high);
        dialog.setProgressPosition(150, c.position);
        EXPECT_EQ(bar->minimum(), c.low);
        EXPECT_EQ(bar->maximum(), c.high);
        EXPECT_EQ(bar->value(), c.shown);

        const QImage shot = bar->grab().toImage();
        const QColor fill = bar->palette().color(QPalette::Highlight);
        int filled = 0;
        while (filled < shot.width() && shot.pixelColor(filled, 8) == fill) {
            ++filled;
        }
        EXPECT_NEAR(filled, c.fraction * 400, 1.0) << c.high << " " << c.position;
    }
}

TEST_F(QtDialogTest, DefaultButtonIsTheLastAddedAndGoesWithIt) {
    dialog.addControl(ControlKind::PushButton, ID_EXIT, "Exit", Rect{230, 200, 94, 24},
                      STYLE_BUTTON);
    dialog.addControl(ControlKind::PushButton, ID_YES, "Yes", Rect{170, 200, 94, 24}, STYLE_BUTTON);
    dialog.addControl(ControlKind::PushButton, ID_NO, "No", Rect{280, 200, 94, 24}, STYLE_BUTTON);
    EXPECT_EQ(dialog.defaultButtonId(), ID_NO);
    EXPECT_FALSE(controlAs<QPushButton>(ID_EXIT)->isDefault());
    EXPECT_FALSE(controlAs<QPushButton>(ID_YES)->isDefault());
    EXPECT_TRUE(controlAs<QPushButton>(ID_NO)->isDefault());

    QPointer<QWidget> no = dialog.control(ID_NO);
    dialog.removeControl(ID_NO);
    EXPECT_EQ(dialog.defaultButtonId(), 0);
    EXPECT_EQ(dialog.control(ID_NO), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(no.isNull()) << "a removed button must be freed, not kept hidden";
    for (QPushButton* b : dialog.window()->findChildren<QPushButton*>()) {
        EXPECT_FALSE(b->isDefault()) << b->text().toStdString();
    }
}

TEST_F(QtDialogTest, RunDeliversInitAndSizeBeforeShowingThenKeysAsCommands) {
    bool visibleAtInit = true;
    handler.onEvent = [&](const Event& e) {
        if (e.message == MSG_INIT_DIALOG) {
            visibleAtInit = dialog.window()->isVisible();
            showSearchScreen(*state, dialog);
        }
    };
    QPointer<QDialog> window = dialog.window();
    std::vector<std::uintptr_t> commandsAfterUpload;
    run([&] {
        // Search screen: Enter is Exit (the handler here does not end the dialog).
        QTest::keyClick(window, Qt::Key_Return);
        showVersionPrompt(*state, dialog);
        QTest::keyClick(window, Qt::Key_Enter, Qt::KeypadModifier);  // No
        QTest::mouseClick(dialog.control(ID_YES), Qt::LeftButton);   // a click on Yes
        showUploadScreen(*state, dialog);
        QCoreApplication::processEvents();
        const std::size_t before = handler.commands().size();
        QTest::keyClick(window, Qt::Key_Return);  // no default button: nothing at all
        QTest::keyClick(window, Qt::Key_Escape);  // cancel, and the dialog stays
        for (std::size_t i = before; i < handler.commands().size(); ++i) {
            commandsAfterUpload.push_back(handler.commands()[i]);
        }
        EXPECT_TRUE(window->isVisible());
        window->close();
    });

    EXPECT_FALSE(visibleAtInit);
    ASSERT_GE(handler.events.size(), 2u);
    EXPECT_EQ(handler.events[0].message, MSG_INIT_DIALOG);
    EXPECT_EQ(handler.events[1].message, MSG_SIZE);
    EXPECT_EQ(handler.events[1].lParam, (240 << 16) | 500);
    EXPECT_EQ(handler.commands(), (std::vector<std::uintptr_t>{ID_EXIT, ID_NO, ID_YES, ID_CANCEL}));
    EXPECT_EQ(commandsAfterUpload, std::vector<std::uintptr_t>{ID_CANCEL});
    EXPECT_TRUE(window.isNull()) << "the window is destroyed when the run returns";
    EXPECT_EQ(dialog.window(), nullptr);
}

TEST_F(QtDialogTest, ButtonRemovedInsideItsOwnClickEndsNothingAndCrashesNothing) {
    handler.onEvent = [&](const Event& e) {
        if (e.message == MSG_INIT_DIALOG) {
            showSearchScreen(*state, dialog);
            showVersionPrompt(*state, dialog);
        }
        if (e.message == MSG_COMMAND && e.wParam == ID_YES) {
            showUploadScreen(*state, dialog);
        }
    };
    run([&] {
        QTest::mouseClick(dialog.control(ID_YES), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(dialog.control(ID_YES), nullptr);
        EXPECT_EQ(dialog.control(ID_NO), nullptr);
        EXPECT_TRUE(dialog.window()->findChildren<QPushButton*>().isEmpty());
        QTest::keyClick(dialog.window(), Qt::Key_Return);
        dialog.window()->close();
    });
    EXPECT_EQ(handler.commands(), std::vector<std::uintptr_t>{ID_YES});
}

TEST_F(QtDialogTest, TimerTicksOneAtATimeUntilStoppedAndCloseEndsTheRun) {
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> ticks;
    handler.onEvent = [&](const Event& e) {
        if (e.message == MSG_INIT_DIALOG) {
            EXPECT_EQ(dialog.startTimer(1, 15), 1);
        }
        if (e.message != MSG_TIMER) {
            return;
        }
        EXPECT_EQ(e.wParam, 1u);
        ticks.push_back(Clock::now());
        if (ticks.size() == 3) {
            // A busy tick that lets events through must not be re-entered.
            QThread::msleep(40);
            QCoreApplication::processEvents();
        }
        if (ticks.size() == 20) {
            dialog.stopTimer(1);
            QTimer::singleShot(100, dialog.window(), [&] { dialog.window()->close(); });
        }
    };
    run([] {});

    EXPECT_EQ(ticks.size(), 20u) << "ticks stop with stopTimer";
    EXPECT_EQ(handler.maxDepth, 1);
    const auto span = std::chrono::duration<double, std::milli>(ticks.back() - ticks[4]);
    EXPECT_GE(span.count() / 15, 14.0 * 0.95);  // 15 intervals of about 15 ms
    EXPECT_EQ(dialog.window(), nullptr);
}

TEST_F(QtDialogTest, CloseEndsTheRunWhileTicking) {
    handler.onEvent = [&](const Event& e) {
        if (e.message == MSG_INIT_DIALOG) {
            showSearchScreen(*state, dialog);
            dialog.startTimer(1, 15);
        }
        if (e.message == MSG_TIMER && handler.count(MSG_TIMER) == 5) {
            dialog.window()->close();
        }
    };
    run([] {});
    EXPECT_EQ(handler.count(MSG_TIMER), 5);
    EXPECT_EQ(dialog.window(), nullptr);
    // Operations after the end do nothing.
    dialog.setControlText(ID_PROMPT, "late");
    dialog.removeControl(ID_EXIT);
    EXPECT_EQ(dialog.startTimer(1, 15), 0);
}

// A watched descriptor delivers MSG_PORT_DATA through the handler's one path; watching the same
// descriptor again keeps the watch; giving it up from inside its own event stops it, and bytes
// left unread then wake nothing.
TEST_F(QtDialogTest, WatchedPortDeliversPortDataUntilTheWatchIsGivenUp) {
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC), 0);
    const auto put = [&](const char* bytes) { ASSERT_EQ(write(pipeEnds[1], bytes, 1), 1); };
    int ticksAfterGivingUp = -1;
    handler.onEvent = [&](const Event& e) {
        if (e.message == MSG_INIT_DIALOG) {
            dialog.startTimer(1, 15);
            dialog.watchPort(pipeEnds[0]);
        } else if (e.message == MSG_PORT_DATA) {
            char byte = 0;
            EXPECT_EQ(read(pipeEnds[0], &byte, 1), 1);
            if (handler.count(MSG_PORT_DATA) == 1) {
                dialog.watchPort(pipeEnds[0]);  // the same descriptor: the watch goes on
                QTimer::singleShot(30, dialog.window(), [&] { put("b"); });
            } else {
                dialog.watchPort(SerialPortService::NO_WAIT_HANDLE);
                put("c");  // never read
                ticksAfterGivingUp = 0;
            }
        } else if (e.message == MSG_TIMER && ticksAfterGivingUp >= 0 &&
                   ++ticksAfterGivingUp == 10) {
            dialog.endMainDialog();
        }
    };
    run([&] { put("a"); });
    EXPECT_EQ(handler.count(MSG_PORT_DATA), 2);
    EXPECT_EQ(ticksAfterGivingUp, 10);
    EXPECT_EQ(handler.maxDepth, 1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST_F(QtDialogTest, EndBeforeTheRunMeansTheRunDoesNothing) {
    dialog.endMainDialog();
    EXPECT_EQ(dialog.window(), nullptr);
    dialog.runMainDialog(handler);
    EXPECT_TRUE(handler.events.empty());
}

TEST(QtImageErrorTest, TellsTheUserInABoxOfItsOwn) {
    QtMainDialog dialog;
    QString shownText;
    QString shownTitle;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        shownTitle = box->windowTitle();
        box->accept();
    });
    dialog.showImageError("The image cannot be read.");
    EXPECT_EQ(shownText, QString("The image cannot be read."));
    EXPECT_EQ(shownTitle.toStdString(), dialogCaption());
}

}  // namespace
}  // namespace vkt5

int main(int argc, char** argv) {
    // No X server in the test environment; the offscreen platform still renders everything.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
