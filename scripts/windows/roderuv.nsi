; The RODERUV installer for Windows x64: the program, its gpg.exe launcher
; and the Czech notes, for the current user, into a folder that user can
; write (the program keeps Settings.ini beside itself).
;
; makensis -INPUTCHARSET UTF8 -DVERSION=<x.y> -DBUILD=<n> -DPUBLISHER=<name>
;          -DYEAR=<yyyy> -DICON=<.ico> -DSTAGE=<folder with the three files>
;          -DOUTFILE=<setup.exe> roderuv.nsi
;
; Switches besides NSIS's own /S and /D=<folder> (which must come last):
;   /TASK=HH:MM   a daily Task Scheduler task RODERUV running roderuv.exe /auto
;   /KEY=<file>   imports the registry's public key into <folder>\gnupg
;   /DOWNGRADE    allows installing over a newer version
; An upgrade goes into the installed version's folder unless /D= says
; otherwise. Nothing is changed while the program runs from the folder or
; while any file there cannot be replaced: every file goes in, or none.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WordFunc.nsh"
!include "nsDialogs.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RODERUV"
!define UNINSTALLER "odinstalovat.exe"
!define TASK_NAME "RODERUV"
; The definition of the task registered from this folder, kept there.
!define TASK_XML "uloha.xml"
; Its value TaskFolder (HKCU) names the folder whose program the registered
; task runs: there is one task of that name, but there may be installations
; in several folders.
!define APP_KEY "Software\RODERUV"

; Exit statuses besides NSIS's own (0 done, 1 cancelled, 2 aborted).
!define EXIT_RUNNING 3 ; the program runs from the folder: nothing changed
!define EXIT_NEWER 4   ; a newer version is installed: nothing changed
!define EXIT_FILES 5   ; a file in the folder cannot be replaced: nothing changed
!define EXIT_SWITCH 6  ; a switch's value or the folder is unusable: nothing changed
!define EXIT_TASK 7    ; installed, but the daily task was not created
!define EXIT_KEY 8     ; installed, but the key was not imported

Name "RODERUV ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\RODERUV"
; The installed version's folder; /D= still wins.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel user
; A file that cannot be written ends the installation, silent or not; it is
; never skipped.
AllowSkipFiles off
ShowInstDetails show
ShowUninstDetails show

Var TaskTime  ; HH:MM of the daily task, or empty
Var KeyFile   ; full path of the key file to import, or empty
Var Downgrade ; 1 with /DOWNGRADE
Var TaskBox
Var TimeField
Var KeyField

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom OptionsPage OptionsLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\CTIMNE.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Zobrazit návod (CTIMNE.txt)"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Czech"

VIProductVersion "${VERSION}.0.${BUILD}"
VIAddVersionKey /LANG=${LANG_CZECH} "ProductName" "RODERUV"
VIAddVersionKey /LANG=${LANG_CZECH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_CZECH} "FileDescription" "Instalace programu RODERUV"
VIAddVersionKey /LANG=${LANG_CZECH} "FileVersion" "${VERSION}.0.${BUILD}"
VIAddVersionKey /LANG=${LANG_CZECH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_CZECH} "LegalCopyright" "© ${YEAR} ${PUBLISHER}"

; Ends the installation or uninstallation with an exit status, after a box
; that a silent run leaves out.
!macro Refuse code text
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${code}
  Abort
!macroend

; What both the installer and the uninstaller need, once for each.
!macro SharedFunctions un

