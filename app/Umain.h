// The main window: the operator's list of data files, the five buttons, the
// send run with its checks and stages, and the run journal.
//
// Where the code lives:
//   Umain.cpp            window, list handling, buttons, first activation
//   UmainRun.cpp         the send run, step by step, and its three checks
//   UmainJournal.cpp     WriteLog / TrimLog
//   UmainFileSize.cpp    GetFileSize
//   StagesArchive.cpp    ZipFiles, EncryptFile
//   StagesTransfer.cpp   ConnectFtp, UploadFile, CheckUpload, and the
//                        creation of the FTP client NMFTP
//   StagesDataFiles.cpp  DeleteDataFiles, MoveDataFiles
//   StageResults.h       names of the checks' and stages' result numbers
// The stage files are separate so that the run can be tested with stand-in
// stages (tests/app links the window without them).
#pragma once
#include "app/ArchiveRecord.h"
#include "app/RunOutcome.h"
#include "ui/Controls.h"
#include "ui/Dialogs.h"
#include "ui/Form.h"
#include "ui/Timer.h"

#include <cstdint>
#include <string>
#include <vector>

class TNMFTP;

// Recipient key given to gpg.exe with -r; fixed when the program is built.
#ifndef RODERUV_GPG_KEY
#define RODERUV_GPG_KEY "5E2B7C19"
#endif
inline constexpr const char* kGpgRecipientKey = RODERUV_GPG_KEY;

// The window's own caption (also what a run puts back when it ends).
inline constexpr const char* kMainCaption = "Projekt TANO - Odesílání dat - verze 1.3";

class TForm1 : public ui::Form {
public:
    // Params := commandLine (the arguments after the program name, in order).
    // The FTP client, the controls and the first activation are set up here.
    explicit TForm1(std::vector<std::string> commandLine);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // ---- members shared by the run, the stages and the journal ----------
    TNMFTP* NMFTP = nullptr; // made by CreateFtpClient, owned by the window
    ui::Button* ButtonStart = nullptr;
    ui::ListBox* ListFiles = nullptr; // one full path per line
    ui::Button* ButtonAddFiles = nullptr;
    ui::Button* ButtonRemoveFiles = nullptr;
    ui::OpenDialog OpenDialog;
    ui::Button* ButtonKonfigurace = nullptr;
    ui::Button* ButtonSave = nullptr;
    bool AutoMode = false;   // an unattended run was started; never reset
    bool LogEnabled = false; // UseLog, refreshed at the start of every run
    bool LogDelete = false;  // DeleteLog: each line replaces the journal
    std::string LogPath;     // CestaLog
    std::vector<std::string> Params;
    // Filled by ZipFiles: the data files that went into this run's archive.
    ArchiveRecord SentFiles;
    // Where the last send run ended (an escaping exception leaves
    // UnexpectedError).
    RunOutcome LastRunOutcome = RunOutcome::Sent;

    // The window caption (Caption / SetCaption of ui::Form) is the run's
    // progress display.

    // ---- event handlers (Sender is the control, may be null) --------------
    void FormActivate(ui::Control* Sender);
    void ButtonAddFilesClick(ui::Control* Sender);
    void ButtonRemoveFilesClick(ui::Control* Sender);
    void ButtonKonfiguraceClick(ui::Control* Sender);
    void ButtonSaveClick(ui::Control* Sender);
    // One send run; returns when it has ended.
    void ButtonStartClick(ui::Control* Sender);
    // Closing the window during a run stops it as a request from the system
    // does (TerminationWatch.h), and the program ends.
    void FormClose(ui::Control* Sender);
    // Ends the running run: the FTP client's waits, unbounded with time-out
    // 0, are cancelled so the run can end, and the program is asked to end.
    void StopRun();

    // ---- list and start-up ---------------------------------------------
    void LoadFileList();
    void SaveFileList();
    bool IsInList(const std::string& path) const;
    // A listed file has the same file name, compared as archive members are
    // (letter case aside): the registry could not tell the two apart.
    bool HasListedName(const std::string& path) const;
    void CheckAutoStart();
    void SetRunning(bool running);
    // The process exit status once the event loop has ended: 0, unless the
    // program ran unattended and ExitCode asks for statuses; then where the
    // last unattended run ended (RunOutcome.h).
    int ExitStatus() const;

    // ---- checks of the run (also used by ButtonSaveClick) ----------------
    bool CheckSettings();
    // gpg.exe is beside the program and answers: it can find GnuPG. When
    // not, *Reason gets the journal lines that say why (gpg's own words).
    bool CheckGpg(std::vector<std::string>* Reason = nullptr);
    // FilesCheckResult (StageResults.h): 0 list empty, 1 all usable, 2 some
    // missing or empty (BadFile = the last of them), 3 no usable file at all.
    int CheckFiles(std::string& BadFile);

    // ---- journal ---------------------------------------------------------
    void WriteLog(const std::string& Text, bool WithTime);
    void TrimLog();

    // ---- stages (StagesArchive.cpp, StagesTransfer.cpp, StagesDataFiles.cpp)
    // ZipResult: 1 archive written; 0 an older file of that name cannot be
    // removed; 2 list empty; 3 archive missing or empty. TransferFile :=
    // archive path.
    int ZipFiles(std::string& TransferFile, int64_t& TransferSize);
    // EncryptResult: 1 encrypted; 0 an older file in the way; 3 encrypted
    // file missing or empty; 4 gpg.exe cannot be started. TransferFile :=
    // the encrypted path.
    int EncryptFile(std::string& TransferFile, int64_t& TransferSize);
    // Size in bytes; 0 when the file is missing or cannot be opened.
    int64_t GetFileSize(const std::string& Path);
    // Connects, logs in and sends "TYPE L 8"; false with ConnectError set.
    bool ConnectFtp(std::string& ConnectError);
    bool UploadFile(const std::string& LocalPath, std::string& RemoteName);
    bool CheckUpload(const std::string& RemoteName, int64_t ExpectedSize);
    bool DeleteDataFiles();
    bool MoveDataFiles();

private:
    // StagesTransfer.cpp: makes NMFTP with its initial properties (Port 21,
    // ReportLevel 0, Vendor 2411, ParseList true, ProxyPort 0, Passive false,
    // FirewallType FtOpen, FWAuthenticate false) / destroys it.
    void CreateFtpClient();
    void DestroyFtpClient();

    ui::Timer socketTimer_; // delivers socket notifications while idle
    bool closedDuringRun_ = false;
    bool ranUnattended_ = false;
    RunOutcome unattendedOutcome_ = RunOutcome::Sent;
};
