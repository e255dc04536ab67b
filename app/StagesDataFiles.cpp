// Post-send handling of the data files: deleting them, or moving them into a
// folder named after the date below the configured folder.
//
// Only a file that went whole into the archive just sent, that no other
// member shares its name with, and that is still the file that was read,
// unchanged (SentFiles), is deleted or moved. Every other listed file stays
// where it is and the operation reports false, so data that did not reach
// the server are never lost.
#include "app/FreeFileName.h"
#include "app/Umain.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "ui/Application.h"

bool TForm1::DeleteDataFiles() {
    const int Count = ListFiles->Count();
    const std::string SavedCaption = Caption();
    SetCaption(SavedCaption + " - probíhá mazání souborů");
    WriteLog("Probíhá mazání souborů - " + std::to_string(Count) + " souborů", true);

    bool AllDone = true;
    for (int I = 0; I < Count; ++I) {
        ui::ProcessMessages();
        const std::string Path = ListFiles->Item(I);
        if (!SentFiles.IsSentUnchanged(Path) || !platform::DeleteFile(Path))
            AllDone = false;
    }
    SetCaption(SavedCaption);
    return AllDone;
}

bool TForm1::MoveDataFiles() {
    const int Count = ListFiles->Count();
    const std::string SavedCaption = Caption();
    SetCaption(SavedCaption + " - probíhá přesun souborů");
    WriteLog("Probíhá přesun souborů - " + std::to_string(Count) + " souborů", true);

    const std::string Folder = ReadSettingString("General", "FilesMoveToDir", "");
    if (Folder.empty()) {
        WriteLog("Není nastaven cílový adresář pro přesun.", true);
        return false;
    }
    // The date is appended directly: the stored folder ends with a separator.
    const std::string Target =
        platform::IncludeTrailingSeparator(Folder + platform::DateText(platform::Now()));
    if (!platform::DirectoryExists(Target))
        platform::CreatePrivateDir(Target); // this one level, for the owner only
    if (!platform::DirectoryExists(Target)) {
        WriteLog("Cílový adresář \"" + Target + "\" se nepodařilo vytvořit. ", true);
        return false;
    }

    bool AllDone = true;
    for (int I = 0; I < Count; ++I) {
        ui::ProcessMessages();
        const std::string Path = ListFiles->Item(I);
        if (!SentFiles.IsSentUnchanged(Path)) {
            AllDone = false;
            continue;
        }
        // Never over an earlier copy (a run earlier the same day, or another
        // listed file of the same name): the copy takes the next free name.
        // The source goes only once its copy is complete on disk.
        // Still the file that was sent, also after the copy took its time.
        const std::string Copy = CopyToFreeName(Path, Target + platform::ExtractFileName(Path));
        if (Copy.empty() || !SentFiles.IsSentUnchanged(Path) || !platform::DeleteFile(Path))
            AllDone = false;
    }
    SetCaption(SavedCaption);
    return AllDone;
}