; $R0 = 1 when the program runs from $INSTDIR. The program keeps a mutex
; "RODERUV-<CRC-32 of its folder>" in the session's and in the machine's
; namespace; the folder is spelled in full, with long names, in upper case
; and without a trailing backslash, and taken as UTF-16 bytes, exactly as the
; program spells its own. A mutex that exists but may not be opened (another
; user's program in a shared folder) counts too.
Function ${un}ProgramRunning
  StrCpy $R0 0
  IfFileExists "$INSTDIR\*.*" 0 done
  GetFullPathName $R1 "$INSTDIR"
  StrCmp $R1 "" done
  System::Call 'kernel32::GetLongPathNameW(w R1, w .R2, i ${NSIS_MAX_STRLEN}) i .R3'
  ${If} $R3 > 0
  ${AndIf} $R3 < ${NSIS_MAX_STRLEN}
    StrCpy $R1 $R2
  ${EndIf}
  StrCpy $R2 $R1 1 -1
  ${If} $R2 == "\"
    StrCpy $R1 $R1 -1
  ${EndIf}
  StrLen $R3 $R1
  System::Call 'user32::CharUpperBuffW(w R1 R1, i R3)'
  IntOp $R3 $R3 * 2
  System::Call 'ntdll::RtlComputeCrc32(i 0, w R1, i R3) i .R2'
  IntFmt $R2 "%08X" $R2
  ${ForEach} $R4 1 2 + 1
    ${If} $R4 == 1
      StrCpy $R5 "Local\RODERUV-$R2"
    ${Else}
      StrCpy $R5 "Global\RODERUV-$R2"
    ${EndIf}
    ; SYNCHRONIZE; ?e leaves the system's error code on the stack
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w R5) p .R6 ?e'
    Pop $R7
    ${If} $R6 != 0
      System::Call 'kernel32::CloseHandle(p R6)'
      StrCpy $R0 1
    ${ElseIf} $R7 == 5 ; ERROR_ACCESS_DENIED
      StrCpy $R0 1
    ${EndIf}
  ${Next}
  done:
FunctionEnd

; Waits for the program to end: interactively the user closes it and
; retries, a silent run ends at once, having changed nothing.
Function ${un}WaitUntilNotRunning
  retry:
  Call ${un}ProgramRunning
  ${If} $R0 == 1
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "RODERUV ve složce $INSTDIR právě běží (okno programu nebo odesílání bez obsluhy). Ukončete jej a stiskněte Opakovat. Nic nebylo změněno." /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_RUNNING}
    Abort
  ${EndIf}
FunctionEnd

; A running executable, also an older version's that announces nothing,
; cannot be opened for writing: $R1 names a file in $INSTDIR.
Function ${un}CheckReplaceable
  retry:
  IfFileExists "$INSTDIR\$R1" 0 done
  ; GENERIC_WRITE | DELETE, sharing nothing, OPEN_EXISTING
  System::Call 'kernel32::CreateFileW(w "$INSTDIR\$R1", i 0x40010000, i 0, p 0, i 3, i 0, p 0) p .R2'
  ${If} $R2 == -1
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Soubor $INSTDIR\$R1 nelze nahradit ani odstranit: používá jej jiný program, nebo je jen pro čtení. Ukončete program, který jej používá, a stiskněte Opakovat. Nic nebylo změněno." /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_FILES}
    Abort
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p R2)'
  done:
FunctionEnd

!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; $R0 = 1 when $R1 is a time HH:MM (00:00 to 23:59).
Function ValidTime
  StrCpy $R0 0
  StrLen $R2 $R1
  StrCpy $R3 $R1 1 2
  ${If} $R2 != 5
  ${OrIf} $R3 != ":"
    Return
  ${EndIf}
  ${ForEach} $R2 0 4 + 1
    ${If} $R2 != 2
      StrCpy $R3 $R1 1 $R2
      ClearErrors
      ${WordFind} "0123456789" $R3 "E*" $R4
      IfErrors 0 +2
        Return
    ${EndIf}
  ${Next}
  StrCpy $R2 $R1 2
  StrCpy $R3 $R1 2 3
  ; Digits with a leading zero would be read as octal.
  StrCpy $R4 $R2 1
  StrCpy $R5 $R2 1 1
  IntOp $R2 $R4 * 10
  IntOp $R2 $R2 + $R5
  StrCpy $R4 $R3 1
  StrCpy $R5 $R3 1 1
  IntOp $R3 $R4 * 10
  IntOp $R3 $R3 + $R5
  ${If} $R2 < 24
  ${AndIf} $R3 < 60
    StrCpy $R0 1
  ${EndIf}
FunctionEnd

