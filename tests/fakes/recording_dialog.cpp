#include "fakes/recording_dialog.h"

#include <cstdio>

namespace vkt5::test {

namespace {

const char* kindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return "button";
        case ControlKind::Label:
            return "label";
        case ControlKind::Image:
            return "image";
        case ControlKind::ProgressBar:
            return "progress";
    }
    return "?";
}

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

}  // namespace

void RecordingDialog::addControl(ControlKind kind, std::int32_t id, std::string_view text,
                                 Rect rect, std::uint32_t style) {
    RecordedControl c;
    c.kind = kind;
    c.text = std::string(text);
    c.rect = rect;
    c.style = style;
    c.font = dialogFont();
    controls[id] = c;
    if (kind == ControlKind::PushButton) {
        defaultButton = id;
    }
    log.push_back("add " + std::string(kindName(kind)) + " " + std::to_string(id) + " \"" +
                  std::string(text) + "\" " + std::to_string(rect.x) + "," +
                  std::to_string(rect.y) + "," + std::to_string(rect.width) + "," +
                  std::to_string(rect.height) + " " + hex(style));
}

void RecordingDialog::removeControl(std::int32_t id) {
    controls.erase(id);
    if (defaultButton == id) {
        defaultButton = 0;
    }
    log.push_back("remove " + std::to_string(id));
}

void RecordingDialog::setControlText(std::int32_t id, std::string_view text) {
    if (has(id)) {
        controls[id].text = std::string(text);
    }
    log.push_back("text " + std::to_string(id) + " \"" + std::string(text) + "\"");
}

void RecordingDialog::setControlFont(std::int32_t id, const FontSpec& font) {
    if (has(id)) {
        controls[id].font = font;
    }
    log.push_back("font " + std::to_string(id) + " " + font.face + " " +
                  std::to_string(font.points) + " " + std::to_string(font.weight));
}

void RecordingDialog::setControlColor(std::int32_t id, ColorRef text, std::int32_t background) {
    if (has(id)) {
        controls[id].textColor = text;
        controls[id].hasColor = true;
    }
    log.push_back("color " + std::to_string(id) + " " + hex(text) + " " +
                  std::to_string(background));
}

void RecordingDialog::setProgressRange(std::int32_t id, std::int32_t low, std::int32_t high) {
    if (has(id)) {
        controls[id].low = low;
        controls[id].high = high;
    }
    log.push_back("range " + std::to_string(id) + " " + std::to_string(low) + " " +
                  std::to_string(high));
}

void RecordingDialog::setProgressPosition(std::int32_t id, std::int32_t position) {
    if (has(id)) {
        controls[id].position = position;
    }
    log.push_back("position " + std::to_string(id) + " " + std::to_string(position));
}

std::int32_t RecordingDialog::startTimer(std::int32_t timerId, std::int32_t intervalMs) {
    timerRunning = timerResult != 0;
    log.push_back("start timer " + std::to_string(timerId) + " " + std::to_string(intervalMs));
    return timerResult;
}

void RecordingDialog::stopTimer(std::int32_t timerId) {
    timerRunning = false;
    log.push_back("stop timer " + std::to_string(timerId));
}

void RecordingDialog::endMainDialog() {
    ended = true;
    timerRunning = false;
    log.push_back("end");
}

WindowHandle RecordingDialog::createDialog(std::string_view captionText, std::int32_t clientWidth,
                                           std::int32_t clientHeight) {
    created = true;
    caption = std::string(captionText);
    log.push_back("create \"" + caption + "\" " + std::to_string(clientWidth) + "x" +
                  std::to_string(clientHeight));
    return HANDLE;
}

void RecordingDialog::setDialogIcons(std::int32_t iconGroup) {
    log.push_back("icons " + std::to_string(iconGroup));
}

void RecordingDialog::runMainDialog(DialogEventHandler& eventHandler) {
    handler = &eventHandler;
    log.push_back("run");
    eventHandler.handleEvent(HANDLE, MSG_INIT_DIALOG, 0, 0);
    eventHandler.handleEvent(HANDLE, MSG_SIZE, 0, (240 << 16) | 500);
    log.push_back("shown");
}

void RecordingDialog::showImageError(std::string_view message) {
    imageError = std::string(message);
    log.push_back("image error");
}

}  // namespace vkt5::test
