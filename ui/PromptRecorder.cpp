#include "ui/PromptRecorder.h"

#include <utility>

namespace ui {

PromptRecorder::PromptRecorder() {
    previous_ = SetPromptHook([this](const PromptRequest& r) { return Answer(r); });
}

PromptRecorder::~PromptRecorder() {
    SetPromptHook(std::move(previous_));
}

void PromptRecorder::QueueAnswer(PromptResult answer) {
    answers_.push_back(std::move(answer));
}

void PromptRecorder::QueueYes() {
    QueueAnswer(PromptResult{true, {}});
}

void PromptRecorder::QueueNo() {
    QueueAnswer(PromptResult{false, {}});
}

void PromptRecorder::QueueFiles(std::vector<std::string> paths) {
    QueueAnswer(PromptResult{true, std::move(paths)});
}

void PromptRecorder::QueuePath(std::string path) {
    QueueAnswer(PromptResult{true, {std::move(path)}});
}

void PromptRecorder::QueueCancel() {
    QueueAnswer(PromptResult{false, {}});
}

std::vector<std::string> PromptRecorder::Texts(PromptKind kind) const {
    std::vector<std::string> texts;
    for (const PromptRequest& r : requests_)
        if (r.kind == kind)
            texts.push_back(r.text);
    return texts;
}

PromptResult PromptRecorder::Answer(const PromptRequest& request) {
    requests_.push_back(request);
    if (!answers_.empty()) {
        PromptResult answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    }
    switch (request.kind) {
    case PromptKind::Message:
    case PromptKind::Error:
        return PromptResult{true, {}};
    case PromptKind::ModalForm:
        if (onModalForm)
            return onModalForm(request);
        return PromptResult{};
    default:
        return PromptResult{};
    }
}

} // namespace ui