; The folder's log path for the starting Settings.ini: $R0.
Function JournalPath
  StrCpy $R0 "$INSTDIR"
  StrCpy $R1 $R0 1 -1
  ${If} $R1 != "\"
    StrCpy $R0 "$R0\"
  ${EndIf}
  StrCpy $R0 "$R0roderuv.log"
FunctionEnd

; The starting Settings.ini's bytes in Windows-1250, as the program stores
; them: $R1 points to them (System::Free it), $R2 counts them; $R1 = 0 when
; the folder's path holds a character Windows-1250 does not have.
Function StartingSettings
  Call JournalPath
  StrCpy $R0 "[General]$\r$\nUseLog=1$\r$\nCestaLog=$R0$\r$\nTimeOut=120$\r$\n"
  ; WC_NO_BEST_FIT_CHARS: no look-alike letter in place of a missing one
  System::Call 'kernel32::WideCharToMultiByte(i 1250, i 0x400, w R0, i -1, p 0, i 0, p 0, *i .R3) i .R2'
  StrCpy $R1 0
  ${If} $R3 != 0
  ${OrIf} $R2 == 0
    Return
  ${EndIf}
  System::Alloc $R2
  Pop $R1
  System::Call 'kernel32::WideCharToMultiByte(i 1250, i 0x400, w R0, i -1, p R1, i R2, p 0, p 0) i .R2'
  IntOp $R2 $R2 - 1 ; without the terminating zero
FunctionEnd

; $R0 = 1 when a starting Settings.ini is needed but cannot hold the folder.
Function FolderUnfitForSettings
  StrCpy $R0 0
  IfFileExists "$INSTDIR\Settings.ini" done
  Call StartingSettings
  ${If} $R1 == 0
    StrCpy $R0 1
  ${Else}
    System::Free $R1
  ${EndIf}
  done:
FunctionEnd

!define UNFIT_FOLDER_TEXT "Cesta ke složce $INSTDIR obsahuje znaky, které nastavení programu (Settings.ini, kódování Windows-1250) neumí uložit. Zvolte složku, jejíž cesta obsahuje jen písmena české či anglické abecedy, číslice a běžné znaky, například C:\RODERUV."

; $R8 names a switch with its "=" ("/TASK="), or one without a value
; ("/DOWNGRADE"): $R9 is its value, the error flag is set when it is not
; there. The command line is split as every Windows program splits its own,
; so that /KEY="C:\a b\k.asc" and "/KEY=C:\a b\k.asc" mean the same.
Function CommandLineSwitch
  StrCpy $R9 ""
  StrCpy $R6 0
  StrLen $R7 $R8
  System::Call 'kernel32::GetCommandLineW() p .R1'
  System::Call 'shell32::CommandLineToArgvW(p R1, *i .R2) p .R1'
  ${If} $R1 != 0
    IntOp $R2 $R2 - 1
    ${For} $R3 1 $R2
      IntPtrOp $R4 $R3 * ${NSIS_PTR_SIZE}
      IntPtrOp $R4 $R1 + $R4
      System::Call '*$R4(p .R4)'
      System::Call 'kernel32::lstrcpynW(w .R5, p R4, i ${NSIS_MAX_STRLEN})'
      StrCpy $R4 $R5 $R7
      ${If} $R4 == $R8
        StrCpy $R9 $R5 "" $R7
        StrCpy $R6 1
      ${EndIf}
    ${Next}
    System::Call 'kernel32::LocalFree(p R1)'
  ${EndIf}
  ClearErrors
  ${If} $R6 == 0
    SetErrors
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $R8 "/TASK="
  Call CommandLineSwitch
  ${If} ${Errors}
    StrCpy $TaskTime ""
  ${Else}
    StrCpy $TaskTime $R9
    StrCpy $R1 $TaskTime
    Call ValidTime
    ${If} $R0 != 1
      !insertmacro Refuse ${EXIT_SWITCH} "Neplatný čas /TASK=$TaskTime: zadejte jej jako HH:MM, například /TASK=22:00."
    ${EndIf}
  ${EndIf}
  StrCpy $R8 "/KEY="
  Call CommandLineSwitch
  ${If} ${Errors}
    StrCpy $KeyFile ""
  ${Else}
    StrCpy $KeyFile $R9
    GetFullPathName $R1 $KeyFile
    ${If} $R1 == ""
    ${OrIfNot} ${FileExists} $R1
      !insertmacro Refuse ${EXIT_SWITCH} "Soubor s klíčem /KEY=$KeyFile nebyl nalezen."
    ${EndIf}
    StrCpy $KeyFile $R1
  ${EndIf}
  StrCpy $R8 "/DOWNGRADE"
  Call CommandLineSwitch
  ${IfNot} ${Errors}
  ${AndIf} $R9 == ""
    StrCpy $Downgrade 1
  ${EndIf}

  ; No silent downgrade: the installed version is the uninstall entry's,
  ; compared part by part as numbers (1.10 is newer than 1.9).
  ReadRegStr $R1 HKCU "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $R1 != ""
  ${AndIf} $Downgrade != 1
    ${VersionCompare} "${VERSION}" $R1 $R2
    ${If} $R2 == 2
      MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "Je nainstalována novější verze RODERUV $R1. Opravdu ji nahradit starší verzí ${VERSION}?" /SD IDNO IDYES downgrade_asked_for
      SetErrorLevel ${EXIT_NEWER}
      Abort
    ${EndIf}
  ${EndIf}
  downgrade_asked_for:
