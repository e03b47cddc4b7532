#include "tools/unit_sim/sim_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vkt5::sim {

namespace {

std::string seconds(std::optional<SimTime> time) {
    if (!time) {
        return "none";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(time->count()) / 1e9);
    return text;
}

std::string address(std::optional<std::uint32_t> value) {
    if (!value) {
        return "none";
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(*value));
    return text;
}

const char* yesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace

std::optional<ReferenceImage> readReferenceImage(std::string_view text, std::string* error) {
    DecodedHexImage decoded = decodeHexImage(text);
    if (!decoded.ok) {
        if (error != nullptr) {
            *error = decoded.error;
        }
        return std::nullopt;
    }
    ReferenceImage image;
    image.memory = std::move(decoded.memory);
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string_view::npos;
         end = text.find("\r\n", start)) {
        image.lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
    return image;
}

bool recordsInOrder(const std::vector<std::string>& received, const ReferenceImage& image) {
    if (received.size() > image.lines.size()) {
        return false;
    }
    for (std::size_t i = 0; i < received.size(); ++i) {
        if (received[i] != image.lines[i]) {
            return false;
        }
    }
    return true;
}

std::string formatReport(const ReportInput& input) {
    const UnitTally& tally = input.unit.tally();
    const SimFlash& flash = input.unit.flash();
    std::optional<SimTime> upload;
    if (tally.programAt && tally.eofAt) {
        upload = *tally.eofAt - *tally.programAt;
    }
    std::string text;
    const auto put = [&text](const char* key, const std::string& value) {
        text += key;
        text += ": ";
        text += value;
        text += '\n';
    };
    put("end_reason", input.endReason);
    put("state", unitStateName(input.unit.state()));
    put("boot_ups", std::to_string(input.unit.boots()));
    put("units", std::to_string(input.unit.unitsUpgraded()));
    put("records_received", std::to_string(tally.recordsReceived));
    put("bad_records", std::to_string(tally.badRecords));
    put("protocol_errors", std::to_string(tally.protocolErrors));
    put("erased", yesNo(tally.erased));
    put("eof_seen", yesNo(tally.eofSeen));
    put("bytes_received", std::to_string(tally.bytesReceived));
    put("bytes_sent", std::to_string(input.bytesSent));
    put("program_time", seconds(tally.programAt));
    put("first_record_time", seconds(tally.firstRecordAt));
    put("last_record_time", seconds(tally.lastRecordAt));
    put("upload_seconds", seconds(upload));
    put("flash_bytes", std::to_string(flash.memory().size()));
    put("flash_low", address(flash.lowest()));
    put("flash_high", address(flash.highest()));
    put("rewritten_bytes", std::to_string(flash.rewrittenBytes()));
    if (input.image != nullptr) {
        put("image_records", std::to_string(input.image->lines.size()));
        put("flash_matches_image", yesNo(flash.memory() == input.image->memory));
        put("records_in_order", yesNo(recordsInOrder(input.unit.recordLines(), *input.image)));
    }
    std::uint64_t number = 0;
    for (const BootSummary& boot : input.unit.bootSummaries()) {
        put("boot", std::to_string(++number) + " " + unitStateName(boot.state) +
                        " records=" + std::to_string(boot.recordsReceived) +
                        " erased=" + yesNo(boot.erased) + " eof=" + yesNo(boot.eofSeen));
    }
    for (const std::string& note : tally.notes) {
        put("note", note);
    }
    return text;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok = file != nullptr;
    if (ok) {
        ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        ok = std::fclose(file) == 0 && ok;
    }
    if (ok) {
        ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    }
    if (!ok && error != nullptr) {
        *error = path + ": " + std::strerror(errno);
    }
    return ok;
}

}  // namespace vkt5::sim
