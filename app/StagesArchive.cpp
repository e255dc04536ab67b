// Archive and encryption stages: the listed data files go into one ZIP
// archive in the temporary directory, which gpg.exe then encrypts for the
// registry's key under the date's name.
#include "app/GpgRun.h"
#include "app/StageResults.h"
#include "app/Umain.h"

#include "platform/AbruptEnd.h"
#include "platform/BinaryFile.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "ui/Application.h"
#include "zip/Archive.h"

#include <string>
#include <vector>

namespace {

const char* const kArchiveName = "_ftp_file.zip";

// Anything at the path stands in the way of a new file of that name, also a
// folder (which DeleteFile cannot remove) and a link: in a shared temporary
// folder a link planted under our name would make the archive or gpg's
// output overwrite whatever it points to, so it is removed like an old file.
bool SomethingAt(const std::string& path) {
    return platform::PathExists(path);
}

// Why an existing listed file did not go into the archive, as the end of
// its journal line; empty where the archive itself failed.
std::string LeftOutBecause(ArchiveResult result) {
    switch (result) {
    case ArchiveNoFile:
        return " nelze číst (je otevřen jiným programem nebo k němu chybí právo), nebude odeslán.";
    case ArchiveReadFailed:
        return " se nepodařilo přečíst, nebude odeslán.";
    case ArchiveSourceTooLarge:
        return " je větší než 4 GB, archiv ZIP jej nepojme; nebude odeslán.";
    case ArchiveFull:
        return " se do archivu nevejde, archiv ZIP pojme nejvýše 4 GB; nebude odeslán.";
    case ArchiveTooManyEntries:
        return " se do archivu nevejde, archiv ZIP pojme nejvýše 65535 souborů; nebude odeslán.";
    case ArchiveBadArgument:
        return " má název, který archiv ZIP nepojme; nebude odeslán.";
    default:
        return "";
    }
}

// Adds one listed file through a handle of our own, so that the record says
// which file the writer read: it went in whole when the writer succeeded and
// the file's size, last-write time and identity were the same before and
// after, so a file written meanwhile is not taken as sent.
ArchivedFile AddListedFile(ArchiveHandle* archive, const std::string& line, ArchiveResult& result) {
    ArchivedFile record;
    record.Path = line;
    const auto source = platform::BinaryFile::OpenForReading(line);
    platform::FileInfo before;
    if (!source || !source->GetInfo(before) || !source->GetIdentity(record.Identity)) {
        result = ArchiveNoFile;
        return record;
    }
    record.Size = before.size;
    record.LastWrite = before.lastWrite;
    record.LastWriteNsec = before.lastWriteNsec;
    result = ArchiveAddFile(archive, platform::ExtractFileName(line), *source);
    record.InArchive = result == ArchiveOk;
    platform::FileInfo after;
    platform::FileIdentity afterIdentity;
    record.Archived = record.InArchive && source->GetInfo(after) &&
                      source->GetIdentity(afterIdentity) && afterIdentity == record.Identity &&
                      before.size == after.size && before.lastWrite == after.lastWrite &&
                      before.lastWriteNsec == after.lastWriteNsec;
    return record;
}

struct Archiving {
    int archived = 0;          // members the archive holds
    bool outputFailed = false; // the archive itself could not be written
};

// Adds the first count listed files, with each one's number in the caption,
// and records in SentFiles what went in whole. An existing file that cannot
// go in is journalled with the reason and left out; the others go on.
Archiving AddListedFiles(TForm1& form, ArchiveHandle* archive, int count) {
    const std::string savedCaption = form.Caption();
    const std::string ofCount = " / celkově " + std::to_string(count) + " soubory(ů)";
    Archiving archiving;
    for (int i = 0; i < count; ++i) {
        form.SetCaption(savedCaption + " - soubor " + std::to_string(i + 1) + ofCount);
        ui::ProcessMessages();
        // Read after the events ran: the operator may have changed the list
        // (a line gone from the end reads as empty and adds nothing).
        const std::string line = form.ListFiles->Item(i);
        ArchiveResult result = ArchiveOk;
        ArchivedFile record = AddListedFile(archive, line, result);
        // The archive itself could not be written (a full disk): it no longer
        // holds what the list says, so it must not go out at all.
        if (!archive || result == ArchiveWriteFailed || result == ArchiveErrorRecorded) {
            archiving.outputFailed = true;
        } else if (const std::string why = LeftOutBecause(result);
                   !why.empty() && platform::FileExists(line)) {
            // (A missing file was journalled by the file check.)
            record.LeftOut = "Soubor " + line + why;
            form.WriteLog(record.LeftOut, true);
        }
        form.SentFiles.Add(std::move(record));
    }
    // Unpacked, one would replace the other: they stay where they are.
    for (const auto& group : form.SentFiles.KeepSameNamed()) {
        std::string names;
        for (const std::string& path : group)
            names += (names.empty() ? "" : ", ") + path;
        form.WriteLog("Soubory " + names +
                          " mají v archivu stejný název, nebudou smazány ani přesunuty.",
                      true);
    }
    archiving.archived = form.SentFiles.Members();
    form.WriteLog("Zazipováno celkem " + std::to_string(archiving.archived), true);
    form.SetCaption(savedCaption);
    return archiving;
}

} // namespace

