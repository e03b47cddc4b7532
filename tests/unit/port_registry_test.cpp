// The part of the port service every back-end shares: handles, names, the read-ahead and the
// receive loop, over a device double.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "serial/port_registry.h"

namespace vkt5 {
namespace {

using namespace std::string_literals;

struct DeviceLine {
    std::string queue;
    bool lineError = false;
    bool gone = false;
    bool readDeliversNothing = false;
    std::string written;
    int reads = 0;
};

class FakeDevice final : public SerialDevice {
  public:
    explicit FakeDevice(std::shared_ptr<DeviceLine> line) : line_(std::move(line)) {}
    PortStatus setOption(PortOption, std::int32_t) override { return PortStatus::Ok; }
    QueuedBytes queued() override {
        if (line_->gone) {
            return {0, PortStatus::SystemError};
        }
        if (line_->lineError) {
            line_->lineError = false;
            return {0, PortStatus::LineError};
        }
        return {static_cast<std::int32_t>(line_->queue.size()), PortStatus::Ok};
    }
    ReceivedBytes read(std::int32_t maxBytes) override {
        ++line_->reads;
        if (line_->readDeliversNothing) {
            return {};
        }
        std::string out = line_->queue.substr(0, static_cast<std::size_t>(maxBytes));
        line_->queue.erase(0, out.size());
        return {out, PortStatus::Ok};
    }
    PortStatus write(std::string_view bytes) override {
        line_->written += bytes;
        return PortStatus::Ok;
    }

  private:
    std::shared_ptr<DeviceLine> line_;
};

class FakeOpener final : public SerialDeviceOpener {
  public:
    OpenedDevice open(std::string_view name) override {
        opened.emplace_back(name);
        auto it = lines.find(std::string(name));
        if (it == lines.end()) {
            return {nullptr, PortStatus::DeviceUnavailable};
        }
        return {std::make_unique<FakeDevice>(it->second), PortStatus::Ok};
    }
    void sleepMilliseconds(std::int32_t ms) override { slept += ms; }