FunctionEnd

Function DirectoryLeave
  Call FolderUnfitForSettings
  ${If} $R0 == 1
    MessageBox MB_OK|MB_ICONSTOP "${UNFIT_FOLDER_TEXT}"
    Abort
  ${EndIf}
FunctionEnd

Function OptionsPage
  !insertmacro MUI_HEADER_TEXT "Odesílání bez obsluhy a klíč registru" "Obojí lze vynechat a udělat později ručně (viz CTIMNE.txt)."
  nsDialogs::Create 1018
  Pop $R0
  ${NSD_CreateCheckbox} 0 0 100% 12u "Každý den odesílat data bez obsluhy (naplánovaná úloha ${TASK_NAME}) v čase:"
  Pop $TaskBox
  ${NSD_CreateText} 12u 15u 40u 12u "22:00"
  Pop $TimeField
  ${If} $TaskTime != ""
    ${NSD_Check} $TaskBox
    ${NSD_SetText} $TimeField $TaskTime
  ${EndIf}
  ${NSD_CreateLabel} 0 31u 100% 26u "Úloha spustí roderuv.exe /auto pod vaším účtem, když jste přihlášeni; zmeškané odeslání proběhne, jakmile to půjde. Existující úlohu ${TASK_NAME} nahradí."
  Pop $R0
  ${NSD_CreateLabel} 0 64u 100% 12u "Veřejný klíč registru (soubor .asc) k importu do složky gnupg programu:"
  Pop $R0
  ${NSD_CreateFileRequest} 0 78u 78% 13u $KeyFile
  Pop $KeyField
  ${NSD_CreateBrowseButton} 80% 77u 20% 15u "Procházet..."
  Pop $R0
  ${NSD_OnClick} $R0 BrowseKey
  nsDialogs::Show
FunctionEnd

Function BrowseKey
  ${NSD_GetText} $KeyField $R1
  nsDialogs::SelectFileDialog open $R1 "Klíč (*.asc;*.gpg;*.key)|*.asc;*.gpg;*.key|Všechny soubory|*.*"
  Pop $R1
  ${If} $R1 != ""
    ${NSD_SetText} $KeyField $R1
  ${EndIf}
FunctionEnd

