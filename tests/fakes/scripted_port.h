// A SerialPortService for tests: ports by name that are absent, busy, refuse settings, receive
// bytes on given ticks, raise a line error, hang up, or fail the n-th call of an operation. Every
// call is recorded, and every byte written is kept per port.
//
// Time is the test's tick counter: setTick(t) delivers the bytes due by tick t to the ports that
// are open then; bytes due while a port is closed are lost, as on a real line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/serial_port_service.h"

namespace vkt5::test {

enum class PortOp { NextFreeHandle, Open, SetOption, Queued, Receive, Send, Close, Pause };

struct PortCall {
    std::int64_t tick = 0;
    PortOp op = PortOp::Open;
    PortHandle handle = 0;
    std::string name;  // the port's name (for Open, the name asked for)
    PortOption option = PortOption::BaudRate;
    std::int32_t value = 0;  // option value, count asked for, or pause length
    std::string text;        // bytes sent or received
    PortStatus status = PortStatus::Ok;
};

struct ScriptedDevice {
    // Script.
    bool busy = false;  // open gives DeviceUnavailable; reported as in use by another program
    std::optional<PortState> refusedAs;  // open fails and is reported with this state
    std::set<PortOption> refused;        // setPortOption gives InvalidArgument
    std::multimap<std::int64_t, std::string> arrivals;  // bytes that arrive on a tick
    std::set<std::int64_t> lineErrorTicks;              // a framing error is flagged on these ticks
    std::optional<std::int64_t> hangUpTick;             // the other side goes away on this tick
    std::optional<int> sendsAccepted;  // sends after this many fail (IncompleteTransfer)

    // What happened.
    bool open = false;
    int openCount = 0;
    bool settingsKept = false;                   // told to keep its settings while it was last open
    std::string queue;                           // arrived, not yet received
    std::string written;                         // every byte sent, in order
    std::vector<std::string> sends;              // each send on its own
    std::map<PortOption, std::int32_t> options;  // last value set of each option
    std::vector<std::pair<PortOption, std::int32_t>> optionLog;

    // Bytes that arrive on the given tick.
    void arriveAt(std::int64_t tick, std::string bytes) {
        arrivals.emplace(tick, std::move(bytes));
    }

    bool lineErrorPending = false;
    bool hungUp = false;
};

class ScriptedPort final : public SerialPortService {
  public:
    // The port behind a name; ports never asked for do not exist.
    ScriptedDevice& device(const std::string& name) { return devices_[name]; }
    bool has(const std::string& name) const { return devices_.count(name) != 0; }

    // Makes the port exist and opens it, as the scan leaves the unit's port; returns its handle.
    PortHandle openExisting(const std::string& name);

    void setTick(std::int64_t tick);
    std::int64_t tick() const { return tick_; }

    // The n-th call (counting from 1) of the operation gives this status instead of its own.
    void failNth(PortOp op, int n, PortStatus status) { failures_[{op, n}] = status; }

    // Called after each successful send, so a test can play the unit and answer.
    std::function<void(const std::string& name, const std::string& bytes)> onSend;

    std::vector<PortCall> calls;
    std::vector<PortCall> callsOf(PortOp op) const;

    PortHandle nextFreeHandle() override;
    PortStatus openPort(PortHandle handle, std::string_view name) override;
    PortStatus setPortOption(PortHandle handle, PortOption option, std::int32_t value) override;
    QueuedBytes queuedBytes(PortHandle handle) override;
    ReceivedBytes receiveBytes(PortHandle handle, std::int32_t count) override;
    PortStatus sendText(PortHandle handle, std::string_view text) override;
    PortStatus closePort(PortHandle handle) override;
    void pause(std::int32_t milliseconds) override;
    OpenDetail lastOpenDetail() const override { return lastOpen_; }
    void keepSettingsOnClose(PortHandle handle) override;
    // A made-up handle per open port (WAIT_HANDLE_BASE + its port handle), as a descriptor would
    // be; NO_WAIT_HANDLE for a handle that names no open port.
    std::intptr_t waitHandle(PortHandle handle) override;

    // Whether a host waiting on this handle would wake now: the port behind it is open and has
    // bytes queued or has hung up (a descriptor stays readable then), as poll reports it.
    bool ready(std::intptr_t waitHandle);
    static constexpr std::intptr_t WAIT_HANDLE_BASE = 1000;

  private:
    std::optional<PortStatus> injected(PortOp op);
    ScriptedDevice* bound(PortHandle handle, std::string* name = nullptr);
    void deliver(const std::string& name, ScriptedDevice& dev);

    std::int64_t tick_ = 0;
    std::map<std::string, ScriptedDevice> devices_;
    std::map<PortHandle, std::string> handles_;
    std::map<std::pair<PortOp, int>, PortStatus> failures_;
    std::map<PortOp, int> counts_;
    OpenDetail lastOpen_;
};

}  // namespace vkt5::test
