// Archive and encryption stages: the listed data files go into one ZIP
// archive in the temporary directory, which gpg.exe then encrypts for the
// registry's key under the date's name.
#include "app/GpgRun.h"
#include "app/StageResults.h"
#include "app/Umain.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/NewFile.h"
#include "platform/Paths.h"
#include "ui/Application.h"
#include "zip/Archive.h"

#include <string>

namespace {

const char* const kArchiveName = "_ftp_file.zip";

// Anything at the path stands in the way of a new file of that name, also a
// folder (which DeleteFile cannot remove) and a link: in a shared temporary
// folder a link planted under our name would make the archive or gpg's
// output overwrite whatever it points to, so it is removed like an old file.
bool SomethingAt(const std::string& path) {
    return platform::PathExists(path);
}

// Adds one listed file and tells whether it went in whole: the writer
// succeeded and the file's size and last-write time were the same just
// before and just after, so a file written meanwhile is not taken as sent.
ArchivedFile AddListedFile(ArchiveHandle* archive, const std::string& line, ArchiveResult& result) {
    ArchivedFile record;
    record.Path = line;
    platform::FileInfo before;
    const bool known = platform::GetFileInfo(line, before);
    result = ArchiveAddFile(archive, platform::ExtractFileName(line), line);
    platform::FileInfo after;
    const bool stillKnown = platform::GetFileInfo(line, after);
    if (known) {
        record.Size = before.size;
        record.LastWrite = before.lastWrite;
        record.LastWriteNsec = before.lastWriteNsec;
    }
    record.Archived = result == ArchiveOk && known && stillKnown && before.size == after.size &&
                      before.lastWrite == after.lastWrite &&
                      before.lastWriteNsec == after.lastWriteNsec;
    return record;
}

struct Archiving {
    int archived = 0;          // listed files that exist
    bool outputFailed = false; // the archive itself could not be written
};

// Adds the first count listed files, with each one's number in the caption,
// and records in SentFiles what went in whole.
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
        form.SentFiles.Add(AddListedFile(archive, line, result));
        // The archive itself could not be written (a full disk): it no longer
        // holds what the list says, so it must not go out at all.
        if (result == ArchiveWriteFailed || result == ArchiveErrorRecorded)
            archiving.outputFailed = true;
        if (platform::FileExists(line))
            ++archiving.archived;
    }
    form.WriteLog("Zazipováno celkem " + std::to_string(archiving.archived), true);
    form.SetCaption(savedCaption);
    return archiving;
}

} // namespace

int TForm1::ZipFiles(std::string& TransferFile, int64_t& TransferSize) {
    const std::string archivePath = platform::TempDir() + kArchiveName;
    TransferFile = archivePath;
    SentFiles.Clear();

    // A folder that is not safely the user's own is not used, and no other
    // folder is taken in its place: the operator is told to check its rights.
    if (!platform::PrepareTempDir())
        return kZipOlderFileInTheWay;

    if (SomethingAt(archivePath)) {
        WriteLog("Mazání starého souboru " + archivePath, true);
        if (!platform::DeleteFile(archivePath))
            return kZipOlderFileInTheWay;
    }

    // A null handle (the file cannot be created) makes the additions fail;
    // the size check at the end then finds no archive.
    ArchiveHandle* archive = ArchiveCreate(archivePath);
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
    if (archive && (!closed || archiving.outputFailed)) {
        // The directory at the end could not be written: the file is no
        // valid archive. Remove it so it is never encrypted and sent, and
        // record that nothing went out.
        platform::DeleteFile(archivePath);
        SentFiles.MarkNothingArchived();
    }

    const int64_t size = GetFileSize(archivePath);
    TransferSize = size;
    WriteLog("Zazipováno celkem " + std::to_string(archiving.archived) + "; celková velikost " +
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

    // Files of an earlier run on the same day are replaced. The rename
    // never replaces, so a name taken meanwhile (a planted link) fails.
    if (SomethingAt(datedArchive) && !platform::DeleteFile(datedArchive))
        return fail(kEncryptOlderFileInTheWay, datedArchive, archive);
    if (!platform::RenameFile(archive, datedArchive))
        return fail(kEncryptOlderFileInTheWay, datedArchive, archive);
    // gpg's output is made here first, new and the owner's only, so gpg
    // (told --yes) writes into this file and never through a planted link.
    if ((SomethingAt(encrypted) && !platform::DeleteFile(encrypted)) ||
        !platform::CreateNewPrivateFile(encrypted))
        return fail(kEncryptOlderFileInTheWay, encrypted, datedArchive);

    // An argument vector, no shell: a path with blanks, quotes or '$' is
    // passed as it is.
    const GpgRun gpg = RunGpg(*this, {"-r", kGpgRecipientKey, "-e", datedArchive});
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