Function OptionsLeave
  StrCpy $TaskTime ""
  ${NSD_GetState} $TaskBox $R0
  ${If} $R0 == ${BST_CHECKED}
    ${NSD_GetText} $TimeField $R1
    Call ValidTime
    ${If} $R0 != 1
      MessageBox MB_OK|MB_ICONSTOP "Zadejte čas odesílání jako HH:MM, například 22:00."
      Abort
    ${EndIf}
    StrCpy $TaskTime $R1
  ${EndIf}
  ${NSD_GetText} $KeyField $KeyFile
  ${If} $KeyFile != ""
    GetFullPathName $R1 $KeyFile
    ${If} $R1 == ""
    ${OrIfNot} ${FileExists} $R1
      MessageBox MB_OK|MB_ICONSTOP "Soubor s klíčem $KeyFile nebyl nalezen."
      Abort
    ${EndIf}
    StrCpy $KeyFile $R1
  ${EndIf}
FunctionEnd

; The files of an installation, each first extracted beside its place as
; NAME.new; then the old one becomes NAME.old and NAME.new takes its place.
!macro ForEachFile macro
  !insertmacro ${macro} "roderuv.exe"
  !insertmacro ${macro} "gpg.exe"
  !insertmacro ${macro} "CTIMNE.txt"
  !insertmacro ${macro} "${UNINSTALLER}"
!macroend

!macro ClearLeftovers name
  Delete "$INSTDIR\${name}.new"
  Delete "$INSTDIR\${name}.old"
  ${If} ${FileExists} "$INSTDIR\${name}.new"
  ${OrIf} ${FileExists} "$INSTDIR\${name}.old"
    StrCpy $R1 "${name}.new"
    Call CheckReplaceable
    StrCpy $R1 "${name}.old"
    Call CheckReplaceable
  ${EndIf}
!macroend

; $R8 becomes 1 at the first file that cannot be swapped in.
!macro SwapIn name
  ${If} $R8 == 0
    ClearErrors
    ${If} ${FileExists} "$INSTDIR\${name}"
      Rename "$INSTDIR\${name}" "$INSTDIR\${name}.old"
    ${EndIf}
    ${IfNot} ${Errors}
      Rename "$INSTDIR\${name}.new" "$INSTDIR\${name}"
      ${If} ${Errors}
        StrCpy $R8 1
      ${EndIf}
    ${Else}
      StrCpy $R8 1
    ${EndIf}
  ${EndIf}
!macroend

; Puts back what was there: a file already swapped in gives way to its .old
; (or goes, if there was none); a file not yet swapped keeps its place.
!macro SwapBack name
  ${IfNot} ${FileExists} "$INSTDIR\${name}.new"
    Delete "$INSTDIR\${name}"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${name}.old"
  ${AndIfNot} ${FileExists} "$INSTDIR\${name}"
    Rename "$INSTDIR\${name}.old" "$INSTDIR\${name}"
  ${EndIf}
  Delete "$INSTDIR\${name}.new"
!macroend

!macro DropOld name
  Delete "$INSTDIR\${name}.old"
!macroend

!macro FileXml handle text
  FileWriteUTF16LE ${handle} `${text}$\r$\n`
!macroend

; $R0 with & < > written as XML text.
Function XmlText
  ${WordReplace} $R0 "&" "&amp;" "+" $R0
  ${WordReplace} $R0 "<" "&lt;" "+" $R0
  ${WordReplace} $R0 ">" "&gt;" "+" $R0
FunctionEnd

