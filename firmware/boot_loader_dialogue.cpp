#include "firmware/boot_loader_dialogue.h"

#include "firmware/ansi_upper_case.h"
#include "serial/line_receiver.h"

namespace vkt5 {

namespace {

// Polls for a line. Returns true when one was ready, with the line in lastLine; the line is
// consumed whether or not the caller accepts it. A port that reports its device gone ends the
// dialogue where it stands: nothing more can come.
bool pollLine(UpgradeState& state, SerialPortService& ports) {
    receiveLine(state, ports);
    if (state.portLost == 1) {
        state.failure = PortLost;
        return false;
    }
    if (state.lineReady == 0) {
        return false;
    }
    state.lineReady = 0;
    return true;
}

// A waiting step that accepts one exact line.
void awaitExact(UpgradeState& state, SerialPortService& ports, std::string_view expected,
                DialogueStep next) {
    if (pollLine(state, ports) && state.lastLine == expected) {
        state.step = next;
    }
}

// A sending step. An answer the port did not take means the line is gone; the step still moves
// on, and the failure tells the sequencer.
void answer(UpgradeState& state, SerialPortService& ports, std::string_view letter,
            DialogueStep next) {
    if (ports.sendText(state.portFile, letter) != PortStatus::Ok) {
        state.failure = SendFailed;
    }
    state.step = next;
}

}  // namespace

void versionFromLine(UpgradeState& state) {
    state.scratch = ansiUpperCase(state.lastLine);
    const std::size_t at = state.scratch.find(" V");
    const std::string rest = at == std::string::npos ? std::string() : state.scratch.substr(at + 2);
    state.unitVersion = "V" + rest;
}

void advanceDialogue(UpgradeState& state, SerialPortService& ports) {
    switch (state.step) {
        case StartDialogue:
            state.step = AwaitIdentification;
            break;
        case AwaitIdentification:
            awaitExact(state, ports, IDENTIFICATION_LINE, AnswerIdentification);
            break;
        case AnswerIdentification:
            answer(state, ports, "Y", AwaitVersion);
            break;
        case AwaitVersion:
            // A unit that repeats its identification quickly may have one more on its way when
            // it takes the "Y": that repeat is not the version line.
            if (pollLine(state, ports) && state.lastLine != IDENTIFICATION_LINE) {
                versionFromLine(state);
                state.versionKnown = 1;
                state.step = ConfirmUpgrade;
            }
            break;
        case ConfirmUpgrade:
            answer(state, ports, "Y", AwaitEraseChoice);
            break;
        case AwaitEraseChoice:
            awaitExact(state, ports, "E or P?", RequestErase);
            break;
        case RequestErase:
            answer(state, ports, "E", AwaitErased);
            break;
        case AwaitErased:
            awaitExact(state, ports, "Erased", AnswerErased);
            break;
        case AnswerErased:
            answer(state, ports, "Y", AwaitProgramChoice);
            break;
        case AwaitProgramChoice:
            awaitExact(state, ports, "E or P?", RequestProgram);
            break;
        case RequestProgram:
            answer(state, ports, "P", AwaitLinePrompt);
            state.linesSent = 0;
            break;
        case AwaitLinePrompt:
            if (pollLine(state, ports)) {
                if (state.lastLine == "*") {
                    state.step = SendImageLine;
                } else if (state.lastLine == "Done") {
                    // Before the last line: the upgrade did not complete.
                    state.step = UnitDone;
                    state.failure = EndedEarly;
                }
            }
            break;
        case SendImageLine: {
            // Never index past the table, whatever linesSent holds.
            const auto index = static_cast<std::size_t>(state.linesSent);
            if (state.linesSent < 0 || index >= state.imageLines.size()) {
                state.step = UnitDone;
                state.failure = SendFailed;
                break;
            }
            state.outLine = state.imageLines[index] + "\r\n";
            // A line the port did not take whole has not been sent: stop here, as after an early
            // "Done", so the upload can never be reported complete for a line that did not go out.
            if (ports.sendText(state.portFile, state.outLine) != PortStatus::Ok) {
                state.step = UnitDone;
                state.failure = SendFailed;
                break;
            }
            state.linesSent += 1;
            state.step = AwaitLinePrompt;
            break;
        }
        default:
            break;  // UnitDone and anything outside the table: nothing to do
    }
}

}  // namespace vkt5
