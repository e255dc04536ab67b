// Whole send runs on the real window with every real stage (the ZIP writer,
// real GnuPG with a throwaway key): the set-up and checks shared by the run
// tests, the fault table and the interoperability runs. The application
// folder holds gpg.exe and the test key; the data files and their saved list,
// the server in the settings, one unattended run as cron starts it, the
// journal such a run writes, what arrived on the server and what became of
// the data files.
#pragma once
#include "AppFixture.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/GpgHome.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class WholeRunFixture : public AppFixture {
public:
    // What the clock of AppFixture names the encrypted file.
    static constexpr const char* kEncryptedName = "20260305.zip.gpg";
    static constexpr const char* kSuccess =
        "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. ";
    static constexpr const char* kConnectError = "Chyba při připojování k FTP serveru: ";

    // The log-in of UseFake scripted, then "TYPE L 8" accepted (public, like
    // the names above, for the rows of test tables).
    static testsupport::FakeFtpServer& LogIn(testsupport::FakeFtpServer& ftp,
                                             testsupport::Pace pace = {});

protected:
    // Each data file's path and content, in list order.
    using DataFiles = std::vector<std::pair<std::string, std::string>>;

    // The folders data, temp (the run's TMPDIR) and received; gpg.exe and the
    // test key in the application folder; WriteGoodSettings.
    WholeRunFixture();

    // Writes the data files and saves them as the window's list.
    void PutDataFiles(DataFiles dataFiles);
    // Saves files as the window's list in the current application folder.
    void SaveDataFileList();
    // The server and log-in in the settings (no proxy).
    void UseServer(const std::string& host, int port, const std::string& user,
                   const std::string& password);
    // The scripted server on 127.0.0.1 with the log-in of WriteGoodSettings.
    void UseFake(const testsupport::FakeFtpServer& ftp);

    // One unattended run as cron starts it: the window's first activation
    // finds the switch. The window stays in form afterwards, so timers can
    // watch it during the run. Returns the run's wall time in milliseconds.
    int64_t RunAuto();
    // One run the operator starts with the start button, likewise.
    int64_t RunInteractive();
    static int64_t MsSince(std::chrono::steady_clock::time_point start);

    std::string Encrypted() const; // the encrypted file in temp
    int64_t EncryptedSize() const;

    // The journal without the fixed stamps, and what a run journals up to
    // each point (the sizes read from the files the run left in temp).
    std::vector<std::string> Journal() const { return JournalUnstamped(); }
    static std::vector<std::string> UpToArchive();
    // The archive's size as the run journalled it: the archive itself is
    // gone once encrypted (what it held is checked after decrypting).
    std::string JournalledArchiveSize() const;
    std::vector<std::string> UpToEncrypt() const;
    std::vector<std::string> UpToConnect() const;
    std::vector<std::string> Sent() const; // up to the bytes sent
    // The server's reply line keeps its CR LF in the message, so the
    // journal holds an empty line after it (replyLine).
    std::vector<std::string> ConnectFailed(const std::string& error, bool replyLine) const;
    std::vector<std::string> UploadFailed() const;
    static std::vector<std::string> Plus(std::vector<std::string> a,
                                         const std::vector<std::string>& b);
    // The journal's last lines are tail (lines with real stamps, say).
    static void ExpectEndsWith(const std::vector<std::string>& journal,
                               const std::vector<std::string>& tail);

    void ExpectEndRequestedWithoutBoxes() const;
    void ExpectAllInPlace() const;
    void ExpectAllDeleted() const;
    // A failed run: no box, the end requested, every data file in place,
    // and this journal.
    void ExpectFailed(const std::vector<std::string>& journal) const;

    // The server's file is the encrypted file, byte for byte.
    void ExpectIsTheEncryptedFile(const std::string& onServer) const;
    // What the scripted server stored is the encrypted file, and it decrypts
    // to an archive that unzip accepts.
    void ExpectStoredIsTheEncryptedFile(const testsupport::FakeFtpServer& ftp) const;
    // Decrypts with the test key into zip; unzip -t accepts the archive.
    void ExpectDecryptsToSoundArchive(const std::string& encrypted, const std::string& zip) const;
    // The file decrypts to a sound archive holding exactly the data files
    // which (all of them when empty), in that order, byte for byte.
    void ExpectArrived(const std::string& serverFile, std::vector<std::size_t> which = {}) const;

    DataFiles files;
    std::unique_ptr<TForm1> form;
    testsupport::GpgHome gpg; // after tmp: its agents end before the folder goes
};