; Writes $INSTDIR\uloha.xml.new (UTF-16, as Task Scheduler reads it): daily at
; $TaskTime from today, as the installing user while logged on (no password
; is stored), a missed start made up when the PC is next available, never a
; second run beside one still going, a run ended after an hour, on battery
; too. Error flag on failure.
Function WriteTaskXml
  System::Call '*(&i2, &i2, &i2, &i2, &i2, &i2, &i2, &i2) p .R1'
  System::Call 'kernel32::GetLocalTime(p R1)'
  System::Call '*$R1(&i2 .R2, &i2 .R3, &i2, &i2 .R4)'
  System::Free $R1
  IntFmt $R3 "%02u" $R3
  IntFmt $R4 "%02u" $R4
  ReadEnvStr $R5 USERNAME
  ReadEnvStr $R6 USERDOMAIN
  ${If} $R6 != ""
    StrCpy $R5 "$R6\$R5"
  ${EndIf}
  StrCpy $R0 $R5
  Call XmlText
  StrCpy $R5 $R0
  StrCpy $R0 $INSTDIR
  Call XmlText
  StrCpy $R6 $R0
  ClearErrors
  FileOpen $R7 "$INSTDIR\${TASK_XML}.new" w
  IfErrors done
  FileWriteUTF16LE /BOM $R7 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  !insertmacro FileXml $R7 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">'
  !insertmacro FileXml $R7 '  <RegistrationInfo>'
  !insertmacro FileXml $R7 '    <Author>$R5</Author>'
  !insertmacro FileXml $R7 '    <Description>RODERUV: denní odeslání dat do registru bez obsluhy</Description>'
  !insertmacro FileXml $R7 '  </RegistrationInfo>'
  !insertmacro FileXml $R7 '  <Triggers>'
  !insertmacro FileXml $R7 '    <CalendarTrigger>'
  !insertmacro FileXml $R7 '      <StartBoundary>$R2-$R3-$R4T$TaskTime:00</StartBoundary>'
  !insertmacro FileXml $R7 '      <Enabled>true</Enabled>'
  !insertmacro FileXml $R7 '      <ScheduleByDay>'
  !insertmacro FileXml $R7 '        <DaysInterval>1</DaysInterval>'
  !insertmacro FileXml $R7 '      </ScheduleByDay>'
  !insertmacro FileXml $R7 '    </CalendarTrigger>'
  !insertmacro FileXml $R7 '  </Triggers>'
  !insertmacro FileXml $R7 '  <Principals>'
  !insertmacro FileXml $R7 '    <Principal id="Author">'
  !insertmacro FileXml $R7 '      <UserId>$R5</UserId>'
  !insertmacro FileXml $R7 '      <LogonType>InteractiveToken</LogonType>'
  !insertmacro FileXml $R7 '      <RunLevel>LeastPrivilege</RunLevel>'
  !insertmacro FileXml $R7 '    </Principal>'
  !insertmacro FileXml $R7 '  </Principals>'
  !insertmacro FileXml $R7 '  <Settings>'
  !insertmacro FileXml $R7 '    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>'
  !insertmacro FileXml $R7 '    <StartWhenAvailable>true</StartWhenAvailable>'
  !insertmacro FileXml $R7 '    <ExecutionTimeLimit>PT1H</ExecutionTimeLimit>'
  !insertmacro FileXml $R7 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>'
  !insertmacro FileXml $R7 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>'
  !insertmacro FileXml $R7 '    <AllowStartOnDemand>true</AllowStartOnDemand>'
  !insertmacro FileXml $R7 '    <Enabled>true</Enabled>'
  !insertmacro FileXml $R7 '  </Settings>'
  !insertmacro FileXml $R7 '  <Actions Context="Author">'
  !insertmacro FileXml $R7 '    <Exec>'
  !insertmacro FileXml $R7 '      <Command>$R6\roderuv.exe</Command>'
  !insertmacro FileXml $R7 '      <Arguments>/auto</Arguments>'
  !insertmacro FileXml $R7 '      <WorkingDirectory>$R6</WorkingDirectory>'
  !insertmacro FileXml $R7 '    </Exec>'
  !insertmacro FileXml $R7 '  </Actions>'
  !insertmacro FileXml $R7 '</Task>'
  FileClose $R7
  done:
FunctionEnd

; A starting Settings.ini with the journal on, so that the first failed night
; leaves a trace, written as Settings.ini.new when the folder has none (one
; that exists is never touched). Error flag on failure.
Function StageSettings
  Delete "$INSTDIR\Settings.ini.new"
  ${If} ${FileExists} "$INSTDIR\Settings.ini"
    Return
  ${EndIf}
  Call StartingSettings
  StrCpy $R5 0
  ${If} $R1 != 0
    ClearErrors
    FileOpen $R3 "$INSTDIR\Settings.ini.new" w
    ${IfNot} ${Errors}
      System::Call 'kernel32::WriteFile(p R3, p R1, i R2, *i .R4, p 0) i .R5'
      FileClose $R3
    ${EndIf}
    System::Free $R1
  ${EndIf}
  ClearErrors
  ${If} $R5 == 0
  ${OrIf} $R4 != $R2
    SetErrors
  ${EndIf}
