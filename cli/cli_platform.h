// What the command line needs from the operating system, behind one interface so that the
// program's logic (cli_app) stays free of OS headers: a clock, a wait that ends on the beat, on a
// watched port, on a line typed at the terminal or on Ctrl+C, and the standard streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vkt5::cli {

struct Wake {
    bool beat = false;                 // the beat fell due
    std::vector<std::intptr_t> ready;  // watched handles with bytes (or hung up)
    bool input = false;                // a line (or the end) is there on standard input
    bool interrupt = false;            // Ctrl+C since the last wake
};

class CliPlatform {
  public:
    virtual ~CliPlatform() = default;
    // Microseconds on a steady clock from a fixed start.
    virtual std::int64_t nowMicros() = 0;
    // Waits until the time given (on nowMicros' clock), a watched handle is readable, standard
    // input has a line (when wantInput), or Ctrl+C; returns at once for what already happened.
    virtual Wake wait(std::int64_t beatDue, const std::vector<std::intptr_t>& handles,
                      bool wantInput) = 0;
    // The line typed (without its end), or nothing at the end of input.
    virtual std::optional<std::string> readLine() = 0;
    virtual bool inputIsTerminal() = 0;
    virtual bool outputIsTerminal() = 0;
    virtual void out(std::string_view text) = 0;
    virtual void err(std::string_view text) = 0;
    // The wall-clock time as ISO 8601 UTC, for the log.
    virtual std::string utcTime() = 0;
    // Whether the back-end's ports can be waited on (fast mode), and whether device paths name
    // ports (Linux).
    virtual bool portWaits() const = 0;
    virtual bool posix() const = 0;
};

}  // namespace vkt5::cli
