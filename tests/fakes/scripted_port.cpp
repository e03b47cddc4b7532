#include "fakes/scripted_port.h"

namespace vkt5::test {

void ScriptedPort::setTick(std::int64_t tick) {
    tick_ = tick;
    for (auto& [name, dev] : devices_) {
        deliver(name, dev);
    }
}

void ScriptedPort::deliver(const std::string&, ScriptedDevice& dev) {
    while (!dev.arrivals.empty() && dev.arrivals.begin()->first <= tick_) {
        if (dev.open && !dev.hungUp) {
            dev.queue += dev.arrivals.begin()->second;
        }
        dev.arrivals.erase(dev.arrivals.begin());
    }
    for (auto it = dev.lineErrorTicks.begin(); it != dev.lineErrorTicks.end() && *it <= tick_;) {
        if (dev.open) {
            dev.lineErrorPending = true;
        }
        it = dev.lineErrorTicks.erase(it);
    }
    if (dev.hangUpTick && *dev.hangUpTick <= tick_) {
        dev.hungUp = true;
    }
}

PortHandle ScriptedPort::openExisting(const std::string& name) {
    device(name);
    const PortHandle handle = nextFreeHandle();
    openPort(handle, name);
    return handle;
}

std::vector<PortCall> ScriptedPort::callsOf(PortOp op) const {
    std::vector<PortCall> out;
    for (const auto& c : calls) {
        if (c.op == op) {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<PortStatus> ScriptedPort::injected(PortOp op) {
    const int n = ++counts_[op];
    auto it = failures_.find({op, n});
    if (it == failures_.end()) {
        return std::nullopt;
    }
    return it->second;
}

ScriptedDevice* ScriptedPort::bound(PortHandle handle, std::string* name) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        return nullptr;
    }
    if (name != nullptr) {
        *name = it->second;
    }
    return &devices_[it->second];
}

PortHandle ScriptedPort::nextFreeHandle() {
    injected(PortOp::NextFreeHandle);
    PortHandle h = 1;
    while (handles_.count(h) != 0) {
        ++h;
    }
    calls.push_back({tick_, PortOp::NextFreeHandle, h, {}, {}, 0, {}, PortStatus::Ok});
    return h;
}

PortStatus ScriptedPort::openPort(PortHandle handle, std::string_view nameView) {
    const std::string name(nameView.substr(0, 255));
    PortStatus status = PortStatus::Ok;
    if (name.empty() || name.find_first_of("*?") != std::string::npos) {
        status = PortStatus::BadPortName;
    } else if (handle < 0) {
        status = PortStatus::BadHandle;
    } else if (handles_.count(handle) != 0) {
        status = PortStatus::HandleInUse;
    } else if (devices_.count(name) == 0 || devices_[name].busy || devices_[name].open ||
               devices_[name].refusedAs) {
        status = PortStatus::DeviceUnavailable;
    }
    if (devices_.count(name) == 0) {
        lastOpen_ = {PortState::Absent, {}};
    } else if (devices_[name].refusedAs) {
        lastOpen_ = {*devices_[name].refusedAs, {}};
    } else {
        lastOpen_ = {status == PortStatus::Ok ? PortState::NoUnit : PortState::InUse, {}};
    }
    if (auto forced = injected(PortOp::Open)) {
        status = *forced;
    }
    if (status == PortStatus::Ok) {
        ScriptedDevice& dev = devices_[name];
        dev.open = true;
        ++dev.openCount;
        dev.settingsKept = false;
        dev.queue.clear();
        dev.lineErrorPending = false;
        handles_[handle] = name;
    }
    calls.push_back({tick_, PortOp::Open, handle, name, {}, 0, {}, status});
    return status;
}

PortStatus ScriptedPort::setPortOption(PortHandle handle, PortOption option, std::int32_t value) {
    std::string name;
    ScriptedDevice* dev = bound(handle, &name);
    PortStatus status = PortStatus::BadHandle;
    if (dev != nullptr) {
        status = dev->refused.count(option) != 0 ? PortStatus::InvalidArgument : PortStatus::Ok;
        if (status == PortStatus::Ok) {
            dev->options[option] = value;
        }
        dev->optionLog.emplace_back(option, value);
    }
    if (auto forced = injected(PortOp::SetOption)) {
        status = *forced;
    }
    calls.push_back({tick_, PortOp::SetOption, handle, name, option, value, {}, status});
    return status;
}

QueuedBytes ScriptedPort::queuedBytes(PortHandle handle) {
    std::string name;
    ScriptedDevice* dev = bound(handle, &name);
    QueuedBytes result{0, PortStatus::BadHandle};
    if (dev != nullptr) {
        if (dev->hungUp) {
            result = {0, PortStatus::SystemError};
        } else if (dev->lineErrorPending) {
            dev->lineErrorPending = false;
            result = {0, PortStatus::LineError};
        } else {
            result = {static_cast<std::int32_t>(dev->queue.size()), PortStatus::Ok};
        }
    }
    if (auto forced = injected(PortOp::Queued)) {
        result = {0, *forced};
    }
    calls.push_back({tick_, PortOp::Queued, handle, name, {}, result.count, {}, result.status});
    return result;
}

ReceivedBytes ScriptedPort::receiveBytes(PortHandle handle, std::int32_t count) {
    std::string name;
    ScriptedDevice* dev = bound(handle, &name);
    ReceivedBytes result{{}, PortStatus::BadHandle};
    if (count < 1) {
        result.status = PortStatus::InvalidArgument;
    } else if (dev != nullptr) {
        // A scripted port cannot block: asking for more than is queued hands over what is there.
        const auto n = std::min<std::size_t>(static_cast<std::size_t>(count), dev->queue.size());
        result = {dev->queue.substr(0, n), n == static_cast<std::size_t>(count)
                                               ? PortStatus::Ok
                                               : PortStatus::IncompleteTransfer};
        dev->queue.erase(0, n);
    }
    if (auto forced = injected(PortOp::Receive)) {
        result = {{}, *forced};
    }
    calls.push_back({tick_, PortOp::Receive, handle, name, {}, count, result.text, result.status});
    return result;
}

PortStatus ScriptedPort::sendText(PortHandle handle, std::string_view textView) {
    std::string name;
    ScriptedDevice* dev = bound(handle, &name);
    const std::string text(textView);
    PortStatus status = PortStatus::BadHandle;
    if (dev != nullptr) {
        const bool accepted =
            !dev->hungUp &&
            (!dev->sendsAccepted || static_cast<int>(dev->sends.size()) < *dev->sendsAccepted);
        status = accepted ? PortStatus::Ok : PortStatus::IncompleteTransfer;
        if (accepted) {
            dev->written += text;
            dev->sends.push_back(text);
        }
    }
    if (auto forced = injected(PortOp::Send)) {
        status = *forced;
    }
    calls.push_back({tick_, PortOp::Send, handle, name, {}, 0, text, status});
    if (status == PortStatus::Ok && onSend) {
        onSend(name, text);
    }
    return status;
}

PortStatus ScriptedPort::closePort(PortHandle handle) {
    std::string name;
    if (ScriptedDevice* dev = bound(handle, &name)) {
        dev->open = false;
        dev->queue.clear();
        handles_.erase(handle);
    }
    injected(PortOp::Close);
    calls.push_back({tick_, PortOp::Close, handle, name, {}, 0, {}, PortStatus::Ok});
    return PortStatus::Ok;
}

void ScriptedPort::keepSettingsOnClose(PortHandle handle) {
    if (ScriptedDevice* dev = bound(handle)) {
        dev->settingsKept = true;
    }
}

std::intptr_t ScriptedPort::waitHandle(PortHandle handle) {
    return bound(handle) != nullptr ? WAIT_HANDLE_BASE + handle : NO_WAIT_HANDLE;
}

bool ScriptedPort::ready(std::intptr_t waitHandle) {
    const ScriptedDevice* dev = bound(static_cast<PortHandle>(waitHandle - WAIT_HANDLE_BASE));
    return waitHandle != NO_WAIT_HANDLE && dev != nullptr && (!dev->queue.empty() || dev->hungUp);
}

void ScriptedPort::pause(std::int32_t milliseconds) {
    calls.push_back({tick_, PortOp::Pause, 0, {}, {}, milliseconds, {}, PortStatus::Ok});
}

}  // namespace vkt5::test