FunctionEnd

Section "RODERUV" SecMain
  ; Shortcuts and the uninstall entry belong to the current user too.
  SetShellVarContext current

  ; Nothing is changed until every check has passed.
  Call WaitUntilNotRunning
  Call FolderUnfitForSettings
  ${If} $R0 == 1
    !insertmacro Refuse ${EXIT_SWITCH} "${UNFIT_FOLDER_TEXT}"
  ${EndIf}
  StrCpy $R1 "roderuv.exe"
  Call CheckReplaceable
  StrCpy $R1 "gpg.exe"
  Call CheckReplaceable
  StrCpy $R1 "${UNINSTALLER}"
  Call CheckReplaceable

  ; Whatever stops the extraction (a full disk, say) leaves the installed
  ; files as they were.
  SetErrorLevel ${EXIT_FILES}
  SetOutPath "$INSTDIR"
  !insertmacro ForEachFile ClearLeftovers
  File "/oname=roderuv.exe.new" "${STAGE}/roderuv.exe"
  File "/oname=gpg.exe.new" "${STAGE}/gpg.exe"
  File "/oname=CTIMNE.txt.new" "${STAGE}/CTIMNE.txt"
  ClearErrors
  WriteUninstaller "$INSTDIR\${UNINSTALLER}.new"
  ${IfNot} ${Errors}
    Call StageSettings
  ${EndIf}
  ${If} ${Errors}
    !insertmacro ForEachFile SwapBack
    Delete "$INSTDIR\Settings.ini.new"
    !insertmacro Refuse ${EXIT_FILES} "Do složky $INSTDIR nelze zapisovat. Nic nebylo změněno."
  ${EndIf}
  StrCpy $R8 0
  !insertmacro ForEachFile SwapIn
  ${If} $R8 == 1
    !insertmacro ForEachFile SwapBack
    !insertmacro Refuse ${EXIT_FILES} "Některý ze souborů programu ve složce $INSTDIR nelze nahradit: používá jej jiný program. Ukončete jej a spusťte instalaci znovu. Nic nebylo změněno."
  ${EndIf}
  !insertmacro ForEachFile DropOld
  ; Renaming never replaces: a Settings.ini that appeared meanwhile stays.
  ${IfNot} ${FileExists} "$INSTDIR\Settings.ini"
    Rename "$INSTDIR\Settings.ini.new" "$INSTDIR\Settings.ini"
  ${EndIf}
  Delete "$INSTDIR\Settings.ini.new"
  SetErrorLevel 0

  CreateDirectory "$SMPROGRAMS\RODERUV"
  CreateShortcut "$SMPROGRAMS\RODERUV\RODERUV.lnk" "$INSTDIR\roderuv.exe" "" "$INSTDIR\roderuv.exe" 0
  CreateShortcut "$SMPROGRAMS\RODERUV\Čtěte mě.lnk" "$INSTDIR\CTIMNE.txt"
  CreateShortcut "$SMPROGRAMS\RODERUV\Odinstalovat RODERUV.lnk" "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "RODERUV"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\roderuv.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  SectionGetSize ${SecMain} $R0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $R0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

  ; The new definition replaces uloha.xml and the record only once
  ; registered: after a failed schtasks the task registered before, if any,
  ; still runs, and the uninstaller must still find it.
  ${If} $TaskTime != ""
    ClearErrors
    Call WriteTaskXml
    StrCpy $R0 error
    ${IfNot} ${Errors}
      nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /XML "$INSTDIR\${TASK_XML}.new" /TN "${TASK_NAME}" /F'
      Pop $R0
    ${EndIf}
    ${If} $R0 == 0
      Delete "$INSTDIR\${TASK_XML}"
      Rename "$INSTDIR\${TASK_XML}.new" "$INSTDIR\${TASK_XML}"
      WriteRegStr HKCU "${APP_KEY}" "TaskFolder" "$INSTDIR"
    ${Else}
      Delete "$INSTDIR\${TASK_XML}.new"
      MessageBox MB_OK|MB_ICONEXCLAMATION "Naplánovanou úlohu ${TASK_NAME} se nepodařilo založit (schtasks: $R0). Program je nainstalován; úlohu založte ručně podle CTIMNE.txt." /SD IDOK
      SetErrorLevel ${EXIT_TASK}
    ${EndIf}
  ${EndIf}

  ; The key goes through our launcher, which adds --homedir <folder>\gnupg
  ; when that folder exists.
  ${If} $KeyFile != ""
    CreateDirectory "$INSTDIR\gnupg"
    nsExec::ExecToLog '"$INSTDIR\gpg.exe" --import "$KeyFile"'
    Pop $R0
    ${If} $R0 != 0
      MessageBox MB_OK|MB_ICONEXCLAMATION "Klíč registru ze souboru $KeyFile se nepodařilo naimportovat (gpg: $R0). Je nainstalováno GnuPG pro Windows? Program je nainstalován; klíč naimportujte ručně podle CTIMNE.txt." /SD IDOK
      SetErrorLevel ${EXIT_KEY}
    ${EndIf}
  ${Else}
    ; Only a person is warned; a silent installation may come before GnuPG.
    ${IfNot} ${Silent}
      nsExec::Exec '"$INSTDIR\gpg.exe" --version'
      Pop $R0
      ${If} $R0 != 0
        MessageBox MB_OK|MB_ICONEXCLAMATION "GnuPG pro Windows nebylo nalezeno. Bez něj RODERUV data nezašifruje ani neodešle: nainstalujte Gpg4win nebo GnuPG (viz CTIMNE.txt)."
      ${EndIf}
    ${EndIf}
  ${EndIf}
