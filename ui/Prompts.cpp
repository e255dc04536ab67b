#include "ui/Prompts.h"

#include "ui/Application.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <exception>
#include <utility>

namespace ui {
namespace {

PromptHook& Hook() {
    static PromptHook hook;
    return hook;
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

const char* KindName(PromptKind kind) {
    switch (kind) {
    case PromptKind::Message:
        return "message";
    case PromptKind::Question:
        return "question";
    case PromptKind::Error:
        return "error";
    case PromptKind::OpenFiles:
        return "open dialog";
    case PromptKind::SaveFile:
        return "save dialog";
    case PromptKind::BrowseFolder:
        return "browse dialog";
    case PromptKind::ModalForm:
        return "form";
    }
    return "prompt";
}

// Nobody can answer: report the text and take the default answer.
PromptResult Unattended(const PromptRequest& request) {
    std::fprintf(stderr, "%s (%s): %s\n", kApplicationTitle, KindName(request.kind),
                 request.text.empty() ? request.caption.c_str() : request.text.c_str());
    PromptResult result;
    result.accepted = request.kind == PromptKind::Message || request.kind == PromptKind::Error;
    return result;
}

PromptResult ShowReal(const PromptRequest& request) {
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
        if (request.form != nullptr)
            result.accepted = request.form->exec() == QDialog::Accepted;
        break;
    }
    return result;
}

} // namespace

PromptHook SetPromptHook(PromptHook hook) {
    PromptHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

PromptResult Prompt(const PromptRequest& request) {
    if (Hook())
        return Hook()(request);
    // A modal form can be answered by its own buttons only with a display.
    if (!Interactive())
        return Unattended(request);
    return ShowReal(request);
}

void ShowMessage(const std::string& text) {
    PromptRequest request;
    request.kind = PromptKind::Message;
    request.caption = kApplicationTitle;
    request.text = text;
    Prompt(request);
}

bool AskYesNo(const std::string& caption, const std::string& text) {
    PromptRequest request;
    request.kind = PromptKind::Question;
    request.caption = caption;
    request.text = text;
    return Prompt(request).accepted;
}

void ShowException(const std::string& text) {
    PromptRequest request;
    request.kind = PromptKind::Error;
    request.caption = kApplicationTitle;
    request.text = text;
    Prompt(request);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
}

bool OpenDialog::Execute() {
    PromptRequest request;
    request.kind = PromptKind::OpenFiles;
    request.caption = title;
    request.initialDir = initialDir;
    request.filter = filter;
    PromptResult result = Prompt(request);
    if (!result.accepted || result.paths.empty())
        return false;
    files_ = std::move(result.paths);
    return true;
}

bool SaveDialog::Execute() {
    PromptRequest request;
    request.kind = PromptKind::SaveFile;
    request.caption = title;
    request.filter = filter;
    request.fileName = fileName;
    PromptResult result = Prompt(request);
    if (!result.accepted || result.paths.empty())
        return false;
    fileName = result.paths.front();
    return true;
}

bool BrowseDialog::Execute() {
    PromptRequest request;
    request.kind = PromptKind::BrowseFolder;
    request.caption = title;
    request.initialDir = folder;
    PromptResult result = Prompt(request);
    if (!result.accepted || result.paths.empty())
        return false;
    folder = result.paths.front();
    return true;
}

} // namespace ui
