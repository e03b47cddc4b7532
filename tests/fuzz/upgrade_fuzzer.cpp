// The whole upgrade under arbitrary input: receive, dialogue and sequencer driven against the
// scripted port and the recording dialog, the way a host delivers ticks and clicks. The input
// decides the image, which ports exist, are busy or chatter, the bytes that reach the unit's port
// and on which tick, failing port calls, a hang-up, and the user's presses and stray messages.
//
// After every event the run is checked and aborted on the first broken rule: the handler returns
// 0; the phase moves forward one step at a time, or to the failure screen, or back to the scan;
// linesSent stays within lineCount and the table;
// rxBuffer stays bounded; nothing is sent before the unit was found, to any port but the unit's,
// or after the user said No; what is sent is the exchange's letters and then the image lines in
// order; and the success screen appears only once every line went out with Ok.
//
// Input layout: a ten-byte header (image, unit port, port map, unit behaviour, tail of ticks),
// the image bytes when the header asks for them, then one operation after another.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/startup.h"
#include "app/upgrade_sequencer.h"
#include "fakes/recording_dialog.h"
#include "fakes/scripted_port.h"
#include "fakes/scripted_unit.h"
#include "serial/line_receiver.h"
#include "serial/port_scan.h"
#include "ui/phase_screens.h"

