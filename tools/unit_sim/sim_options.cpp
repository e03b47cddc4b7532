#include "tools/unit_sim/sim_options.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <map>

namespace vkt5::sim {

const char* const SIM_USAGE = R"(usage: vkt5-unit-sim [options]

Plays a VKT-5 boot loader on a new pseudo-terminal. The first line on standard output is the
terminal's device path; point VKT5_PORTS at it (or at --link). Each new terminal after a hang-up
and power-up adds a line with its path.

  --link PATH            also make PATH a symbolic link to the device (removed on exit)
  --ident-interval MS    repeat "VKT5" CR LF this often while waiting (default 100)
  --version-line TEXT    the version line, without CR LF (default "VKT5 V1.001")
  --version-lower        send the version line in lower case
  --version-no-v         drop the "V" of the first " V" in the version line
  --erase-delay MS       wait this long after "E" before "Erased" (default 0)
  --record-delay MS      wait this long after each record before the prompt (default 0)
  --reply-latency MS     hold every byte the unit sends this long, like a USB adapter
                         (identification lines too: some sent before the program's "Y"
                         arrive after it, ahead of the version line) (default 0)
  --baud-pace            pace both directions as a 57600 8N1 line (about 173.6 us per byte)
faults:
  --silent               never send anything
  --done-after N         answer "Done" CR LF instead of the prompt for record N+1
  --silent-after N       send no prompt for record N+1 or later
  --silent-after-ident   answer the identification's "Y" with nothing, ever (no version line)
  --stream-garbage       answer the identification's "Y" with text that never ends a line, for
                         ever, in 10 ms steps
  --garbage-rate N       bytes per second of --stream-garbage (default 5760, a 57600 line full)
  --hangup-after N       close the terminal instead of the prompt for record N+1
  --hangup-at-question MS
                         close the terminal MS ms after the version line went out, while the
                         unit waits for the "Y" that confirms the upgrade (unplugged)
  --noise                noise line (NUL DEL "~junk" CR LF) halfway between identification
                         lines and --noise-gap before each "E or P?", "Erased" and "*"
  --noise-gap MS         (default 50; 0 puts the noise line in the same write as the line)
  --star-crlf            prompt with "*" CR LF instead of a bare "*"
  --stray-before-prompt  put NUL "#" (no line end) just before every "*", in the same write
  --echo                 send each record line back (with CR LF) at once, before its prompt;
                         without a --record-delay both go out in one write. The single-letter
                         answers are not echoed (an echoed letter would run into the next line)
power-ups:
  --power-up-after MS    once the unit has ended (end-of-file record taken, Done, silent,
                         streaming, hung up), boot a fresh boot loader MS ms after its last
                         byte went out: after a hang-up on a new terminal (--link is renamed
                         over to point at it; until then it points at the closed one), else on
                         the same one. The flash persists until the next "E"
  --units N              at most N boot-ups in all, the first included (default: no limit);
                         after the last one the simulator ends as without power-ups
  --fault-every-unit     the faults that end a boot-up (--silent, --silent-after-ident,
                         --stream-garbage, --done-after, --silent-after, --hangup-after,
                         --hangup-at-question) apply to every boot-up, not only the first;
                         the others (latency, delays, noise, stray bytes, echo) always do
  SIGUSR1                boot a fresh boot loader now, whatever the unit is doing (as a
                         power cycle; counts against --units)
results:
  --report PATH          key: value lines (records_received, bad_records, protocol_errors, ...)
                         of the last boot-up; boot_ups, units (boot-ups that took the
                         end-of-file record) and one "boot: N STATE records=.." line each
  --flash-hex PATH       the programmed flash as Intel HEX
  --flash-bin PATH       the programmed flash as one binary, lowest to highest address
  --compare-image PATH   add flash_matches_image and records_in_order against this image
  --wire-log PATH        every byte each way, one line per read or write of the terminal:
                         SECONDS.MICROSECONDS DIRECTION BYTES, seconds since the start,
                         DIRECTION rx (from the program) or tx (to the program), BYTES
                         everything after that space to the line end, printable ASCII as is,
                         \r, \n, and \xNN (upper-case hex) for every other byte and for "\"
ending:
  --exit-after-eof       exit (status 0) 200 ms after answering the end-of-file record, when no
                         power-up is to follow
  --exit-on-close        exit (status 0) when the program closes the port after "P"
  --exit-after-ms N      exit (status 3) after N ms whatever happens
  --verbose              trace the dialogue on standard error
The results are written at exit (also on SIGINT, SIGTERM, SIGHUP: status 0) and whenever the
program closes the port after "P". Status 1: the terminal or a file could not be set up or written;
2: usage error.
)";