int TForm1::ZipFiles(std::string& TransferFile, int64_t& TransferSize) {
    // A folder that is not safely the user's own is not used; when no
    // private folder can be had at all, the operator is told to check the
    // rights.
    const bool tempReady = platform::PrepareTempDir();
    const std::string archivePath = platform::TempDir() + kArchiveName;
    TransferFile = archivePath;
    SentFiles.Clear();
    if (!tempReady)
        return kZipOlderFileInTheWay;
    if (!platform::RefusedTempDir().empty())
        WriteLog("Dočasný adresář " + platform::RefusedTempDir() +
                     " nelze bezpečně použít, použit je nový adresář " + platform::TempDir(),
                 true);

    if (SomethingAt(archivePath)) {
        WriteLog("Mazání starého souboru " + archivePath, true);
        if (!platform::DeleteFile(archivePath))
            return kZipOlderFileInTheWay;
    }

    // Made only where nothing is: whatever appeared under the name since the
    // deletion (a link put there by someone else) is never written through.
    // It stands in the way like an old file. Any other null handle (the file
    // cannot be created) makes the additions fail; the size check at the end
    // then finds no archive.
    ArchiveHandle* archive = ArchiveCreateNew(archivePath);
    if (!archive && SomethingAt(archivePath))
        return kZipOlderFileInTheWay;
    // Data in the clear from here on, until the encryption stage deletes it.
    platform::RemoveOnAbruptEnd(archivePath);
    // A large file takes a while to compress: the window stays alive meanwhile.
    ArchiveSetEventPump(archive, [] { ui::ProcessMessages(); });

    const int count = ListFiles->Count();
    if (count < 1) {
        if (archive)
            ArchiveClose(archive); // do not keep the file open
        return kZipListEmpty;
    }
    const Archiving archiving = AddListedFiles(*this, archive, count);

    const bool closed = archive && ArchiveClose(archive) == ArchiveOk;
    if (archive && (!closed || archiving.outputFailed || archiving.archived == 0)) {
        // The directory at the end could not be written: the file is no
        // valid archive (or it holds nothing worth sending). Remove it so it
        // is never encrypted and sent, and record that nothing went out.
        platform::DeleteFile(archivePath);
        SentFiles.MarkNothingArchived();
    }

    const int64_t size = GetFileSize(archivePath);
    TransferSize = size;
    // The count says what went out in the archive: none of it when the
    // archive was thrown away.
    WriteLog("Zazipováno celkem " + std::to_string(SentFiles.Members()) + "; celková velikost " +
                 std::to_string(size) + " bytů",
             true);
    return size != 0 ? kZipDone : kZipArchiveMissing;
}

int TForm1::EncryptFile(std::string& TransferFile, int64_t& TransferSize) {
    const std::string archive = TransferFile;
    const std::string dateText = platform::DateText(platform::Now());
    const std::string datedArchive =
        platform::ExtractFileDir(archive) + platform::kPathSeparator + dateText + ".zip";
    const std::string encrypted = datedArchive + ".gpg";
    // The archive holds the day's patient data in the clear: it never stays
    // behind, whether encryption works or not. The encrypted file stays.
    const auto fail = [&](int result, const std::string& named, const std::string& plain) {
        platform::DeleteFile(plain);
        TransferFile = named;
        return result;
    };
    // Should the program be ended before this stage is over, the archive
    // under either name and gpg's partial output go with it.
    platform::RemoveOnAbruptEnd(datedArchive);
    platform::RemoveOnAbruptEnd(encrypted);
    struct Forget {
        std::vector<std::string> paths;
        ~Forget() {
            for (const std::string& path : paths)
                platform::ForgetOnAbruptEnd(path);
        }
    } forget{{archive, datedArchive, encrypted}};

    // Files of an earlier run on the same day are replaced. The rename
    // never replaces, so a name taken meanwhile (a planted link) fails.
    if (SomethingAt(datedArchive) && !platform::DeleteFile(datedArchive))
        return fail(kEncryptOlderFileInTheWay, datedArchive, archive);
    if (!platform::RenameFile(archive, datedArchive))
        return fail(kEncryptOlderFileInTheWay, datedArchive, archive);
    // gpg's output is made here first, new and the owner's only, so gpg
    // (told --yes) writes into this file and never through a planted link.
    if ((SomethingAt(encrypted) && !platform::DeleteFile(encrypted)) ||
        !platform::BinaryFile::CreateNew(encrypted))
        return fail(kEncryptOlderFileInTheWay, encrypted, datedArchive);

    // An argument vector, no shell: a path with blanks, quotes or '$' is
    // passed as it is.
    const GpgRun gpg = RunGpg({"-r", kGpgRecipientKey, "-e", datedArchive});
    platform::DeleteFile(datedArchive);
    if (!gpg.started) {
        platform::DeleteFile(encrypted);
        TransferFile.clear();
        return kEncryptCannotStart;
    }
    // About two seconds for the file to settle, with the window kept alive;
    // a stopped run ends at once.
    for (int i = 0; i < 4 && !gpg.stopped; ++i) {
        ui::ProcessMessages();
        platform::SleepMs(500);
    }
    ui::ProcessMessages();

    TransferFile = encrypted;
    const auto failed = [&] {
        for (const std::string& line : gpg.reason)
            WriteLog(line, true);
        platform::DeleteFile(encrypted);
        return kEncryptOutputMissing;
    };
    // gpg that failed, was killed or was ended may have left part of its
    // output, which would pass the size checks and be sent in place of the
    // data: the encryption counts as having made no file. Its status
    // decides, not its error output (GnuPG under Wine always writes some).
    if (!gpg.succeeded || !platform::FileExists(encrypted))
        return failed();
    const int64_t size = GetFileSize(encrypted);
    TransferSize = size;
    WriteLog("Šifrovaný soubor " + encrypted + " o velikosti " + std::to_string(size) + " bytů",
             true);
    return size != 0 ? kEncryptDone : failed();
}
