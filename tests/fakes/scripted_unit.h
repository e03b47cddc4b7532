// The unit's boot loader played on a scripted port, for tick-exact tests of the whole exchange.
// It repeats its identification every few ticks until the first "Y", then answers each of the
// program's sends on the following tick: the version line, "E or P?", "Erased", "E or P?", and a
// "*" after "P" and after every image line. Faults: "Done" after a number of records, or silence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fakes/scripted_port.h"

namespace vkt5::test {

struct UnitBehaviour {
    std::string versionLine = "VKT5 V1.001";
    std::int64_t identEvery = 5;            // ticks between identification lines while waiting
    std::int64_t replyDelay = 1;            // ticks from a send to the unit's answer
    std::optional<int> doneAfterRecords;    // "Done" instead of "*" after this many records
    std::optional<int> silentAfterRecords;  // no answer at all after this many records
    std::string prompt = "*";
    // Boots afresh this many ticks after taking the end-of-file record: announces itself again
    // and plays the whole exchange anew, as a unit powered up on a bench.
    std::optional<std::int64_t> powerUpAfter;
    int powerUps = 1;  // how many times it boots again
};

// An image of `lines` numbered lines (":L0", ":L1", ...), each ending CR LF: what a unit takes
// records from, and easy to follow in a failing test.
std::string numberedImage(int lines);

class ScriptedUnit {
  public:
    ScriptedUnit(ScriptedPort& ports, std::string portName, UnitBehaviour behaviour = {});

    // Schedules the identification lines from tick `from` up to tick `until`.
    void announce(std::int64_t from, std::int64_t until);

    std::vector<std::string> records;  // every image line received, without its CR LF
    int answersSeen = 0;               // single-letter answers received

  private:
    void onSend(const std::string& bytes);
    void reply(std::string bytes);

    ScriptedPort& ports_;
    std::string name_;
    UnitBehaviour behaviour_;
    int yesCount_ = 0;
    int powerUps_ = 0;
};

}  // namespace vkt5::test
