// Test helper: while alive it answers every Prompt() (Prompts.h), records
// each request and hands out queued answers. Nothing is ever shown, so a
// test cannot block on a box.
//
// Answers without a queued one: Message and Error are acknowledged, Question
// is answered No (the default button), dialogs are cancelled, a ModalForm is
// passed to onModalForm when set (the test drives the form and returns the
// result) or rejected.
#pragma once
#include "ui/Prompts.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace ui {

class PromptRecorder {
public:
    PromptRecorder();  // installs itself as the prompt hook
    ~PromptRecorder(); // puts back the previous hook
    PromptRecorder(const PromptRecorder&) = delete;
    PromptRecorder& operator=(const PromptRecorder&) = delete;

    // The next prompts get these answers, in order, whatever their kind.
    void QueueAnswer(PromptResult answer);
    void QueueYes();
    void QueueNo();
    void QueueFiles(std::vector<std::string> paths); // open dialog result
    void QueuePath(std::string path);                // save / browse result
    void QueueCancel();

    // Everything asked so far, in order.
    const std::vector<PromptRequest>& Requests() const { return requests_; }
    // Texts of the requests of one kind, in order.
    std::vector<std::string> Texts(PromptKind kind) const;
    std::vector<std::string> Messages() const { return Texts(PromptKind::Message); }
    void Clear() { requests_.clear(); }

    std::function<PromptResult(const PromptRequest&)> onModalForm;

private:
    PromptResult Answer(const PromptRequest& request);

    std::vector<PromptRequest> requests_;
    std::deque<PromptResult> answers_;
    PromptHook previous_;
};

} // namespace ui
