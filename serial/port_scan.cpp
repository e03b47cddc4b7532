#include "serial/port_scan.h"

namespace vkt5 {

std::string portName(std::int32_t portNumber) {
    return (portNumber < 10 ? "COM" : "\\\\.\\COM") + std::to_string(portNumber);
}

void applyLineConfiguration(SerialPortService& ports, PortHandle handle) {
    // Each setting on its own, in this order; a refused one does not stop the others.
    ports.setPortOption(handle, PortOption::BaudRate, 57600);
    ports.setPortOption(handle, PortOption::DataBits, 8);
    ports.setPortOption(handle, PortOption::ParityCheck, 0);
    ports.setPortOption(handle, PortOption::StopBits, 0);
    ports.setPortOption(handle, PortOption::ReceiveQueue, 4096);
    ports.setPortOption(handle, PortOption::TransmitQueue, 4096);
    ports.setPortOption(handle, PortOption::DtrHandshake, 1);
    ports.setPortOption(handle, PortOption::DtrLine, 1);
}

void scanTick(UpgradeState& state, SerialPortService& ports) {
    if (state.portOpen == 0) {
        state.portNumber += 1;
        if (state.portNumber == LAST_PORT + 1) {
            state.portNumber = FIRST_PORT;
        }
        openNextPort(state, ports);
        return;
    }
    if (state.settleTicks == 0) {
        checkIdentification(state, ports);
    } else {
        state.settleTicks -= 1;
    }
}

void openNextPort(UpgradeState& state, SerialPortService& ports) {
    state.portFile = ports.nextFreeHandle();
    const PortStatus status = ports.openPort(state.portFile, portName(state.portNumber));
    ports.pause(OPEN_PAUSE_MS);
    state.percent = static_cast<std::int32_t>(status);
    if (status != PortStatus::Ok) {
        state.portOpen = 0;
        return;
    }
    applyLineConfiguration(ports, state.portFile);
    state.portOpen = 1;
    state.settleTicks = SETTLE_TICKS;
}

void checkIdentification(UpgradeState& state, SerialPortService& ports) {
    state.unitFound = 0;
    state.bytesWaiting = ports.queuedBytes(state.portFile).count;
    if (state.bytesWaiting > 0) {
        state.scratch = ports.receiveBytes(state.portFile, state.bytesWaiting).text;
        if (state.scratch.find(state.identification) != std::string::npos) {
            state.unitFound = 1;
        }
    }
    if (state.unitFound == 0) {
        ports.closePort(state.portFile);
        state.portOpen = 0;
    }
}

void drainInput(UpgradeState& state, SerialPortService& ports) {
    state.bytesWaiting = ports.queuedBytes(state.portFile).count;
    if (state.bytesWaiting > 0) {
        state.scratch = ports.receiveBytes(state.portFile, state.bytesWaiting).text;
    }
}

}  // namespace vkt5
