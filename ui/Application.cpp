#include "ui/Application.h"

#include "ui/Prompts.h"

#include <QMetaObject>
#include <cstdlib>
#include <exception>
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

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // Only the application name: a display name would be appended to every
    // window caption by some platforms.
    setApplicationName(QString::fromUtf8(kApplicationTitle));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
    return false;
}

int Application::Run() {
    return exec();
}

void ProcessQtEvents() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void ProcessMessages() {
    ProcessQtEvents();
    if (ExtraPump())
        ExtraPump()();
}

void SetExtraPump(std::function<void()> pump) {
    ExtraPump() = std::move(pump);
}

void Terminate() {
    ++TerminateCounter();
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    // Queued, so it also works before exec() has started and never cuts the
    // caller short: the main loop sees it when control returns there.
    QMetaObject::invokeMethod(
        app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

int TerminateCount() {
    return TerminateCounter();
}

void ResetTerminateCount() {
    TerminateCounter() = 0;
}

bool DisplayReachable() {
    return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

void UseOffscreenWithoutDisplay() {
    if (!DisplayReachable())
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool Interactive() {
    if (QGuiApplication::instance() == nullptr)
        return false;
    const QString name = QGuiApplication::platformName();
    return name != QLatin1String("offscreen") && name != QLatin1String("minimal");
}

} // namespace ui
