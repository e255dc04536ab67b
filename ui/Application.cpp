#include "ui/Application.h"

#include "ui/Backend.h"
#include "ui/Prompts.h"

#include <utility>

namespace ui {
namespace {

std::function<void()>& ExtraPump() {
    static std::function<void()> pump;
    return pump;
}

int& TerminateCounter() {
    static int count = 0;
    return count;
}

} // namespace

Application::Application(int& argc, char** argv) {
    backend::StartApplication(argc, argv);
}

Application::~Application() {
    backend::EndApplication();
}

int Application::Run() {
    return backend::RunEventLoop();
}

int RunProgram(int& argc, char** argv, const std::function<int()>& body) {
    Application app(argc, argv);
    // Caught here, not around the application object: once that is gone no
    // box can be shown and the text would only reach stderr.
    int status = 0;
    RunGuarded([&] { status = body(); });
    return status;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return backend::ProgramArguments(argc, argv);
}

bool ApplicationExists() {
    return backend::ApplicationExists();
}

int RunEventLoop() {
    return backend::RunEventLoop();
}

void ProcessWindowEvents() {
    backend::ProcessEvents();
}

void ProcessMessages() {
    ProcessWindowEvents();
    if (ExtraPump())
        ExtraPump()();
}

void SetExtraPump(std::function<void()> pump) {
    ExtraPump() = std::move(pump);
}

void Terminate() {
    ++TerminateCounter();
    // Queued by the backend, so it also works before the loop has started and
    // never cuts the caller short.
    backend::Quit(0);
}

int TerminateCount() {
    return TerminateCounter();
}

void ResetTerminateCount() {
    TerminateCounter() = 0;
}

bool DisplayReachable() {
    return backend::DisplayReachable();
}

bool WindowsAvailable() {
    return backend::WindowsAvailable();
}

void UseOffscreenWithoutDisplay() {
    backend::UseOffscreenWithoutDisplay();
}

bool Interactive() {
    return backend::Interactive();
}

} // namespace ui
