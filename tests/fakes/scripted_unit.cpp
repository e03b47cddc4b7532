#include "fakes/scripted_unit.h"

namespace vkt5::test {

std::string numberedImage(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += ":L" + std::to_string(i) + "\r\n";
    }
    return text;
}

ScriptedUnit::ScriptedUnit(ScriptedPort& ports, std::string portName, UnitBehaviour behaviour)
    : ports_(ports), name_(std::move(portName)), behaviour_(std::move(behaviour)) {
    ports_.device(name_);
    // Several units may share the port service, each on its own port name.
    ports_.onSend = [this, others = ports_.onSend](const std::string& name,
                                                   const std::string& bytes) {
        if (name == name_) {
            onSend(bytes);
        } else if (others) {
            others(name, bytes);
        }
    };
}

void ScriptedUnit::announce(std::int64_t from, std::int64_t until) {
    for (std::int64_t t = from; t <= until; t += behaviour_.identEvery) {
        ports_.device(name_).arriveAt(t, "VKT5\r\n");
    }
}

void ScriptedUnit::reply(std::string bytes) {
    ports_.device(name_).arriveAt(ports_.tick() + behaviour_.replyDelay, std::move(bytes));
}

void ScriptedUnit::onSend(const std::string& bytes) {
    if (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0) {
        records.push_back(bytes.substr(0, bytes.size() - 2));
        const auto n = static_cast<int>(records.size());
        if (behaviour_.silentAfterRecords && n >= *behaviour_.silentAfterRecords) {
            return;
        }
        if (behaviour_.powerUpAfter && bytes == ":00000001FF\r\n" &&
            powerUps_ < behaviour_.powerUps) {
            ++powerUps_;
            yesCount_ = 0;
            const std::int64_t boot = ports_.tick() + *behaviour_.powerUpAfter;
            announce(boot, boot + 2000);
        }
        if (behaviour_.doneAfterRecords && n >= *behaviour_.doneAfterRecords) {
            reply("Done\r\n");
            return;
        }
        reply(behaviour_.prompt);
        return;
    }
    ++answersSeen;
    if (bytes == "Y") {
        ++yesCount_;
        if (yesCount_ == 1) {
            // The unit stops announcing itself once answered.
            auto& arrivals = ports_.device(name_).arrivals;
            for (auto it = arrivals.begin(); it != arrivals.end();) {
                it = it->second == "VKT5\r\n" ? arrivals.erase(it) : std::next(it);
            }
            reply(behaviour_.versionLine + "\r\n");
        } else {
            reply("E or P?\r\n");
        }
    } else if (bytes == "E") {
        reply("Erased\r\n");
    } else if (bytes == "P") {
        reply(behaviour_.prompt);
    }
}

}  // namespace vkt5::test
