#include "serial/line_receiver.h"

namespace vkt5 {

namespace {

constexpr std::string_view LINE_END = "\r\n";

}  // namespace

bool deviceGone(PortStatus status) {
    // BadHandle: the program closed the port itself; nothing was lost.
    return status != PortStatus::Ok && status != PortStatus::LineError &&
           status != PortStatus::BadHandle;
}

bool lineAvailable(const UpgradeState& state) {
    return state.rxBuffer.find(LINE_END) != std::string::npos ||
           (!state.rxBuffer.empty() && state.rxBuffer.back() == '*');
}

void receiveLine(UpgradeState& state, SerialPortService& ports) {
    const QueuedBytes queued = ports.queuedBytes(state.portFile);
    state.bytesWaiting = queued.count;
    if (deviceGone(queued.status)) {
        state.portLost = 1;
    }
    if (state.bytesWaiting > 0) {
        ReceivedBytes received = ports.receiveBytes(state.portFile, state.bytesWaiting);
        if (received.status == PortStatus::DeviceUnavailable) {
            state.portLost = 1;
        }
        state.scratch = std::move(received.text);
        state.rxBuffer += state.scratch;
        if (state.rxBuffer.size() > RX_BUFFER_LIMIT) {
            state.rxBuffer.erase(0, state.rxBuffer.size() - RX_BUFFER_LIMIT);
        }
    }
    state.percent = static_cast<std::int32_t>(state.rxBuffer.size());

    const std::size_t end = state.rxBuffer.find(LINE_END);
    if (end != std::string::npos) {
        state.lastLine = state.rxBuffer.substr(0, end);
        state.rxBuffer.erase(0, end + LINE_END.size());
        state.lineReady = 1;
        return;
    }
    // A unit that echoes, or a line with a stray byte on it, puts text before its prompt in the
    // same burst; the prompt is still the last thing it sent.
    if (!state.rxBuffer.empty() && state.rxBuffer.back() == '*') {
        state.lastLine = "*";
        state.rxBuffer.clear();
        state.lineReady = 1;
    }
}

}  // namespace vkt5