// Stays on in every build type: a broken rule must stop the run, NDEBUG or not.
#define FUZZ_CHECK(cond)                                                             \
    do {                                                                             \
        if (!(cond)) {                                                               \
            std::fprintf(stderr, "broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                            \
        }                                                                            \
    } while (false)

namespace vkt5 {
namespace {

using test::numberedImage;
using test::PortCall;
using test::PortOp;
using test::RecordingDialog;
using test::ScriptedPort;
using test::ScriptedUnit;
using test::UnitBehaviour;
using namespace std::string_literals;

// Enough for the carried image (2263 lines, two ticks a line) to finish after a full scan.
constexpr std::int64_t MAX_TICKS = 8000;
// Ports the input can populate; the scan walks on through 49 absent ones.
constexpr std::int32_t MAPPED_PORTS = 12;
constexpr std::int64_t LATE_TICKS = 3;

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t word() {
        const auto high = static_cast<std::uint16_t>(byte());
        return static_cast<std::uint16_t>((high << 8) | byte());
    }
    std::string bytes(std::size_t n) {
        n = std::min(n, size_ - std::min(at_, size_));
        std::string out(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

const std::string& carriedImage() {
    static const std::string text = [] {
        std::ifstream in(VKT5_IMAGE_FILE, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }();
    return text;
}

// Images with the line-end faults a replacement image may carry.
const std::array<std::string, 7> ODD_IMAGES = {
    std::string(),
    std::string(":020000040000FA:00000001FF"),      // no line end at all
    std::string(":020000040000FA\r\n:00000001FF"),  // last line without CR LF
    std::string("\r\n\r\n"),                        // empty lines
    std::string(":A\r:B\n:C\r\n:00000001FF\r\n"),   // lone CR and LF inside lines
    ":A\0B\r\n\r\r\n\n\r\n"s,                       // NUL, CR before CR LF, LF after
    std::string(":020000040000FA\r\n:0400000001020304F2\r\n:00000001FF\r\n"),
};

std::string imageFrom(Input& in) {
    const std::uint8_t kind = in.byte();
    switch (kind % 8) {
        case 3:
            return in.bytes(in.byte());
        case 4:
            return numberedImage(1 + in.byte() % 16);
        case 5:
            return carriedImage();
        case 6:
            return numberedImage(IMAGE_TABLE_SIZE + 1 + in.byte() % 4);
        case 7:
            return ODD_IMAGES[in.byte() % ODD_IMAGES.size()];
        default:
            return ODD_IMAGES.back();
    }
}

// What the unit's port may receive in one piece.
const std::vector<std::string>& tokens() {
    static const std::vector<std::string> list = {
        "VKT5\r\n",
        "VKT5",
        "\r\n",
        "\r",
        "\n",
        "*",
        "*\r\n",
        "E or P?\r\n",
        "Erased\r\n",
        "Done\r\n",
        "VKT5 V1.001\r\n",
        "vkt5 v0.9\xe9\r\n",
        std::string(1, '\0'),
        "**",
        "VKT5 \r\n",
        "Done",
        "E or P?",
        "Erased\r\nE or P?\r\n",
        std::string(RX_BUFFER_LIMIT + 1000, 'A'),  // a stream without line ends
        std::string(300, 'x') + "\r\n",
    };
    return list;
}

const std::array<std::string, 7> VERSION_LINES = {
    "VKT5 V1.001",        "vkt5 v0.9b",          "VKT5", "", "no version here",
    "VKT5 V1.002  extra", "\xe9t\xe9 v\xe0\xff",
};

// Chatter that never holds the identification, however its pieces are joined.
const std::string NOISE = std::string("vkt5\r\nVKT\r\n5 VKT5\n\r") + '\0';

const std::array<std::int32_t, 5> BUTTONS = {ID_EXIT, ID_YES, ID_NO, ID_OK, ID_RETRY};

bool isButton(std::int32_t id) {
    return id == ID_EXIT || id == ID_YES || id == ID_NO || id == ID_OK || id == ID_RETRY;
}

bool validStep(std::int32_t step) {
    return (step >= StartDialogue && step <= SendImageLine) || step == UnitDone;
}

// The texts the upload label may show: nothing yet, or " Uploading firmware ... " and 0 % to 99 %.
bool validUploadText(std::string_view text) {
    constexpr std::string_view prefix = " Uploading firmware ... ";
    if (text.empty()) {
        return true;
    }
    if (text.size() < prefix.size() + 3 || text.substr(0, prefix.size()) != prefix ||
        text.back() != '%' || text[prefix.size()] != ' ') {
        return false;
    }
    const std::string_view digits = text.substr(prefix.size() + 1, text.size() - prefix.size() - 2);
    if (digits.empty() || digits.size() > 2 || (digits.size() == 2 && digits[0] == '0')) {
        return false;
    }
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

class Run {
  public:
    explicit Run(Input& in) : in_(in) {}

    void go() {
        const std::uint8_t unitByte = in_.byte();
        unitPort_ = 1 + (unitByte & 0x7F) % MAPPED_PORTS;
        unitName_ = portName(unitPort_);
        for (std::int32_t n = 1; n <= MAPPED_PORTS; ++n) {
            names_.push_back(portName(n));
        }
        std::uint32_t map = in_.byte();
        map = (map << 8) | in_.byte();
        map = (map << 8) | in_.byte();
        const std::uint8_t behaviourByte = in_.byte();
        const std::uint8_t doneAfter = in_.byte();
        const std::uint8_t silentAfter = in_.byte();
        const std::uint8_t versionIndex = in_.byte();
        const std::int64_t tail = std::int64_t{in_.byte()} * 16;
        const std::string image = imageFrom(in_);

        for (std::int32_t n = 1; n <= MAPPED_PORTS; ++n) {
            const auto kind = (map >> (2 * (n - 1))) & 3;
            if (n == unitPort_ || kind == 0) {
                continue;  // the unit's port is set up below; 0: no such port
            }
            auto& dev = ports_.device(portName(n));
            dev.busy = kind == 2;
            if (kind == 3) {
                dev.refused.insert(static_cast<PortOption>(n % 8));
                for (std::int64_t t = n; t < 1200; t += 4 + n) {
                    dev.arriveAt(t, NOISE);
                }
            }
        }
        ports_.device(unitName_).busy = (unitByte & 0x80) != 0;

        if ((behaviourByte & 1) != 0) {
            UnitBehaviour b;
            b.replyDelay = 1 + ((behaviourByte >> 1) & 3);
            b.prompt = (behaviourByte & 8) != 0 ? "*\r\n" : "*";
            b.identEvery = 1 + ((behaviourByte >> 4) & 7);
            if (doneAfter != 0) {
                b.doneAfterRecords = doneAfter;
            }
            if (silentAfter != 0) {
                b.silentAfterRecords = silentAfter;
            }
            b.versionLine = VERSION_LINES[versionIndex % VERSION_LINES.size()];
            unit_.emplace(ports_, unitName_, b);
            unit_->announce(1, 1000);
        }

        // As start-up: an image with nothing to send never reaches the window or a port.
        if (!initialiseState(state_, image)) {
            FUZZ_CHECK(state_.lineCount == 0);
            FUZZ_CHECK(ports_.calls.empty());
            return;
        }
        FUZZ_CHECK(state_.lineCount > 0);
        FUZZ_CHECK(static_cast<std::size_t>(state_.lineCount) < state_.imageLines.size());
        buildMainDialog(state_, dialog_);
        dialog_.runMainDialog(sequencer_);
        FUZZ_CHECK(ports_.calls.empty());

        while (!in_.empty() && open()) {
            operation();
        }
        for (std::int64_t i = 0; i < tail && open(); ++i) {
            tick(TICK_ID);
        }
        // A tick that a host still delivers after No or OK must find nothing to do.
        if (saidNo_ || saidOk_) {
            for (std::int64_t i = 0; i < LATE_TICKS; ++i) {
                tick(TICK_ID);
            }
        }
        if (std::getenv("VKT5_FUZZ_TRACE") != nullptr) {
            std::fprintf(stderr, "ticks %lld phase %d step %d lines %d/%d sends %zu ended %d\n",
                         static_cast<long long>(ticks_), state_.phase, state_.step,
                         state_.linesSent, state_.lineCount, sends_, dialog_.ended ? 1 : 0);
        }
    }

  private:
    bool open() const { return !dialog_.ended && !closed_ && ticks_ < MAX_TICKS; }

    void operation() {
        const std::uint8_t op = in_.byte();
        switch (op % 13) {
            case 0: {  // a run of ticks
                const int n = 1 + in_.byte() % 64;
                for (int i = 0; i < n && open(); ++i) {
                    tick(TICK_ID);
                }
                break;
            }
            case 1: {  // raw bytes on the unit's port, now or a few ticks ahead
                const std::uint8_t b = in_.byte();
                const std::int64_t at = ports_.tick() + (b >> 6);
                ports_.device(unitName_).arriveAt(at, in_.bytes(b & 63));
                break;
            }
            case 2: {  // a piece of the unit's language
                const auto& list = tokens();
                ports_.device(unitName_).arriveAt(ports_.tick(), list[in_.byte() % list.size()]);
                break;
            }
            case 3:
                press(BUTTONS[in_.byte() % BUTTONS.size()], 0);
                break;
            case 4: {  // a button, with whatever notification code rides in the high bits
                const std::int32_t id = BUTTONS[in_.byte() % BUTTONS.size()];
                press(id, in_.word());
                break;
            }
            case 5: {  // the cancel of Escape, or any other id
                const bool cancel = (in_.byte() & 1) != 0;
                const std::int32_t id = cancel ? ID_CANCEL : in_.word();
                press(id, in_.word());
                break;
            }
            case 6: {  // the user waits for a button to appear, then presses it
                const std::int32_t id = BUTTONS[in_.byte() % BUTTONS.size()];
                for (int i = 0; i < 2500 && open() && !dialog_.has(id); ++i) {
                    tick(TICK_ID);
                }
                press(id, 0);
                break;
            }
            case 7:  // a tick under any timer id
                tick(in_.word());
                break;
            case 8: {  // size, or any message the sequencer does not know
                const std::uint16_t m = in_.word();
                const std::uint32_t message =
                    (m & 1) != 0 ? MSG_SIZE : static_cast<std::uint32_t>(m >> 1);
                if (message == MSG_INIT_DIALOG || message == MSG_COMMAND || message == MSG_TIMER) {
                    break;  // init comes once; commands and ticks have their own operations
                }
                const std::uintptr_t wParam = in_.word();
                deliver(message, wParam, static_cast<std::intptr_t>(in_.word()) << 3);
                break;
            }
            case 9:  // the window's close command: the host ends the dialog, the handler is not
                     // asked
                closed_ = true;
                break;
            case 10: {  // the n-th call of an operation fails
                const auto which = static_cast<PortOp>(in_.byte() % 8);
                const int n = 1 + in_.byte() % 64;
                const auto status = static_cast<PortStatus>(1 + in_.byte() % 9);
                ports_.failNth(which, n, status);
                break;
            }
            case 11: {  // faults of the unit's line
                const std::uint8_t b = in_.byte();
                auto& dev = ports_.device(unitName_);
                switch (b & 3) {
                    case 0:
                        dev.hangUpTick = ports_.tick() + (b >> 2);
                        break;
                    case 1:
                        dev.lineErrorTicks.insert(ports_.tick() + (b >> 2));
                        break;
                    case 2:
                        dev.sendsAccepted = b >> 2;
                        break;
                    default:
                        dev.refused.insert(static_cast<PortOption>((b >> 2) % 8));
                        break;
                }
                break;
            }
            default: {  // another program takes or frees a port
                const std::string name = portName(1 + in_.byte() % MAPPED_PORTS);
                auto& dev = ports_.device(name);
                dev.busy = !dev.busy;
                break;
            }
        }
    }

    // A host stops the tick when the dialog ends, so no tick follows the end.
    void tick(std::uintptr_t timerId) {
        if (ticks_ >= MAX_TICKS || dialog_.ended) {
            return;
        }
        ++ticks_;
        ports_.setTick(ticks_);
        deliver(MSG_TIMER, timerId, 0);
    }

    // A host delivers a button's command only while the button exists; any other id (Escape's
    // cancel, a stray id) may come at any time.
    void press(std::int32_t id, std::uint16_t notification) {
        const std::int32_t low = id & 0xFFFF;
        if (isButton(low) && !dialog_.has(low)) {
            return;
        }
        deliver(MSG_COMMAND, (std::uintptr_t{notification} << 16) | static_cast<std::uint16_t>(id),
                0);
        if (low == ID_EXIT || low == ID_NO || low == ID_OK) {
            FUZZ_CHECK(dialog_.ended);
            FUZZ_CHECK(!dialog_.timerRunning);
        }
        if (low == ID_NO || low == ID_OK) {
            FUZZ_CHECK(!ports_.device(unitName_).open);
            saidNo_ = saidNo_ || low == ID_NO;
            saidOk_ = saidOk_ || low == ID_OK;
        }
    }

    void deliver(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        const std::int32_t phaseBefore = state_.phase;
        const std::int32_t foundBefore = state_.unitFound;
        const PortHandle portBefore = state_.portFile;
        const bool endedBefore = dialog_.ended;
        const std::size_t callsBefore = ports_.calls.size();
        const std::size_t logBefore = dialog_.log.size();

        FUZZ_CHECK(sequencer_.handleEvent(RecordingDialog::HANDLE, message, wParam, lParam) == 0);

        if (message != MSG_TIMER && message != MSG_COMMAND) {
            FUZZ_CHECK(ports_.calls.size() == callsBefore);
            FUZZ_CHECK(dialog_.log.size() == logBefore);
        }
        if (endedBefore) {
            FUZZ_CHECK(ports_.calls.size() == callsBefore);
        }

        FUZZ_CHECK(state_.phase >= ScanPorts && state_.phase <= Failed);
        FUZZ_CHECK(allowedMove(phaseBefore, state_.phase));
        FUZZ_CHECK(validStep(state_.step));
        FUZZ_CHECK(state_.linesSent >= 0 && state_.linesSent <= state_.lineCount);
        FUZZ_CHECK(static_cast<std::size_t>(state_.lineCount) < state_.imageLines.size());
        FUZZ_CHECK(state_.rxBuffer.size() <= RX_BUFFER_LIMIT);
        if (state_.unitFound == 1) {
            FUZZ_CHECK(state_.portNumber == unitPort_);
        }

        bool opened = false;
        for (std::size_t i = callsBefore; i < ports_.calls.size(); ++i) {
            const PortCall& call = ports_.calls[i];
            if (call.op == PortOp::Send) {
                sent(call, phaseBefore, foundBefore, portBefore);
            }
            opened = opened || (call.op == PortOp::Open && call.status == PortStatus::Ok);
        }
        // Back to the scan: a new attempt, whose exchange starts from its first letter.
        if (state_.phase == ScanPorts && phaseBefore != ScanPorts) {
            sends_ = 0;
            okLines_ = 0;
            failedLine_ = false;
        }
        FUZZ_CHECK(state_.linesSent == okLines_);
        FUZZ_CHECK(dialog_.has(ID_RETRY) == (state_.phase == Failed ||
                                             (state_.phase == Programming && state_.silenceShown)));
        if (state_.phase == Failed) {
            FUZZ_CHECK(state_.failure != NoFailure);
            FUZZ_CHECK(!ports_.device(unitName_).open);
        }

        // One port at a time: the scan closes a candidate before it opens the next.
        if (opened) {
            int openPorts = 0;
            for (const std::string& name : names_) {
                openPorts += ports_.has(name) && ports_.device(name).open ? 1 : 0;
            }
            FUZZ_CHECK(openPorts <= 1);
        }

        const bool success = dialog_.has(ID_OK);
        FUZZ_CHECK(success == (state_.phase == Finished));
        if (success) {
            FUZZ_CHECK(!failedLine_);
            FUZZ_CHECK(okLines_ == state_.lineCount);
            FUZZ_CHECK(sends_ == LETTERS.size() + static_cast<std::size_t>(state_.lineCount));
            FUZZ_CHECK(!dialog_.has(ID_UPLOAD_PROGRESS) && !dialog_.has(ID_UPLOAD_TEXT));
        }
        if (dialog_.has(ID_UPLOAD_PROGRESS)) {
            const auto& bar = dialog_.at(ID_UPLOAD_PROGRESS);
            FUZZ_CHECK(bar.high == state_.lineCount);
            FUZZ_CHECK(bar.position >= 0 && bar.position < state_.lineCount);
        }
        if (dialog_.has(ID_UPLOAD_TEXT)) {
            FUZZ_CHECK(validUploadText(dialog_.at(ID_UPLOAD_TEXT).text));
        }
    }

    // Forward one phase at a time; to the failure screen from the question or the upload; back to
    // the scan when a found unit does not answer, and on Retry.
    static bool allowedMove(std::int32_t from, std::int32_t to) {
        if (to == from || (to == from + 1 && to <= Finished)) {
            return true;
        }
        if (to == Failed) {
            return from == AwaitAnswer || from == Programming;
        }
        return to == ScanPorts && (from == ReadVersion || from == Programming || from == Failed);
    }

    // Every send: the unit was found before this event, it goes to the unit's port, the user
    // has not said No, and it is the next piece of the one exchange the unit expects.
    void sent(const PortCall& call, std::int32_t phaseBefore, std::int32_t foundBefore,
              PortHandle portBefore) {
        FUZZ_CHECK(foundBefore == 1);
        FUZZ_CHECK(phaseBefore == ReadVersion || phaseBefore == Programming);
        FUZZ_CHECK(!saidNo_);
        FUZZ_CHECK(call.name == unitName_);
        FUZZ_CHECK(call.handle == portBefore);
        FUZZ_CHECK(!failedLine_);  // nothing follows a line the port did not take
        if (sends_ < LETTERS.size()) {
            FUZZ_CHECK(call.text == LETTERS[sends_]);
        } else {
            const std::size_t line = sends_ - LETTERS.size();
            FUZZ_CHECK(line < static_cast<std::size_t>(state_.lineCount));
            FUZZ_CHECK(call.text == state_.imageLines[line] + "\r\n");
            if (call.status == PortStatus::Ok) {
                ++okLines_;
            } else {
                failedLine_ = true;
            }
        }
        ++sends_;
    }

    static constexpr std::array<std::string_view, 5> LETTERS = {"Y", "Y", "E", "Y", "P"};

    Input& in_;
    ScriptedPort ports_;
    RecordingDialog dialog_;
    UpgradeState state_;
    UpgradeSequencer sequencer_{state_, ports_, dialog_};
    std::optional<ScriptedUnit> unit_;
    std::int32_t unitPort_ = 1;
    std::string unitName_;
    std::vector<std::string> names_;
    std::int64_t ticks_ = 0;
    bool closed_ = false;
    bool saidNo_ = false;
    bool saidOk_ = false;
    bool failedLine_ = false;
    std::size_t sends_ = 0;
    std::int32_t okLines_ = 0;
};

}  // namespace
}  // namespace vkt5

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vkt5::Input in(data, size);
    vkt5::Run run(in);
    run.go();
    return 0;
}
