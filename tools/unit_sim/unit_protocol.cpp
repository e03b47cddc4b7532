#include "tools/unit_sim/unit_protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

namespace vkt5::sim {

namespace {

const std::string IDENT_LINE = "VKT5\r\n";
const std::string CHOICE_LINE = "E or P?\r\n";
const std::string ERASED_LINE = "Erased\r\n";
const std::string DONE_LINE = "Done\r\n";

std::string describeByte(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    char text[32];
    if (value >= 0x21 && value < 0x7F) {
        std::snprintf(text, sizeof text, "'%c' (0x%02X)", value, value);
    } else {
        std::snprintf(text, sizeof text, "0x%02X", value);
    }
    return text;
}

}  // namespace

std::string shapeVersionLine(std::string line, bool withoutV, bool lowerCase) {
    if (withoutV) {
        if (const auto at = line.find(" V"); at != std::string::npos) {
            line.erase(at + 1, 1);
        }
    }
    if (lowerCase) {
        std::transform(line.begin(), line.end(), line.begin(), [](char c) {
            return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        });
    }
    return line;
}

const char* unitStateName(UnitState state) {
    switch (state) {
        case UnitState::Silent:
            return "silent";
        case UnitState::Streaming:
            return "streaming";
        case UnitState::Identifying:
            return "identifying";
        case UnitState::AwaitConfirm:
            return "await-confirm";
        case UnitState::AwaitChoice:
            return "await-choice";
        case UnitState::AwaitErasedReply:
            return "await-erased-reply";
        case UnitState::Programming:
            return "programming";
        case UnitState::Finished:
            return "finished";
        case UnitState::Done:
            return "done";
        case UnitState::Mute:
            return "mute";
        case UnitState::HungUp:
            return "hung-up";
    }
    return "?";
}

namespace {

// After a stall of more than a beat the unit carries on from now instead of making up every
// missed beat in one burst.
SimTime nextBeat(SimTime beat, SimTime interval, SimTime now) {
    const SimTime next = beat + interval;
    return next + interval <= now ? now : next;
}

}  // namespace

UnitBehaviour withoutEndingFaults(UnitBehaviour behaviour) {
    behaviour.silent = false;
    behaviour.silentAfterIdent = false;
    behaviour.streamGarbage = false;
    behaviour.doneAfter.reset();
    behaviour.silentAfter.reset();
    behaviour.hangupAfter.reset();
    behaviour.hangupAtQuestion.reset();
    return behaviour;
}

UnitProtocol::UnitProtocol(UnitBehaviour behaviour, SimTime start)
    : given_(std::move(behaviour)), behaviour_(given_) {
    boot(start);
}

void UnitProtocol::boot(SimTime now) {
    state_ = behaviour_.silent ? UnitState::Silent : UnitState::Identifying;
    std::vector<std::string> notes = std::move(tally_.notes);
    tally_ = UnitTally{};
    tally_.notes = std::move(notes);
    outbox_.clear();
    lastDue_ = replyDue_ = nextIdent_ = now;
    nextNoise_ = now + behaviour_.identInterval / 2;
    nextGarbage_ = now;
    garbageSteps_ = 0;
    garbageAt_ = 0;
    line_.clear();
    lineOverflow_ = false;
    recordLines_.clear();
    hangupAt_.reset();
    endedAt_.reset();
    markEnd(now);
}

void UnitProtocol::powerUp(SimTime now) {
    if (!canPowerUp()) {
        return;
    }
    past_.push_back(summary());
    behaviour_ = given_.faultEveryUnit ? given_ : withoutEndingFaults(given_);
    boot(now);
    log(now, "powered up: boot-up " + std::to_string(boots()));
}

bool UnitProtocol::canPowerUp() const {
    return !given_.maxBoots || boots() < *given_.maxBoots;
}

bool UnitProtocol::ended() const {
    switch (state_) {
        case UnitState::Identifying:
        case UnitState::AwaitConfirm:
        case UnitState::AwaitChoice:
        case UnitState::AwaitErasedReply:
        case UnitState::Programming:
            return false;
        case UnitState::Silent:
        case UnitState::Streaming:
        case UnitState::Finished:
        case UnitState::Done:
        case UnitState::Mute:
        case UnitState::HungUp:
            return true;
    }
    return false;
}

// Called after everything that can end the unit, once its last words are scheduled.
void UnitProtocol::markEnd(SimTime now) {
    if (ended() && !endedAt_) {
        endedAt_ = std::max(now, lastDue_);
    }
}

std::optional<SimTime> UnitProtocol::powerUpTime() const {
    if (!endedAt_ || !behaviour_.powerUpAfter || !canPowerUp()) {
        return std::nullopt;
    }
    return *endedAt_ + *behaviour_.powerUpAfter;
}

BootSummary UnitProtocol::summary() const {
    return {state_, tally_.recordsReceived, tally_.erased, tally_.eofSeen};
}

std::vector<BootSummary> UnitProtocol::bootSummaries() const {
    std::vector<BootSummary> all = past_;
    all.push_back(summary());
    return all;
}

std::uint64_t UnitProtocol::unitsUpgraded() const {
    std::uint64_t upgraded = 0;
    for (const BootSummary& boot : bootSummaries()) {
        upgraded += boot.eofSeen ? 1 : 0;
    }
    return upgraded;
}

void UnitProtocol::receive(std::string_view bytes, SimTime now) {
    // The unit's own timers run first: an identification line due before these bytes arrived
    // was already on its way.
    advance(now);
    for (const char byte : bytes) {
        if (state_ == UnitState::HungUp) {
            break;
        }
        ++tally_.bytesReceived;
        receiveByte(byte, now);
    }
    markEnd(now);
}

void UnitProtocol::receiveByte(char byte, SimTime now) {
    // The program answers what it has read, so a byte that arrives before the unit's answer has
    // even gone out means it did not wait for it.
    const auto timely = [&] {
        if (now < replyDue_) {
            protocolError("byte " + describeByte(byte) + " before the unit's answer went out", now);
        }
    };
    switch (state_) {
        case UnitState::Identifying:
            if (byte == 'Y') {
                log(now, "identification answered");
                if (behaviour_.silentAfterIdent) {
                    log(now, "falling silent instead of the version line");
                    state_ = UnitState::Silent;
                    return;
                }
                if (behaviour_.streamGarbage) {
                    log(now, "streaming text without line ends instead of the version line");
                    state_ = UnitState::Streaming;
                    nextGarbage_ = now;
                    return;
                }
                answer(behaviour_.versionLine + "\r\n", now, SimTime{0}, false);
                state_ = UnitState::AwaitConfirm;
                if (behaviour_.hangupAtQuestion) {
                    hangupAt_ = lastDue_ + *behaviour_.hangupAtQuestion;
                }
                return;
            }
            break;
        case UnitState::AwaitConfirm:
            if (byte == 'Y') {
                timely();
                log(now, "upgrade confirmed");
                answer(CHOICE_LINE, now, SimTime{0}, true);
                state_ = UnitState::AwaitChoice;
                return;
            }
            break;
        case UnitState::AwaitChoice:
            if (byte == 'E') {
                timely();
                log(now, "erase requested");
                tally_.erased = true;
                flash_ = SimFlash{};
                answer(ERASED_LINE, now, behaviour_.eraseDelay, true);
                state_ = UnitState::AwaitErasedReply;
                return;
            }
            if (byte == 'P') {
                timely();
                if (!tally_.erased) {
                    protocolError("programming requested without an erase", now);
                }
                log(now, "programming requested");
                tally_.programAt = now;
                state_ = UnitState::Programming;
                prompt(now, SimTime{0});
                return;
            }
            break;
        case UnitState::AwaitErasedReply:
            if (byte == 'Y') {
                timely();
                answer(CHOICE_LINE, now, SimTime{0}, true);
                state_ = UnitState::AwaitChoice;
                return;
            }
            break;
        case UnitState::Programming:
        case UnitState::Mute:
            receiveRecordByte(byte, now, timely);
            return;
        case UnitState::Silent:
        case UnitState::Streaming:
        case UnitState::Finished:
        case UnitState::Done:
        case UnitState::HungUp:
            break;
    }
    protocolError("unexpected byte " + describeByte(byte) + " in state " + unitStateName(state_),
                  now);
}

void UnitProtocol::receiveRecordByte(char byte, SimTime now, const std::function<void()>& timely) {
    if (lineOverflow_) {
        // Skip to the end of the runaway line, then prompt as for any other line.
        if (byte == '\n' && line_ == "\r") {
            lineOverflow_ = false;
            line_.clear();
            if (state_ == UnitState::Programming) {
                prompt(now, behaviour_.recordDelay);
            }
        } else {
            line_.assign(1, byte);
        }
        return;
    }
    if (line_.empty()) {
        timely();
    }
    line_ += byte;
    if (line_.ends_with("\r\n")) {
        std::string line = std::move(line_);
        line_.clear();
        line.resize(line.size() - 2);
        takeRecordLine(std::move(line), now);
    } else if (line_.size() > MAX_LINE) {
        ++tally_.recordsReceived;
        ++tally_.badRecords;
        note("record " + std::to_string(tally_.recordsReceived) + ": longer than " +
             std::to_string(MAX_LINE) + " bytes without CR LF; dropped");
        recordLines_.push_back(line_);
        lineOverflow_ = true;
        line_.assign(1, byte);
    }
}

void UnitProtocol::takeRecordLine(std::string line, SimTime now) {
    ++tally_.recordsReceived;
    if (!tally_.firstRecordAt) {
        tally_.firstRecordAt = now;
    }
    tally_.lastRecordAt = now;
    applyRecord(line);
    recordLines_.push_back(line);
    if (state_ == UnitState::Mute) {
        return;
    }
    if (behaviour_.echo) {
        answer(line + "\r\n", now, SimTime{0}, false);
    }
    if (tally_.eofSeen) {
        tally_.eofAt = now;
        state_ = UnitState::Finished;
        log(now, "end-of-file record after " + std::to_string(tally_.recordsReceived) + " records");
    }
    // The unit prompts after the end-of-file record as well; the program does not read it.
    prompt(now, behaviour_.recordDelay);
}

void UnitProtocol::applyRecord(const std::string& line) {
    const std::string where = "record " + std::to_string(tally_.recordsReceived) + ": ";
    std::string why;
    const auto record = parseHexRecord(line, &why);
    if (!record) {
        ++tally_.badRecords;
        note(where + why);
        return;
    }
    why = flash_.apply(*record);
    if (!why.empty()) {
        ++tally_.badRecords;
        note(where + why);
        return;
    }
    if (record->type == HEX_END_OF_FILE) {
        tally_.eofSeen = true;
    }
}

void UnitProtocol::prompt(SimTime now, SimTime delay) {
    const std::uint64_t records = tally_.recordsReceived;
    if (behaviour_.hangupAfter && *behaviour_.hangupAfter == records) {
        hangUp(now, "after " + std::to_string(records) + " records");
        return;
    }
    if (behaviour_.doneAfter && *behaviour_.doneAfter == records) {
        log(now, "saying Done after " + std::to_string(records) + " records");
        answer(DONE_LINE, now, delay, false);
        state_ = UnitState::Done;
        return;
    }
    if (behaviour_.silentAfter && *behaviour_.silentAfter == records) {
        log(now, "falling silent after " + std::to_string(records) + " records");
        if (state_ == UnitState::Programming) {
            state_ = UnitState::Mute;
        }
        return;
    }
    std::string star = behaviour_.strayBeforePrompt ? std::string(STRAY_BYTES) : std::string();
    star += behaviour_.starCrLf ? "*\r\n" : "*";
    answer(std::move(star), now, delay, true);
}

void UnitProtocol::answer(std::string bytes, SimTime now, SimTime delay, bool withNoise) {
    SimTime due = now + delay;
    if (withNoise && behaviour_.noise) {
        schedule(due, std::string(NOISE_LINE));
        due += behaviour_.noiseGap;
    }
    schedule(due, std::move(bytes));
    replyDue_ = lastDue_;
}

void UnitProtocol::schedule(SimTime due, std::string bytes) {
    // The adapter holds everything the unit says, its unprompted identification lines included,
    // and never lets a later byte overtake an earlier one.
    due = std::max(due + behaviour_.replyLatency, lastDue_);
    lastDue_ = due;
    outbox_.push_back({due, std::move(bytes)});
}

void UnitProtocol::hangUp(SimTime now, const std::string& why) {
    log(now, "hanging up " + why);
    state_ = UnitState::HungUp;
    ++hangUps_;
    outbox_.clear();
    lastDue_ = now;
}

void UnitProtocol::advance(SimTime now) {
    if (const auto bootAt = powerUpTime(); bootAt && now >= *bootAt) {
        powerUp(now);
    }
    if (state_ == UnitState::AwaitConfirm && hangupAt_ && now >= *hangupAt_) {
        hangUp(now, "at the question");
        markEnd(now);
        return;
    }
    runTimers(now);
    markEnd(now);
}

void UnitProtocol::runTimers(SimTime now) {
    if (state_ == UnitState::Streaming) {
        streamGarbage(now);
        return;
    }
    if (state_ != UnitState::Identifying) {
        return;
    }
    const SimTime interval = behaviour_.identInterval;
    while (true) {
        const bool noiseFirst = behaviour_.noise && nextNoise_ < nextIdent_;
        const SimTime at = noiseFirst ? nextNoise_ : nextIdent_;
        if (at > now) {
            return;
        }
        if (noiseFirst) {
            schedule(at, std::string(NOISE_LINE));
            nextNoise_ = nextBeat(at, interval, now);
        } else {
            schedule(at, IDENT_LINE);
            nextIdent_ = nextBeat(at, interval, now);
        }
    }
}

void UnitProtocol::streamGarbage(SimTime now) {
    constexpr std::uint64_t STEPS_PER_SECOND = std::chrono::seconds(1) / GARBAGE_STEP;
    const std::uint64_t rate = behaviour_.garbageRate;
    while (nextGarbage_ <= now) {
        // Each step's share, so that the steps add up to the rate exactly.
        const std::uint64_t bytes =
            rate * (garbageSteps_ + 1) / STEPS_PER_SECOND - rate * garbageSteps_ / STEPS_PER_SECOND;
        ++garbageSteps_;
        std::string chunk;
        chunk.reserve(bytes);
        for (std::uint64_t i = 0; i < bytes; ++i) {
            chunk += GARBAGE_TEXT[garbageAt_];
            garbageAt_ = (garbageAt_ + 1) % GARBAGE_TEXT.size();
        }
        schedule(nextGarbage_, std::move(chunk));
        nextGarbage_ = nextBeat(nextGarbage_, GARBAGE_STEP, now);
    }
}

std::string UnitProtocol::takeDue(SimTime now) {
    std::string out;
    while (!outbox_.empty() && outbox_.front().due <= now) {
        out += outbox_.front().bytes;
        outbox_.pop_front();
    }
    return out;
}

std::optional<SimTime> UnitProtocol::nextDue() const {
    std::optional<SimTime> next;
    if (!outbox_.empty()) {
        next = outbox_.front().due;
    }
    if (state_ == UnitState::Identifying) {
        SimTime timer = nextIdent_;
        if (behaviour_.noise) {
            timer = std::min(timer, nextNoise_);
        }
        next = next ? std::min(*next, timer) : timer;
    }
    if (state_ == UnitState::Streaming) {
        next = next ? std::min(*next, nextGarbage_) : nextGarbage_;
    }
    if (state_ == UnitState::AwaitConfirm && hangupAt_) {
        next = next ? std::min(*next, *hangupAt_) : *hangupAt_;
    }
    if (const auto bootAt = powerUpTime()) {
        next = next ? std::min(*next, *bootAt) : *bootAt;
    }
    return next;
}

void UnitProtocol::protocolError(std::string what, SimTime now) {
    ++tally_.protocolErrors;
    log(now, "protocol error: " + what);
    note(std::move(what));
}

void UnitProtocol::note(std::string what) {
    if (tally_.notes.size() < MAX_NOTES) {
        tally_.notes.push_back(boots() > 1 ? "boot-up " + std::to_string(boots()) + ": " + what
                                           : std::move(what));
    }
}

void UnitProtocol::log(SimTime now, const std::string& what) {
    if (trace) {
        trace(now, what);
    }
}

}  // namespace vkt5::sim
