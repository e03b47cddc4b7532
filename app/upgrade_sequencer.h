// The dialog's event handler and the only thing that drives the upgrade once the dialog runs.
// Each 15 ms tick does the work of exactly one phase and returns; the buttons arrive as commands.
// It keeps no state of its own: everything is in the UpgradeState. It returns 0 for every message.
//
// Beyond a clean exchange it watches over the unit: a unit lost, ending early or refusing a line
// leads to the failure screen; silence during the upload (no answer that the dialogue waits for;
// other bytes do not count) shows a warning that goes away when the unit answers again; a unit
// found but not answering goes back to the scan. Retry starts again from the search screen with the
// state as start-up leaves it.
//
// In fast mode the host also delivers MSG_PORT_DATA when the unit's port has bytes; the dialogue
// then runs its steps as far as the received bytes allow, sending steps at once, instead of one
// step per tick. The steps and the bytes are the same; the beat still drives the scan, the
// silence watch and the screen.
#pragma once

#include <cstdint>

#include "app/upgrade_state.h"
#include "serial/serial_port_service.h"
#include "ui/main_dialog.h"

namespace vkt5 {

inline constexpr std::int32_t TICK_INTERVAL_MS = 15;
inline constexpr std::int32_t TICK_ID = 1;

// A unit found on a port but not through its identification and version within this many ticks
// (5 s) is let go, and the scan goes on.
inline constexpr std::int32_t VERSION_WAIT_TICKS = 334;
// Ticks without an awaited answer from the unit during the upload before the warning:
// 10 s, and 60 s while the unit erases its memory (erasing a whole flash takes seconds).
inline constexpr std::int32_t SILENCE_TICKS = 667;
inline constexpr std::int32_t ERASE_SILENCE_TICKS = 4000;
// The most dialogue steps one event runs in fast mode, so that a flood of bytes cannot hold the
// window: a line and its answer are two steps.
inline constexpr std::int32_t FAST_STEP_LIMIT = 16;

enum class Pacing { Ticks, Fast };

class UpgradeSequencer final : public DialogEventHandler {
  public:
    UpgradeSequencer(UpgradeState& state, SerialPortService& ports, DialogHost& dialog,
                     Pacing pacing = Pacing::Ticks)
        : state_(state), ports_(ports), dialog_(dialog), pacing_(pacing) {}

    std::intptr_t handleEvent(WindowHandle dialog, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;

    void onInit();
    void onTick();
    void onCommand(std::int32_t controlId);
    void onPortData();

    // Closes the unit's port and starts again from the search screen, as after start-up (the
    // image kept). What Retry does; also how a host goes on to the next unit after a success.
    void startOver();

  private:
    void tickScan();
    void tickReadVersion();
    void tickAwaitAnswer();
    void tickProgramming();
    // One dialogue step, or in fast mode as many as the received bytes allow. Returns false when
    // the phase changed on the way (the version is known, the upload ended or failed).
    bool runDialogue();
    // What the step just taken means for the phase; false when the phase changed.
    bool settleReadVersion();
    bool settleProgramming();
    void fail();
    void letUnitGo();
    void watchSilence();
    void updateWatch();

    UpgradeState& state_;
    SerialPortService& ports_;
    DialogHost& dialog_;
    Pacing pacing_;
};

}  // namespace vkt5
