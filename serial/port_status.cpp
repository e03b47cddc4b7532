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

}  // namespace vkt5
