// The one record of run-time state. Every routine of the program reads and writes the fields it
// owns here; nothing else holds state. The record exists, with every number 0, every text empty
// and no handles, before start-up, and lives until the process ends.
//
// Numbers are 32-bit signed, flags are numbers holding 0 or 1, and texts are byte strings that
// may hold any byte value (NUL included) with no character-set or line-end conversion.
#pragma once

#include <cstdint>
#include <string>

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
};

}  // namespace vkt5