SectionEnd

; Only what the installer put there (and the run lock) goes: Settings.ini,
; the journal, the key folder gnupg and anything else the user keeps there
; stay, and so does the folder unless it is empty. The daily task goes
; unless it runs another installation's program; the uninstall entry if it
; names this folder.
Section "Uninstall"
  SetShellVarContext current
  Call un.WaitUntilNotRunning
  StrCpy $R1 "roderuv.exe"
  Call un.CheckReplaceable
  StrCpy $R1 "gpg.exe"
  Call un.CheckReplaceable

  ; By its name, whether or not uloha.xml is here: a task with no record
  ; (an earlier version registered it, or its uloha.xml was lost) would
  ; otherwise be left starting a removed program every day. One that the
  ; record gives to another folder whose program is there stays.
  ReadRegStr $R1 HKCU "${APP_KEY}" "TaskFolder"
  ${If} $R1 == ""
  ${OrIf} $R1 == $INSTDIR
  ${OrIfNot} ${FileExists} "$R1\roderuv.exe"
    ; Fails harmlessly when no task of that name is registered.
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK_NAME}" /F'
    Pop $R0
    DeleteRegValue HKCU "${APP_KEY}" "TaskFolder"
    DeleteRegKey /ifempty HKCU "${APP_KEY}"
  ${EndIf}
  Delete "$INSTDIR\${TASK_XML}"

  Delete "$SMPROGRAMS\RODERUV\RODERUV.lnk"
  Delete "$SMPROGRAMS\RODERUV\Čtěte mě.lnk"
  Delete "$SMPROGRAMS\RODERUV\Odinstalovat RODERUV.lnk"
  RMDir "$SMPROGRAMS\RODERUV"

  Delete "$INSTDIR\roderuv.exe"
  Delete "$INSTDIR\gpg.exe"
  Delete "$INSTDIR\CTIMNE.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The program's run lock: no data, made anew by the next run.
  Delete "$INSTDIR\roderuv.lock"
  RMDir "$INSTDIR"

  ; Last, so that whoever waits for the uninstaller can watch for it. An
  ; entry that another folder's installation has taken over stays.
  ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 == ""
  ${OrIf} $R0 == $INSTDIR
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