namespace {

std::optional<std::uint64_t> parseCount(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

ParsedOptions parseSimOptions(const std::vector<std::string>& args) {
    SimOptions options;
    UnitBehaviour& unit = options.unit;
    bool lower = false;
    bool noV = false;

    using Flag = std::function<void()>;
    const std::map<std::string, Flag> flags = {
        {"--baud-pace", [&] { options.baudPace = true; }},
        {"--silent", [&] { unit.silent = true; }},
        {"--silent-after-ident", [&] { unit.silentAfterIdent = true; }},
        {"--stream-garbage", [&] { unit.streamGarbage = true; }},
        {"--noise", [&] { unit.noise = true; }},
        {"--star-crlf", [&] { unit.starCrLf = true; }},
        {"--stray-before-prompt", [&] { unit.strayBeforePrompt = true; }},
        {"--echo", [&] { unit.echo = true; }},
        {"--version-lower", [&] { lower = true; }},
        {"--version-no-v", [&] { noV = true; }},
        {"--exit-after-eof", [&] { options.exitAfterEof = true; }},
        {"--fault-every-unit", [&] { unit.faultEveryUnit = true; }},
        {"--exit-on-close", [&] { options.exitOnClose = true; }},
        {"--verbose", [&] { options.verbose = true; }},
    };
    const auto ms = [](SimTime& field) {
        return [&field](std::uint64_t value) {
            field = std::chrono::milliseconds(static_cast<std::int64_t>(value));
        };
    };
    const auto optionalMs = [](std::optional<SimTime>& field) {
        return [&field](std::uint64_t value) {
            field = std::chrono::milliseconds(static_cast<std::int64_t>(value));
        };
    };
    const auto count = [](std::optional<std::uint64_t>& field) {
        return [&field](std::uint64_t value) { field = value; };
    };
    using Number = std::function<void(std::uint64_t)>;
    SimTime exitAfter{0};
    bool exitAfterGiven = false;
    const std::map<std::string, Number> numbers = {
        {"--ident-interval", ms(unit.identInterval)},
        {"--erase-delay", ms(unit.eraseDelay)},
        {"--record-delay", ms(unit.recordDelay)},
        {"--reply-latency", ms(unit.replyLatency)},
        {"--noise-gap", ms(unit.noiseGap)},
        {"--done-after", count(unit.doneAfter)},
        {"--silent-after", count(unit.silentAfter)},
        {"--hangup-after", count(unit.hangupAfter)},
        {"--hangup-at-question", optionalMs(unit.hangupAtQuestion)},
        {"--power-up-after", optionalMs(unit.powerUpAfter)},
        {"--units", count(unit.maxBoots)},
        {"--garbage-rate", [&](std::uint64_t value) { unit.garbageRate = value; }},
        {"--exit-after-ms",
         [&](std::uint64_t value) {
             exitAfterGiven = true;
             ms(exitAfter)(value);
         }},
    };
    const std::map<std::string, std::string*> texts = {
        {"--link", &options.linkPath},          {"--version-line", &unit.versionLine},
        {"--report", &options.reportPath},      {"--flash-hex", &options.flashHexPath},
        {"--flash-bin", &options.flashBinPath}, {"--compare-image", &options.compareImagePath},
        {"--wire-log", &options.wireLogPath},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "--help" || name == "-h") {
            return {};
        }
        if (const auto flag = flags.find(name); flag != flags.end()) {
            if (value) {
                return {std::nullopt, name + " takes no value"};
            }
            flag->second();
            continue;
        }
        const bool takesValue = numbers.contains(name) || texts.contains(name);
        if (!takesValue) {
            return {std::nullopt, "unknown option " + name};
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return {std::nullopt, name + " needs a value"};
            }
            value = args[++i];
        }
        if (const auto text = texts.find(name); text != texts.end()) {
            *text->second = *value;
            continue;
        }
        const auto number = parseCount(*value);
        if (!number || *number > 86'400'000) {
            return {std::nullopt, name + ": not a whole number up to 86400000: " + *value};
        }
        numbers.at(name)(*number);
    }
    if (unit.identInterval <= SimTime{0}) {
        return {std::nullopt, "--ident-interval must be at least 1 ms"};
    }
    if (unit.maxBoots == 0u) {
        return {std::nullopt, "--units must be at least 1"};
    }
    if (unit.garbageRate == 0) {
        return {std::nullopt, "--garbage-rate must be at least 1 byte per second"};
    }
    if (unit.versionLine.find_first_of("\r\n") != std::string::npos) {
        return {std::nullopt, "--version-line must not contain CR or LF"};
    }
    unit.versionLine = shapeVersionLine(unit.versionLine, noV, lower);
    if (exitAfterGiven) {
        options.exitAfter = exitAfter;
    }
    return {options, {}};
}

}  // namespace vkt5::sim
