// Qt backend: the application object, the event loop and the real boxes and
// common dialogs of Backend.h.
#include "ui/Application.h"
#include "ui/Backend.h"
#include "ui/qt/QtText.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QStringList>
#include <QTimer>
#include <cstdlib>
#include <exception>
#include <memory>

namespace ui::backend {
namespace {

using qt::FromQ;
using qt::ToQ;

class GuardedApplication : public QApplication {
public:
    GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {
        // Only the application name: a display name would be appended to
        // every window caption by some platforms.
        setApplicationName(QString::fromUtf8(kApplicationTitle));
    }
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            ShowException(e.what());
        } catch (...) {
            ShowException("Unknown error");
        }
        return false;
    }
};

std::unique_ptr<GuardedApplication>& TheApplication() {
    static std::unique_ptr<GuardedApplication> app;
    return app;
}

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// "Desc|*.txt;*.log|All|*.*" into Qt's "Desc (*.txt *.log)" entries. "*.*"
// means every file, which on POSIX is "*" (names need not have a dot).
QStringList QtFilters(const std::string& filter) {
    QStringList result;
    const QStringList parts = ToQ(filter).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            p = p.trimmed();
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        // A description that lists its own patterns in brackets would show
        // them twice; Qt shows the patterns it filters by.
        const qsizetype bracket = description.lastIndexOf(QLatin1String(" ("));
        if (bracket > 0 && description.endsWith(QLatin1Char(')')))
            description.truncate(bracket);
        result << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')');
    }
    return result;
}

std::string StripTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

} // namespace

void StartApplication(int& argc, char** argv) {
    TheApplication() = std::make_unique<GuardedApplication>(argc, argv);
}

void EndApplication() {
    TheApplication().reset();
}

bool ApplicationExists() {
    return QCoreApplication::instance() != nullptr;
}

int RunEventLoop() {
    return QCoreApplication::exec();
}

void Quit(int code) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(
        app, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

void ProcessEvents() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Post(Callback call) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QTimer::singleShot(0, app, std::move(call));
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    // POSIX hands the bytes over as they were given: UTF-8 on this system.
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool DisplayReachable() {
    return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

bool WindowsAvailable() {
    return DisplayReachable() || std::getenv("QT_QPA_PLATFORM") != nullptr;
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

PromptResult ShowPrompt(const PromptRequest& request) {
    PromptResult result;
    switch (request.kind) {
    case PromptKind::Message:
    case PromptKind::Error: {
        QMessageBox box(request.kind == PromptKind::Error ? QMessageBox::Critical
                                                          : QMessageBox::NoIcon,
                        ToQ(request.caption), ToQ(request.text), QMessageBox::Ok);
        box.exec();
        result.accepted = true;
        break;
    }
    case PromptKind::Question: {
        QMessageBox box(QMessageBox::Question, ToQ(request.caption), ToQ(request.text),
                        QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        result.accepted = box.exec() == QMessageBox::Yes;
        break;
    }
    case PromptKind::OpenFiles:
    case PromptKind::SaveFile:
    case PromptKind::BrowseFolder: {
        QFileDialog dialog(nullptr, ToQ(request.caption), ToQ(request.initialDir));
        dialog.setSizeGripEnabled(true);
        if (!request.filter.empty())
            dialog.setNameFilters(QtFilters(request.filter));
        if (request.kind == PromptKind::OpenFiles) {
            dialog.setFileMode(QFileDialog::ExistingFiles);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
        } else if (request.kind == PromptKind::SaveFile) {
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
            if (!request.fileName.empty())
                dialog.selectFile(ToQ(request.fileName));
        } else {
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly, true);
        }
        if (dialog.exec() == QDialog::Accepted) {
            for (const QString& f : dialog.selectedFiles())
                result.paths.push_back(request.kind == PromptKind::BrowseFolder
                                           ? StripTrailingSeparator(FromQ(f))
                                           : FromQ(f));
            result.accepted = !result.paths.empty();
        }
        break;
    }
    case PromptKind::ModalForm:
        // The layer above runs its own forms.
        break;
    }
    return result;
}

} // namespace ui::backend
