#include "cli/cli_app.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <vector>

#include "app/startup.h"
#include "app/upgrade_sequencer.h"
#include "app/upgrade_state.h"
#include "cli/cli_format.h"
#include "cli/headless_host.h"
#include "firmware/image_line_table.h"
#include "serial/port_scan.h"

namespace vkt5::cli {

namespace {

constexpr std::int64_t BEAT_MICROS = TICK_INTERVAL_MS * 1000;
constexpr std::int64_t REDRAW_MICROS = 100'000;  // the live progress line, at most this often

std::string failureText(std::int32_t failure, std::int32_t linesSent) {
    switch (failure) {
        case PortLost:
            return linesSent == 0 ? "the unit was disconnected before any line was sent"
                                  : "the unit was disconnected";
        case EndedEarly:
            return "the unit ended the programming early";
        case SendFailed:
            return "a line could not be sent to the unit";
        default:
            return "the upgrade stopped";
    }
}

bool isYes(std::string answer) {
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    answer.erase(0, answer.find_first_not_of(" \t\r"));
    answer.erase(answer.find_last_not_of(" \t\r") + 1);
    return answer == "y" || answer == "yes";
}

struct Unit {
    Unit(std::vector<PortArgument> given, SerialPortService& ports, Pacing pacing)
        : portArgs(std::move(given)), sequencer(state, ports, host, pacing) {}

    std::string label() const {
        if (state.portNumber < 1) {
            return "?";
        }
        if (portArgs.empty()) {
            return "COM" + std::to_string(state.portNumber);
        }
        return portArgs[static_cast<std::size_t>(state.portNumber - 1)].shown;
    }

    std::vector<PortArgument> portArgs;
    UpgradeState state;
    HeadlessHost host;
    UpgradeSequencer sequencer;
    bool active = true;
    std::int32_t seenPhase = ScanPorts;
    std::int64_t waitSince = 0;
    std::int64_t uploadSince = 0;
    std::int64_t drawnAt = 0;
    std::int32_t reportedLines = -1;
    int reportedDecile = 0;
    int reportedPercent = -1;
    std::int32_t seenSilence = 0;
    std::string port;  // where the unit was found
};

class Run {
  public:
    Run(const CliOptions& options, CliPlatform& platform, SerialPortService& ports,
        const std::function<void(const std::string&)>& csvLog)
        : o_(options), platform_(platform), ports_(ports), csvLog_(csvLog) {}

    int upgrade(std::string_view image);
    int list();

  private:
    bool human() const { return !o_.json && !o_.quiet; }
    // What happens along the way (found, upgrading, progress off a terminal): not in bench mode,
    // which prints one line per unit.
    bool chatty() const { return human() && !o_.loop; }
    void say(const std::string& line);
    void sayAlways(const std::string& line);
    void event(const std::string& name, const JsonFields& fields);
    void clearLiveLine();

    void observe(Unit& unit);
    void found(Unit& unit);
    void progress(Unit& unit, bool last);
    void finish(Unit& unit, UnitResult result, const std::string& detail = {});
    void answer(Unit& unit, bool yes);
    void endUnit(Unit& unit, std::int32_t command);
    void onInterrupt();
    void onInput();
    void leaveUploads();
    void stopAll();
    void checkTimeout(Unit& unit, std::int64_t now);

