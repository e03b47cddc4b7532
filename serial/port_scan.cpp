#include "serial/port_scan.h"

namespace vkt5 {

std::string portName(std::int32_t portNumber) {
    return (portNumber < 10 ? "COM" : "\\\\.\\COM") + std::to_string(portNumber);
}

std::int32_t scanPortCount(const UpgradeState& state) {
    return state.scanNames.empty() ? LAST_PORT : static_cast<std::int32_t>(state.scanNames.size());
}

std::string scanPortName(const UpgradeState& state, std::int32_t portNumber) {
    return state.scanNames.empty() ? portName(portNumber)
                                   : state.scanNames[static_cast<std::size_t>(portNumber - 1)];
}

OpenDetail& portReport(UpgradeState& state, std::int32_t portNumber) {
    const auto count = static_cast<std::size_t>(scanPortCount(state));
    if (state.portReports.size() != count) {
        state.portReports.assign(count, OpenDetail{});
    }
    return state.portReports[static_cast<std::size_t>(portNumber - 1)];
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
        if (state.portNumber > scanPortCount(state)) {
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
    const PortStatus status = ports.openPort(state.portFile, scanPortName(state, state.portNumber));
    ports.pause(OPEN_PAUSE_MS);
    state.percent = static_cast<std::int32_t>(status);
    OpenDetail& report = portReport(state, state.portNumber);
    const OpenDetail detail = ports.lastOpenDetail();
    report.device = detail.device;
    if (status != PortStatus::Ok) {
        report.state = detail.state == PortState::NoUnit || detail.state == PortState::NotTried
                           ? PortState::Absent
                           : detail.state;
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
    portReport(state, state.portNumber).state =
        state.unitFound == 1 ? PortState::Unit : PortState::NoUnit;
    if (state.unitFound == 1) {
        ports.keepSettingsOnClose(state.portFile);
    } else {
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
