// The VKT-5 boot loader's side of the conversation, without any I/O: bytes from the program go
// in through receive(), the unit's answers come out of takeDue() once their time has come. Time is
// whatever the caller says it is (nanoseconds since the simulator started), so tests can run a
// whole upload in a few microseconds of real time.
//
// The unit repeats its identification line while it waits, answers the program's single letters
// in the fixed order Y, Y, E, Y, P, and then takes one Intel HEX record line (ending CR LF) per
// "*" prompt, writing its data into a simulated flash. It is strict: a byte that the dialogue does
// not expect at that point, or one that arrives before the unit's previous answer has gone out, is
// counted as a protocol error (and otherwise ignored, except that record bytes are still
// collected). Output always leaves in the order it was produced.
//
// Two faults replace the version line, the answer to the program's "Y": silence from then on
// (silent-after-ident), or text that never ends a line, for ever (stream-garbage).
//
// Faults that act on the prompts (done-after, silent-after, hangup-after N) replace the prompt
// that would invite record N + 1; with N = 0 that is the first "*", the answer to "P".
//
// A unit that has ended (end-of-file record taken, "Done", silent, mute, streaming, hung up) can
// boot again: after powerUpAfter by itself, or whenever powerUp() is called, as often as
// maxBoots allows. A fresh boot loader starts identifying again; its flash is what the last one
// left (it erases it on "E"), its tally starts from zero, and the faults that end a boot-up
// (silent, silent-after-ident, stream-garbage, done-after, silent-after, hangup-after,
// hangup-at-question) apply to the first boot-up only unless faultEveryUnit is set. What shapes
// the line (latency, delays, noise, stray bytes, echo, the prompt's and version line's form)
// stays for every boot-up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/unit_sim/sim_flash.h"

namespace vkt5::sim {

using SimTime = std::chrono::nanoseconds;

// A garbage line sent by the --noise fault: NUL, DEL, "~junk", CR LF. It is a complete line so
// that a receiver that frames by CR LF can drop it on its own.
inline constexpr std::string_view NOISE_LINE{"\0\x7f~junk\r\n", 9};

// What --stray-before-prompt puts in front of every "*": bytes that form no line (a NUL, as a
// line glitch makes, and a character that is not a line end), so that a receiver has to tell
// a prompt from the tail of unfinished text.
inline constexpr std::string_view STRAY_BYTES{"\0#", 2};

// What --stream-garbage sends, over and over: printable text with no CR, no LF and no "*", so
// that nothing in it can ever complete a line or pass for a prompt.
inline constexpr std::string_view GARBAGE_TEXT{
    "no line end here 0123456789 abcdefghijklmnopqrstuvwxyz "};
// The stream comes in steps this far apart, each one's share of the rate.
inline constexpr SimTime GARBAGE_STEP = std::chrono::milliseconds(10);

struct UnitBehaviour {
    std::string versionLine = "VKT5 V1.001";  // without its CR LF
    SimTime identInterval = std::chrono::milliseconds(100);
    SimTime eraseDelay{0};
    SimTime recordDelay{0};
    SimTime replyLatency{0};  // held before reaching the program: every byte the unit sends
    // A noise line halfway between identification lines, and one this long before each
    // "E or P?", "Erased" and "*".
    bool noise = false;
    SimTime noiseGap = std::chrono::milliseconds(50);
    bool silent = false;
    bool silentAfterIdent = false;
    bool streamGarbage = false;
    std::uint64_t garbageRate = 5760;  // bytes per second; what a 57600 8N1 line carries
    bool starCrLf = false;
    bool strayBeforePrompt = false;
    // Echoes record lines, not the single-letter answers: the boot loader reads a letter as a
    // menu key, and an echoed letter would run into the line after it, which no program could
    // then read as "E or P?".
    bool echo = false;
    std::optional<std::uint64_t> doneAfter;
    std::optional<std::uint64_t> silentAfter;
    std::optional<std::uint64_t> hangupAfter;
    // The port goes away this long after the version line went out, unless the "Y" that
    // confirms the upgrade came first: the unit unplugged while the user is asked.
    std::optional<SimTime> hangupAtQuestion;
    // Boot again this long after the unit has ended and its last byte has gone out.
    std::optional<SimTime> powerUpAfter;
    std::optional<std::uint64_t> maxBoots;  // boot-ups in all, the first included
    bool faultEveryUnit = false;
};

// The same behaviour without the faults that end a boot-up.
UnitBehaviour withoutEndingFaults(UnitBehaviour behaviour);

// The version line as the unit will send it, after --version-no-v and --version-lower.
std::string shapeVersionLine(std::string line, bool withoutV, bool lowerCase);

enum class UnitState {
    Silent,            // --silent, or answered under --silent-after-ident: says nothing, every
                       // byte is an error
    Identifying,       // repeats "VKT5", waits for "Y"
    AwaitConfirm,      // version line sent, waits for "Y"
    AwaitChoice,       // "E or P?" sent, waits for "E" or "P"
    AwaitErasedReply,  // "Erased" sent (or due), waits for "Y"
    Programming,       // takes record lines
    Finished,          // end-of-file record taken
    Done,              // said "Done" instead of a prompt
    Streaming,         // --stream-garbage: text without line ends, for ever
    Mute,              // --silent-after: takes records but never prompts again
    HungUp,            // --hangup-after, --hangup-at-question: the port is gone
};

const char* unitStateName(UnitState state);

struct UnitTally {
    std::uint64_t bytesReceived = 0;
    std::uint64_t recordsReceived = 0;
    std::uint64_t badRecords = 0;
    std::uint64_t protocolErrors = 0;
    bool erased = false;
    bool eofSeen = false;
    std::optional<SimTime> programAt;  // when "P" arrived
    std::optional<SimTime> firstRecordAt;
    std::optional<SimTime> lastRecordAt;
    std::optional<SimTime> eofAt;
    std::vector<std::string> notes;  // the first few problems, for the report
};

struct BootSummary {
    UnitState state;
    std::uint64_t recordsReceived;
    bool erased;
    bool eofSeen;
};

class UnitProtocol {
  public:
    static constexpr std::size_t MAX_NOTES = 20;
    // A record line longer than this without CR LF is garbage; it is dropped and counted as bad
    // so that a runaway sender cannot grow the buffer without bound.
    static constexpr std::size_t MAX_LINE = 1024;

