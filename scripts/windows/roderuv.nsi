; The RODERUV installer for Windows x64: the program, its gpg.exe launcher
; and the Czech notes, for the current user, into a folder that user can
; write (the program keeps Settings.ini beside itself).
;
; makensis -INPUTCHARSET UTF8 -DVERSION=<x.y> -DSTAGE=<folder with the three
;          files> -DOUTFILE=<setup.exe> roderuv.nsi

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RODERUV"
!define UNINSTALLER "odinstalovat.exe"

Name "RODERUV ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\RODERUV"
RequestExecutionLevel user
ShowInstDetails show
ShowUninstDetails show

!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\CTIMNE.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Zobrazit návod (CTIMNE.txt)"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Czech"

Section "RODERUV"
  ; Shortcuts and the uninstall entry belong to the current user too.
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}/roderuv.exe"
  File "${STAGE}/gpg.exe"
  File "${STAGE}/CTIMNE.txt"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateDirectory "$SMPROGRAMS\RODERUV"
  CreateShortcut "$SMPROGRAMS\RODERUV\RODERUV.lnk" "$INSTDIR\roderuv.exe"
  CreateShortcut "$SMPROGRAMS\RODERUV\Čtěte mě.lnk" "$INSTDIR\CTIMNE.txt"
  CreateShortcut "$SMPROGRAMS\RODERUV\Odinstalovat RODERUV.lnk" "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "RODERUV"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\roderuv.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there (and the run lock) goes: Settings.ini,
; the journal, the key folder gnupg and anything else the user keeps there
; stay, and so does the folder unless it is empty.
Section "Uninstall"
  SetShellVarContext current
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

  ; Last, so that whoever waits for the uninstaller can watch for it.
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