    std::map<std::string, std::shared_ptr<DeviceLine>> lines;
    std::vector<std::string> opened;
    int slept = 0;
};

struct Registry {
    FakeOpener opener;
    PortRegistry ports{opener};
    std::shared_ptr<DeviceLine> com1 = opener.lines["COM1"] = std::make_shared<DeviceLine>();
};

TEST(PortRegistry, NameAndHandleRules) {
    Registry r;
    const std::string longName = "COM1" + std::string(300, 'x');
    r.opener.lines[longName.substr(0, 255)] = std::make_shared<DeviceLine>();
    const std::vector<std::tuple<PortHandle, std::string, PortStatus>> cases = {
        {1, "", PortStatus::BadPortName},
        {1, "COM?", PortStatus::BadPortName},
        {1, "CO*1", PortStatus::BadPortName},
        {-1, "COM1", PortStatus::BadHandle},
        {1, "COM7", PortStatus::DeviceUnavailable},
        {1, longName, PortStatus::Ok},  // only the first 255 characters count
    };
    for (const auto& [handle, name, status] : cases) {
        EXPECT_EQ(r.ports.openPort(handle, name), status) << name.substr(0, 10);
    }
    // Bad names never reach the device layer.
    EXPECT_EQ(r.opener.opened, (std::vector<std::string>{"COM7", longName.substr(0, 255)}));
}

TEST(PortRegistry, HandleInUseLeavesTheFirstPortOpen) {
    Registry r;
    r.opener.lines["COM2"] = std::make_shared<DeviceLine>();
    const PortHandle h = r.ports.nextFreeHandle();
    ASSERT_EQ(r.ports.openPort(h, "COM1"), PortStatus::Ok);
    EXPECT_NE(r.ports.nextFreeHandle(), h);
    EXPECT_EQ(r.ports.openPort(h, "COM2"), PortStatus::HandleInUse);
    EXPECT_EQ(r.ports.sendText(h, "Y"), PortStatus::Ok);
    EXPECT_EQ(r.com1->written, "Y");
    EXPECT_EQ(r.ports.closePort(h), PortStatus::Ok);
    EXPECT_EQ(r.ports.nextFreeHandle(), h);
    EXPECT_EQ(r.ports.closePort(h), PortStatus::Ok);    // closed already
    EXPECT_EQ(r.ports.closePort(999), PortStatus::Ok);  // never opened
    EXPECT_EQ(r.ports.sendText(h, "Y"), PortStatus::BadHandle);
    EXPECT_EQ(r.ports.queuedBytes(h).status, PortStatus::BadHandle);
}

TEST(PortRegistry, ReceivesExactlyTheCountThroughTheReadAhead) {
    Registry r;
    const PortHandle h = 1;
    ASSERT_EQ(r.ports.openPort(h, "COM1"), PortStatus::Ok);
    r.com1->queue = "ab\0cd"s + std::string(600, 'z');
    EXPECT_EQ(r.ports.queuedBytes(h).count, 605);
    auto got = r.ports.receiveBytes(h, 3);
    EXPECT_EQ(got.text, "ab\0"s);
    EXPECT_EQ(got.status, PortStatus::Ok);
    // The device was read into the 512-byte read-ahead once; the rest waits in the device.
    EXPECT_EQ(r.com1->reads, 1);
    EXPECT_EQ(r.com1->queue.size(), 605u - 512u);
    EXPECT_EQ(r.ports.queuedBytes(h).count, 602);
    got = r.ports.receiveBytes(h, 602);
    EXPECT_EQ(got.text, "cd" + std::string(600, 'z'));
    EXPECT_EQ(r.ports.queuedBytes(h).count, 0);
    EXPECT_EQ(r.opener.slept, 0);  // nothing waited on the line
}

TEST(PortRegistry, ReceiveErrors) {
    Registry r;
    ASSERT_EQ(r.ports.openPort(1, "COM1"), PortStatus::Ok);
    EXPECT_EQ(r.ports.receiveBytes(1, 0).status, PortStatus::InvalidArgument);
    EXPECT_EQ(r.ports.receiveBytes(2, 1).status, PortStatus::BadHandle);

    r.com1->queue = "xy";
    r.com1->readDeliversNothing = true;
    EXPECT_EQ(r.ports.receiveBytes(1, 2).status, PortStatus::IncompleteTransfer);

    r.com1->gone = true;
    const auto gone = r.ports.receiveBytes(1, 2);
    EXPECT_EQ(gone.status, PortStatus::DeviceUnavailable);
    EXPECT_TRUE(gone.text.empty());
    EXPECT_NE(r.ports.queuedBytes(1).status, PortStatus::Ok);
    EXPECT_EQ(r.ports.queuedBytes(1).count, 0);
}

TEST(PortRegistry, LineErrorReportsNothingOnceThenTheBytes) {
    Registry r;
    ASSERT_EQ(r.ports.openPort(1, "COM1"), PortStatus::Ok);
    r.com1->queue = "VKT5\r\n";
    r.com1->lineError = true;
    const auto first = r.ports.queuedBytes(1);
    EXPECT_EQ(first.status, PortStatus::LineError);
    EXPECT_EQ(first.count, 0);
    EXPECT_EQ(r.ports.queuedBytes(1).count, 6);
}

TEST(PortRegistry, EmptySendWritesNothing) {
    Registry r;
    ASSERT_EQ(r.ports.openPort(1, "COM1"), PortStatus::Ok);
    EXPECT_EQ(r.ports.sendText(1, ""), PortStatus::Ok);
    EXPECT_EQ(r.ports.sendText(1, "Y"), PortStatus::Ok);
    EXPECT_EQ(r.com1->written, "Y");
}

}  // namespace
}  // namespace vkt5
