// The one record of run-time state. Every routine of the program reads and writes the fields it
// owns here; nothing else holds state. The record exists, with every number 0, every text empty
// and no handles, before start-up, and lives until the process ends.
//
// Numbers are 32-bit signed, flags are numbers holding 0 or 1, and texts are byte strings that
// may hold any byte value (NUL included) with no character-set or line-end conversion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "firmware/image_line_table.h"
#include "serial/serial_port_service.h"
#include "ui/control_model.h"

namespace vkt5 {

// The sequencer's phase. Moves only forward, one value at a time.
enum UpgradePhase : std::int32_t {
    ScanPorts = 0,
    DrainInput = 1,
    ReadVersion = 2,
    AwaitAnswer = 3,
    Programming = 4,
    Finished = 5,
    // The upgrade stopped short (the unit was lost, ended early, or a line could not be sent);
    // the failure screen offers Retry, which goes back to ScanPorts.
    Failed = 6,
};

// Why the upgrade stopped short.
enum UpgradeFailure : std::int32_t {
    NoFailure = 0,
    PortLost = 1,    // the unit's port reported that the device went away
    EndedEarly = 2,  // the unit said "Done" before the last line
    SendFailed = 3,  // the port did not take something the program sent
};

// Where the boot-loader dialogue stands. There are no values 13 to 19.
enum DialogueStep : std::int32_t {
    StartDialogue = 0,
    AwaitIdentification = 1,
    AnswerIdentification = 2,
    AwaitVersion = 3,
    ConfirmUpgrade = 4,
    AwaitEraseChoice = 5,
    RequestErase = 6,
    AwaitErased = 7,
    AnswerErased = 8,
    AwaitProgramChoice = 9,
    RequestProgram = 10,
    AwaitLinePrompt = 11,
    SendImageLine = 12,
    UnitDone = 20,
};

// An opaque reference to the dialog window; the shell that made it knows what it points to.
using WindowHandle = void*;

struct UpgradeState {
    WindowHandle dialog = nullptr;
    PortHandle portFile = 0;
    FontSpec largeFont{};
    std::int32_t timerId = 0;
    std::int32_t dialogWidth = 0;
    std::int32_t dialogHeight = 0;
    std::int32_t portNumber = 0;
    std::int32_t portOpen = 0;
    std::int32_t settleTicks = 0;
    std::int32_t unitFound = 0;
    std::int32_t versionKnown = 0;
    std::int32_t lineReady = 0;
    std::int32_t bytesWaiting = 0;
    std::string outLine;
    std::string rxBuffer;
    std::string lastLine;
    std::string unitVersion;
    std::int32_t phase = ScanPorts;
    std::int32_t step = StartDialogue;
    std::int32_t percent = 0;
    std::string scratch;
    std::string identification;
    std::int32_t lineCount = 0;
    std::int32_t linesSent = 0;
    ImageLineTable imageLines;

    // What the program keeps beyond the exchange itself, to survive real units on real lines.
    std::int32_t failure = NoFailure;  // UpgradeFailure; set by the dialogue
    std::int32_t portLost = 0;         // flag: the unit's port reported the device gone
    std::int32_t quietTicks = 0;       // beat ticks since the unit last gave an awaited answer
    std::int32_t phaseTicks = 0;       // beat ticks spent in ReadVersion so far
    std::int32_t silenceShown = 0;     // flag: the upload screen shows the no-answer warning
    std::int32_t shownLines = -1;      // linesSent as the upload screen last showed it
    // The ports the scan walks, by name; empty means COM1 to COM49. portNumber counts from 1 in
    // this list.
    std::vector<std::string> scanNames;
    // What the scan last found on each port, indexed by portNumber - 1.
    std::vector<OpenDetail> portReports;
    // The search screen's line on the last round of the scan, as it is shown.
    std::string scanNote;
};

}  // namespace vkt5