    explicit UnitProtocol(UnitBehaviour behaviour, SimTime start = SimTime{0});

    // Bytes that the program wrote, as they arrive at `now`; runs the unit's timers up to `now`
    // first.
    void receive(std::string_view bytes, SimTime now);
    // Runs the unit's own timers (identification and noise lines) up to `now`.
    void advance(SimTime now);
    // Everything due by `now`, in order.
    std::string takeDue(SimTime now);
    // The earliest moment at which advance() or takeDue() has something to do.
    std::optional<SimTime> nextDue() const;
    bool outputPending() const { return !outbox_.empty(); }

    UnitState state() const { return state_; }
    bool hangupRequested() const { return state_ == UnitState::HungUp; }
    // How often the unit has hung up so far, over all boot-ups: a caller that sees this change
    // knows the terminal had to go, even if a new boot-up has followed in the same call.
    std::uint64_t hangUps() const { return hangUps_; }
    // Nothing more will come of this boot-up by itself.
    bool ended() const;

    // A fresh boot loader from `now` on (does nothing beyond maxBoots).
    void powerUp(SimTime now);
    bool canPowerUp() const;
    // When the unit will boot again by itself, if it will.
    std::optional<SimTime> powerUpTime() const;
    std::uint64_t boots() const { return past_.size() + 1; }
    // Every boot-up so far, the current one last.
    std::vector<BootSummary> bootSummaries() const;
    // Boot-ups that took the end-of-file record.
    std::uint64_t unitsUpgraded() const;
    const UnitTally& tally() const { return tally_; }
    const SimFlash& flash() const { return flash_; }
    // Every record line received in Programming, without its CR LF, in arrival order.
    const std::vector<std::string>& recordLines() const { return recordLines_; }

    // Called with a short description of each thing the unit does or notices.
    std::function<void(SimTime, const std::string&)> trace;

  private:
    struct Pending {
        SimTime due;
        std::string bytes;
    };

    void boot(SimTime now);
    BootSummary summary() const;
    void markEnd(SimTime now);
    void receiveByte(char byte, SimTime now);
    void receiveRecordByte(char byte, SimTime now, const std::function<void()>& timely);
    void takeRecordLine(std::string line, SimTime now);
    void applyRecord(const std::string& line);
    void answer(std::string bytes, SimTime now, SimTime delay, bool withNoise);
    void prompt(SimTime now, SimTime delay);
    void schedule(SimTime due, std::string bytes);
    void hangUp(SimTime now, const std::string& why);
    void runTimers(SimTime now);
    void streamGarbage(SimTime now);
    void protocolError(std::string what, SimTime now);
    void note(std::string what);
    void log(SimTime now, const std::string& what);

    UnitBehaviour given_;      // as asked for: the first boot-up's behaviour
    UnitBehaviour behaviour_;  // this boot-up's
    UnitState state_ = UnitState::Identifying;
    UnitTally tally_;
    SimFlash flash_;
    std::deque<Pending> outbox_;
    SimTime lastDue_{0};
    SimTime replyDue_{0};  // the unit's last answer goes out at this time
    SimTime nextIdent_{0};
    SimTime nextNoise_{0};
    std::optional<SimTime> hangupAt_;
    std::optional<SimTime> endedAt_;  // when the unit had ended and said its last
    std::uint64_t hangUps_ = 0;
    std::vector<BootSummary> past_;
    SimTime nextGarbage_{0};
    std::uint64_t garbageSteps_ = 0;
    std::size_t garbageAt_ = 0;  // where in GARBAGE_TEXT the next byte comes from
    std::string line_;           // record text received so far
    bool lineOverflow_ = false;
    std::vector<std::string> recordLines_;
};

}  // namespace vkt5::sim
