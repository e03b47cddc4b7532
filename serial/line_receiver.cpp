#include "serial/line_receiver.h"

namespace vkt5 {

void receiveLine(UpgradeState& state, SerialPortService& ports) {
    state.bytesWaiting = ports.queuedBytes(state.portFile).count;
    if (state.bytesWaiting > 0) {
        state.scratch = ports.receiveBytes(state.portFile, state.bytesWaiting).text;
        state.rxBuffer += state.scratch;
        if (state.rxBuffer.size() > RX_BUFFER_LIMIT) {
            state.rxBuffer.erase(0, state.rxBuffer.size() - RX_BUFFER_LIMIT);
        }
    }
    state.percent = static_cast<std::int32_t>(state.rxBuffer.size());

    const std::string& buffer = state.rxBuffer;
    if (state.percent >= 2 && buffer[buffer.size() - 2] == '\r' && buffer.back() == '\n') {
        state.lastLine = buffer.substr(0, static_cast<std::size_t>(state.percent) - 2);
        state.rxBuffer.clear();
        state.lineReady = 1;
    }
    if (state.rxBuffer == "*") {
        state.lastLine = "*";
        state.rxBuffer.clear();
        state.lineReady = 1;
    }
}

}  // namespace vkt5
