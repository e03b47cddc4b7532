#include "serial/serial_port_service.h"

namespace vkt5 {

const char* toString(PortStatus status) {
    switch (status) {
        case PortStatus::Ok:
            return "Ok";
        case PortStatus::InvalidArgument:
            return "InvalidArgument";
        case PortStatus::OutOfMemory:
            return "OutOfMemory";
        case PortStatus::IncompleteTransfer:
            return "IncompleteTransfer";
        case PortStatus::BadHandle:
            return "BadHandle";
        case PortStatus::HandleInUse:
            return "HandleInUse";
        case PortStatus::LineError:
            return "LineError";
        case PortStatus::BadPortName:
            return "BadPortName";
        case PortStatus::DeviceUnavailable:
            return "DeviceUnavailable";
        case PortStatus::SystemError:
            return "SystemError";
    }
    return "?";
}

const char* toString(PortState state) {
    switch (state) {
        case PortState::NotTried:
            return "not tried";
        case PortState::Absent:
            return "absent";
        case PortState::NotTerminal:
            return "not a serial port";
        case PortState::NoPermission:
            return "no permission";
        case PortState::InUse:
            return "in use by another program";
        case PortState::NoUnit:
            return "no unit";
        case PortState::Unit:
            return "the unit";
    }
    return "?";
}

}  // namespace vkt5
