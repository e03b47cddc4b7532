#include "serial/port_registry.h"

#include <algorithm>
#include <new>

namespace vkt5 {

PortHandle PortRegistry::nextFreeHandle() {
    for (PortHandle h = 1; h <= MAX_PORT_HANDLE; ++h) {
        if (ports_.find(h) == ports_.end()) {
            return h;
        }
    }
    // The program holds one port at a time, so the table never fills.
    return MAX_PORT_HANDLE;
}

PortRegistry::OpenPort* PortRegistry::find(PortHandle handle) {
    auto it = ports_.find(handle);
    return it == ports_.end() ? nullptr : &it->second;
}

PortStatus PortRegistry::openPort(PortHandle handle, std::string_view name) {
    lastOpen_ = {PortState::Absent, {}};
    name = name.substr(0, std::min(name.size(), MAX_PORT_NAME));
    if (name.empty() || name.find_first_of("*?") != std::string_view::npos) {
        return PortStatus::BadPortName;
    }
    if (handle < 0) {
        return PortStatus::BadHandle;
    }
    if (find(handle) != nullptr) {
        return PortStatus::HandleInUse;
    }
    OpenedDevice opened = opener_.open(name);
    lastOpen_ = opened.detail;
    if (opened.status != PortStatus::Ok || !opened.device) {
        return opened.status == PortStatus::Ok ? PortStatus::DeviceUnavailable : opened.status;
    }
    try {
        ports_[handle] = OpenPort{std::move(opened.device), std::string(name), {}};
    } catch (const std::bad_alloc&) {
        return PortStatus::OutOfMemory;  // the device closes with the unique_ptr
    }
    return PortStatus::Ok;
}

PortStatus PortRegistry::setPortOption(PortHandle handle, PortOption option, std::int32_t value) {
    OpenPort* port = find(handle);
    if (port == nullptr) {
        return PortStatus::BadHandle;
    }
    return port->device->setOption(option, value);
}

QueuedBytes PortRegistry::queuedBytes(PortHandle handle) {
    OpenPort* port = find(handle);
    if (port == nullptr) {
        return {0, PortStatus::BadHandle};
    }
    QueuedBytes queued = port->device->queued();
    if (queued.status != PortStatus::Ok) {
        return {0, queued.status};
    }
    return {queued.count + static_cast<std::int32_t>(port->readAhead.size()), PortStatus::Ok};
}

ReceivedBytes PortRegistry::receiveBytes(PortHandle handle, std::int32_t count) {
    try {
        return receiveInto(handle, count);
    } catch (const std::bad_alloc&) {
        return {{}, PortStatus::OutOfMemory};
    }
}

ReceivedBytes PortRegistry::receiveInto(PortHandle handle, std::int32_t count) {
    if (count < 1) {
        return {{}, PortStatus::InvalidArgument};
    }
    OpenPort* port = find(handle);
    if (port == nullptr) {
        return {{}, PortStatus::BadHandle};
    }
    const auto wanted = static_cast<std::size_t>(count);
    std::string out;
    out.reserve(wanted);
    for (;;) {
        const std::size_t take = std::min(wanted - out.size(), port->readAhead.size());
        out.append(port->readAhead, 0, take);
        port->readAhead.erase(0, take);
        if (out.size() == wanted) {
            return {std::move(out), PortStatus::Ok};
        }
        // Wait for the device to hold at least one byte, looking every millisecond. The program
        // asks only for what queuedBytes just reported, so this loop does not turn in practice.
        QueuedBytes queued = port->device->queued();
        while (queued.status == PortStatus::LineError ||
               (queued.status == PortStatus::Ok && queued.count < 1)) {
            opener_.sleepMilliseconds(1);
            queued = port->device->queued();
        }
        if (queued.status != PortStatus::Ok) {
            return {{}, PortStatus::DeviceUnavailable};
        }
        const auto room = static_cast<std::int32_t>(READ_AHEAD_SIZE - port->readAhead.size());
        ReceivedBytes got = port->device->read(std::min(queued.count, room));
        if (got.status != PortStatus::Ok) {
            return {{}, PortStatus::DeviceUnavailable};
        }
        if (got.text.empty()) {
            return {std::move(out), PortStatus::IncompleteTransfer};
        }
        port->readAhead += got.text;
    }
}

PortStatus PortRegistry::sendText(PortHandle handle, std::string_view text) {
    OpenPort* port = find(handle);
    if (port == nullptr) {
        return PortStatus::BadHandle;
    }
    if (text.empty()) {
        return PortStatus::Ok;
    }
    return port->device->write(text);
}

std::intptr_t PortRegistry::waitHandle(PortHandle handle) {
    OpenPort* port = find(handle);
    return port == nullptr ? NO_WAIT_HANDLE : port->device->waitHandle();
}

void PortRegistry::keepSettingsOnClose(PortHandle handle) {
    if (OpenPort* port = find(handle)) {
        port->device->keepSettings();
    }
}

PortStatus PortRegistry::closePort(PortHandle handle) {
    ports_.erase(handle);
    return PortStatus::Ok;
}

void PortRegistry::pause(std::int32_t milliseconds) {
    opener_.sleepMilliseconds(milliseconds);
}

}  // namespace vkt5