    const CliOptions& o_;
    CliPlatform& platform_;
    SerialPortService& ports_;
    const std::function<void(const std::string&)>& csvLog_;
    std::vector<std::unique_ptr<Unit>> units_;
    std::vector<UnitRecord> records_;
    Unit* asking_ = nullptr;    // the unit whose question waits for a line
    bool askingLeave_ = false;  // "leave it half programmed?" waits for a line
    bool leaveArmed_ = false;   // without a terminal: the next Ctrl+C leaves
    bool liveLine_ = false;     // a progress line stands on the terminal without its end
    bool several_ = false;
    bool stopped_ = false;
};

// Bench mode keeps one line per unit: the live line is wiped, not ended, before the next.
void Run::clearLiveLine() {
    if (liveLine_) {
        platform_.out(o_.loop ? "\r\x1b[K" : "\n");
        liveLine_ = false;
    }
}

void Run::say(const std::string& line) {
    if (human()) {
        sayAlways(line);
    }
}

void Run::sayAlways(const std::string& line) {
    clearLiveLine();
    platform_.out(line + "\n");
}

void Run::event(const std::string& name, const JsonFields& fields) {
    if (o_.json) {
        platform_.out(jsonEvent(name, fields) + "\n");
    }
}

int Run::upgrade(std::string_view image) {
    std::vector<std::vector<PortArgument>> portSets;
    several_ = o_.yes && o_.ports.size() > 1;
    if (several_) {
        for (const PortArgument& port : o_.ports) {
            portSets.push_back({port});
        }
    } else {
        portSets.push_back(o_.ports);
    }

    const Pacing pacing = o_.fast ? Pacing::Fast : Pacing::Ticks;
    const std::int64_t start = platform_.nowMicros();
    for (auto& ports : portSets) {
        auto unit = std::make_unique<Unit>(ports, ports_, pacing);
        if (!initialiseState(unit->state, image)) {
            platform_.err(std::string("vkt5-upgrade-cli: ") + std::string(IMAGE_ERROR_TEXT) + "\n");
            return 3;
        }
        for (const PortArgument& port : ports) {
            unit->state.scanNames.push_back(port.open);
        }
        unit->waitSince = start;
        unit->sequencer.handleEvent(nullptr, MSG_INIT_DIALOG, 0, 0);
        units_.push_back(std::move(unit));
    }

    std::string where = "COM1 to COM49";
    if (!o_.ports.empty()) {
        where.clear();
        for (const PortArgument& port : o_.ports) {
            where += (where.empty() ? "" : ", ") + port.shown;
        }
    }
    say((several_ ? "Looking for VKT-5 units on " : "Looking for VKT-5 on ") + where +
        (o_.loop ? ", one unit after another (Ctrl+C to end)" : " (Ctrl+C to stop)"));
    event("searching", {{"ports", where}});

    // The beat falls due every 15 ms from the start; a beat that is late is not made up, as a
    // window timer does not make up its ticks either.
    std::int64_t beatDue = start + BEAT_MICROS;
    while (!stopped_ &&
           std::any_of(units_.begin(), units_.end(), [](const auto& u) { return u->active; })) {
        std::vector<std::intptr_t> handles;
        if (o_.fast && platform_.portWaits()) {
            for (const auto& unit : units_) {
                if (unit->active && unit->host.watched() != SerialPortService::NO_WAIT_HANDLE) {
                    handles.push_back(unit->host.watched());
                }
            }
        }
        const Wake wake = platform_.wait(beatDue, handles, asking_ != nullptr || askingLeave_);
        if (wake.interrupt) {
            onInterrupt();
        }
        if (wake.input && (asking_ != nullptr || askingLeave_)) {
            onInput();
        }
        for (const std::intptr_t handle : wake.ready) {
            for (const auto& unit : units_) {
                if (unit->active && unit->host.watched() == handle) {
                    unit->sequencer.handleEvent(nullptr, MSG_PORT_DATA, 0, 0);
                    observe(*unit);
                }
            }
        }
        const std::int64_t now = platform_.nowMicros();
        if (now >= beatDue) {
            beatDue += BEAT_MICROS;
            if (beatDue <= now) {
                beatDue = now + BEAT_MICROS;
            }
            for (const auto& unit : units_) {
                if (unit->active && unit->host.ticking()) {
                    unit->sequencer.handleEvent(nullptr, MSG_TIMER, TICK_ID, 0);
                    observe(*unit);
                    checkTimeout(*unit, now);
                }
            }
        }
    }
    clearLiveLine();

    int status = 0;
    for (const UnitRecord& record : records_) {
        status = std::max(status, exitStatusOf(record.result));
    }
    if (records_.empty() && !o_.loop) {
        status = exitStatusOf(UnitResult::NotFound);
    }
    if (several_ && !o_.quiet && !o_.json) {
        // In the order the ports were given, not the order the units ended in.
        auto position = [this](const UnitRecord& record) {
            return std::find_if(
                       o_.ports.begin(), o_.ports.end(),
                       [&](const PortArgument& port) { return port.shown == record.port; }) -
                   o_.ports.begin();
        };
        std::stable_sort(
            records_.begin(), records_.end(),
            [&](const UnitRecord& a, const UnitRecord& b) { return position(a) < position(b); });
        platform_.out("\n" + summaryTable(records_));
    }
    event("end", {{"exit_status", jsonNumber(status)}});
    return status;
}

void Run::checkTimeout(Unit& unit, std::int64_t now) {
    const std::int32_t phase = unit.state.phase;
    if (!unit.active || !o_.timeoutSeconds || phase > ReadVersion ||
        static_cast<double>(now - unit.waitSince) / 1e6 < *o_.timeoutSeconds) {
        return;
    }
    // In bench mode the wait for a next unit simply ends; the units so far have their lines.
    const bool hadOne = std::any_of(records_.begin(), records_.end(),
                                    [&](const UnitRecord& r) { return r.port == unit.port; });
    if (o_.loop && hadOne) {
        say("No further unit within " + formatDuration(*o_.timeoutSeconds) + "; ending.");
        endUnit(unit, ID_EXIT);
        return;
    }
    unit.port = unit.portArgs.size() == 1 ? unit.portArgs[0].shown : std::string("-");
    finish(unit, UnitResult::NotFound);
}

void Run::observe(Unit& unit) {
    if (!unit.active) {
        return;
    }
    UpgradeState& state = unit.state;
    if (state.phase != unit.seenPhase) {
        const std::int32_t was = unit.seenPhase;
        unit.seenPhase = state.phase;
        switch (state.phase) {
            case ScanPorts:
                if (was == ReadVersion) {
                    say("A unit on " + unit.port + " gave no version; searching on.");
                    event("no_version", {{"port", unit.port}});
                }
                break;
            case DrainInput:
            case ReadVersion:
                unit.port = unit.label();
                break;
            case AwaitAnswer:
                found(unit);
                break;
            case Programming:
                unit.uploadSince = platform_.nowMicros();
                if (chatty()) {
                    say("Upgrading VKT-5 on " + unit.port + " to " + std::string(IMAGE_VERSION) +
                        "; do not disconnect it.");
                }
                event("upgrading", {{"port", unit.port}, {"total", jsonNumber(state.lineCount)}});
                break;
            case Finished:
                progress(unit, true);
                finish(unit, UnitResult::Upgraded);
                return;
            case Failed:
                progress(unit, true);
                finish(unit, UnitResult::Failed, failureText(state.failure, state.linesSent));
                return;
            default:
                break;
        }
    }
    if (state.phase == Programming) {
        progress(unit, false);
        if (state.silenceShown != unit.seenSilence) {
            unit.seenSilence = state.silenceShown;
            if (state.silenceShown == 1) {
                say("VKT-5 on " + unit.port + " has not answered for " +
                    std::to_string(
                        (state.step == AwaitErased ? ERASE_SILENCE_TICKS : SILENCE_TICKS) *
                        TICK_INTERVAL_MS / 1000) +
                    " s; still waiting (Ctrl+C to stop).");
                event("silent", {{"port", unit.port}, {"lines", jsonNumber(state.linesSent)}});
            } else {
                say("VKT-5 on " + unit.port + " answers again.");
                event("answering", {{"port", unit.port}});
            }
        }
    }
}

void Run::found(Unit& unit) {
    const UpgradeState& state = unit.state;
    const std::string carried(IMAGE_VERSION);
    event("found", {{"port", unit.port}, {"installed", state.unitVersion}, {"new", carried}});
    if (o_.info) {
        if (!o_.json) {
            sayAlways("VKT-5 on " + unit.port + ": installed " + state.unitVersion +
                      ", this program carries " + carried);
        }
        finish(unit, UnitResult::Shown);
        return;
    }
    if (chatty()) {
        say("VKT-5 on " + unit.port + ": installed " + state.unitVersion + ", new " + carried);
    }
    if (o_.yes) {
        answer(unit, true);
        return;
    }
    asking_ = &unit;
    const std::string question = "Upgrade VKT-5 on " + unit.port + " from " + state.unitVersion +
                                 " to " + carried + "? [y/N] ";
    clearLiveLine();
    // With --json, standard output belongs to the events.
    if (o_.json) {
        platform_.err(question);
    } else {
        platform_.out(question);
    }
}

void Run::answer(Unit& unit, bool yes) {
    event("answer", {{"port", unit.port}, {"upgrade", yes ? "yes" : "no"}});
    if (yes) {
        unit.sequencer.handleEvent(nullptr, MSG_COMMAND, ID_YES, 0);
        observe(unit);
    } else {
        finish(unit, UnitResult::Declined);
    }
}

void Run::progress(Unit& unit, bool last) {
    const UpgradeState& state = unit.state;
    if (state.linesSent == unit.reportedLines) {
        return;
    }
    const std::int64_t now = platform_.nowMicros();
    const double elapsed = static_cast<double>(now - unit.uploadSince) / 1e6;
    if (o_.json) {
        const int percent =
            state.lineCount > 0
                ? static_cast<int>(static_cast<long long>(state.linesSent) * 100 / state.lineCount)
                : 0;
        if (percent != unit.reportedPercent) {
            unit.reportedPercent = percent;
            event("progress", {{"port", unit.port},
                               {"lines", jsonNumber(state.linesSent)},
                               {"total", jsonNumber(state.lineCount)},
                               {"percent", jsonNumber(percent)}});
        }
    } else if (!human()) {
        // nothing
    } else if (platform_.outputIsTerminal() && !several_) {
        // The question whether to leave stays on the line until it is answered.
        if (askingLeave_ || (!last && now - unit.drawnAt < REDRAW_MICROS)) {
            return;
        }
        unit.drawnAt = now;
        platform_.out("\r" + progressLine(state.linesSent, state.lineCount, elapsed) + "\x1b[K");
        liveLine_ = true;
    } else if (chatty()) {
        const int decile = progressDecile(state.linesSent, state.lineCount);
        if (decile > unit.reportedDecile) {
            unit.reportedDecile = decile;
            platform_.out(progressStepLine(unit.port, state.linesSent, state.lineCount, elapsed) +
                          "\n");
        }
    }
    unit.reportedLines = state.linesSent;
}

void Run::finish(Unit& unit, UnitResult result, const std::string& detail) {
    const UpgradeState& state = unit.state;
    UnitRecord record;
    record.port = unit.port;
    record.installed = state.unitVersion;
    record.carried = std::string(IMAGE_VERSION);
    record.result = result;
    record.detail = detail;
    record.linesSent = state.linesSent;
    record.lineCount = state.lineCount;
    if (unit.uploadSince != 0) {
        record.seconds = static_cast<double>(platform_.nowMicros() - unit.uploadSince) / 1e6;
    }
    records_.push_back(record);
    if (result != UnitResult::Shown) {
        if (o_.loop && !several_) {
            say("#" + std::to_string(records_.size()) + "  " + platform_.utcTime() + "  " +
                summaryLine(record));
        } else {
            say(summaryLine(record));
        }
    }
    event("result", unitFields(record));
    if (csvLog_) {
        csvLog_(csvRow(platform_.utcTime(), record));
    }

    // Bench mode goes on to the next unit after an upgrade or a failure; a "no", --info or no
    // unit in time ends it.
    if (o_.loop && !stopped_ && (result == UnitResult::Upgraded || result == UnitResult::Failed)) {
        unit.sequencer.startOver();
        unit.seenPhase = ScanPorts;
        unit.waitSince = platform_.nowMicros();
        unit.uploadSince = 0;
        unit.reportedLines = -1;
        unit.reportedDecile = 0;
        unit.reportedPercent = -1;
        unit.seenSilence = 0;
        event("waiting", {});
        return;
    }
    switch (result) {
        case UnitResult::Upgraded:
            endUnit(unit, ID_OK);
            break;
        case UnitResult::Shown:
        case UnitResult::Declined:
            endUnit(unit, ID_NO);
            break;
        default:
            endUnit(unit, ID_EXIT);
            break;
    }
}

void Run::endUnit(Unit& unit, std::int32_t command) {
    unit.sequencer.handleEvent(nullptr, MSG_COMMAND, static_cast<std::uintptr_t>(command), 0);
    unit.active = false;
    if (asking_ == &unit) {
        asking_ = nullptr;
    }
}

void Run::onInput() {
    const std::optional<std::string> line = platform_.readLine();
    const bool yes = line && isYes(*line);
    if (askingLeave_) {
        askingLeave_ = false;
        if (yes) {
            leaveUploads();
        } else {
            say("Going on.");
        }
        return;
    }
    Unit* unit = asking_;
    asking_ = nullptr;
    if (!line) {
        platform_.out("\n");
    }
    answer(*unit, yes);
}

void Run::onInterrupt() {
    const bool uploading = std::any_of(units_.begin(), units_.end(), [](const auto& unit) {
        return unit->active && unit->state.phase == Programming;
    });
    if (!uploading || leaveArmed_ || askingLeave_) {
        if (uploading) {
            leaveUploads();
        }
        stopAll();
        return;
    }
    // Stopping now leaves a unit that will not start until it is programmed again: ask first.
    if (platform_.inputIsTerminal()) {
        askingLeave_ = true;
        clearLiveLine();
        const std::string question = "An upload is running; leave the unit half programmed? [y/N] ";
        if (o_.json) {
            platform_.err(question);
        } else {
            platform_.out(question);
        }
    } else {
        leaveArmed_ = true;
        clearLiveLine();
        platform_.err("An upload is running; Ctrl+C again leaves the unit half programmed.\n");
    }
    event("interrupt", {});
}

void Run::leaveUploads() {
    for (const auto& unit : units_) {
        if (unit->active && unit->state.phase == Programming) {
            stopped_ = true;
            finish(*unit, UnitResult::Left, "stopped by the user");
        }
    }
    stopAll();
}

void Run::stopAll() {
    stopped_ = true;
    for (const auto& unit : units_) {
        if (!unit->active) {
            continue;
        }
        if (asking_ == unit.get()) {
            clearLiveLine();
            platform_.out("\n");
            finish(*unit, UnitResult::Declined);
        } else {
            endUnit(*unit, ID_EXIT);
        }
    }
    asking_ = nullptr;
    askingLeave_ = false;
}

int Run::list() {
    UpgradeState state;
    std::vector<std::string> shown;
    for (const PortArgument& port : o_.ports) {
        state.scanNames.push_back(port.open);
        shown.push_back(port.shown);
    }
    const std::int32_t count = scanPortCount(state);
    state.identification = "VKT5\r\n";
    // One walk of the scan over every port: a unit it finds is let go at once, before the
    // dialogue would send it anything.
    std::int64_t beatDue = platform_.nowMicros() + BEAT_MICROS;
    while (true) {
        const Wake wake = platform_.wait(beatDue, {}, false);
        if (wake.interrupt) {
            return 2;
        }
        if (!wake.beat) {
            continue;
        }
        beatDue += BEAT_MICROS;
        scanTick(state, ports_);
        if (state.unitFound == 1) {
            ports_.closePort(state.portFile);
            state.portOpen = 0;
            state.unitFound = 0;
        }
        if (state.portOpen == 0 && state.portNumber == count) {
            break;
        }
    }
    for (std::int32_t n = 1; n <= count; ++n) {
        const std::string name =
            shown.empty() ? "COM" + std::to_string(n) : shown[static_cast<std::size_t>(n - 1)];
        const OpenDetail& report = portReport(state, n);
        if (o_.json) {
            event("port", {{"port", name},
                           {"device", report.device},
                           {"state", toString(report.state)},
                           {"text", portStateText(report.state, platform_.posix())}});
        } else {
            platform_.out(portListLine(name, report, platform_.posix()) + "\n");
        }
    }
    event("end", {{"exit_status", jsonNumber(0)}});
    return 0;
}

}  // namespace

int runCli(const CliOptions& options, CliPlatform& platform, SerialPortService& ports,
           std::string_view image, const std::function<void(const std::string&)>& csvLog) {
    Run run(options, platform, ports, csvLog);
    if (options.list) {
        return run.list();
    }
    if (!options.yes && !options.info && !platform.inputIsTerminal()) {
        platform.err(
            "vkt5-upgrade-cli: no terminal to ask whether to upgrade; nothing done (add --yes to "
            "upgrade without asking)\n");
        return exitStatusOf(UnitResult::Declined);
    }
    return run.upgrade(image);
}

}  // namespace vkt5::cli
