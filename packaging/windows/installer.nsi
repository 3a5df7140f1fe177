; The Windows setup program of Vantri Key Writer, made by makensis (Debian's
; nsis) from `make package-windows`.  A 64-bit, Unicode installer that
; installs for the current user only, so no administrator rights are asked:
; the programs, LICENSE, README and the guides it links to (docs\) go to %LOCALAPPDATA%\Programs\Vantri Key
; Writer, with Start-menu entries and an uninstaller listed under Apps.
;
;   makensis -DVERSION=1.0.0 -DBINDIR=... -DSRCDIR=... -DOUTFILE=... installer.nsi
;
; BINDIR holds vantri-keywriter.exe (the window) and vantri-key.exe.
;
; Windows lets no one replace or remove the file of a running program, so
; the setup and the uninstaller both look first: while the window or
; vantri-key.exe runs from the folder they ask the user to close it (Retry)
; or stop (Cancel); under /S they stop at once.  Stopped, they have changed
; nothing, say why on standard error (where there is one) and in the
; details, and exit with code 3.
; Copyright (c) 2026 The Vantri Key Writer authors; MIT licence (LICENSE).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include LogicLib.nsh

!define APP "Vantri Key Writer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VantriKeyWriter"
; The exit code of a run stopped because a program of the folder runs.
!define EXIT_RUNNING 3

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
Icon "${SRCDIR}/icons/vantri-keywriter.ico"
UninstallIcon "${SRCDIR}/icons/vantri-keywriter.ico"
ShowInstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 The Vantri Key Writer authors, MIT licence"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "${SRCDIR}/LICENSE"

; The checks, once for the setup and once, prefixed "un.", for the
; uninstaller.
!macro RUNNING_CHECKS UN
; Pops a file's path; pushes it back when a running program holds the file,
; "" otherwise.  Opening a file for writing fails exactly while a program
; runs from it, and changes nothing.
Function ${UN}HeldFile
  Exch $0
  Push $1
  StrCpy $1 ""
  ${If} ${FileExists} "$0"
    ClearErrors
    FileOpen $1 "$0" a
    ${If} ${Errors}
      StrCpy $1 "$0"
    ${Else}
      FileClose $1
      StrCpy $1 ""
    ${EndIf}
  ${EndIf}
  StrCpy $0 $1
  Pop $1
  Exch $0
FunctionEnd

; Pops the reason and stops the run with it: on standard error where the
; run has one (a script's redirection, a console), in the details, and in
; the exit code.
Function ${UN}Stop
  Exch $0
  System::Call 'kernel32::GetStdHandle(i -12) p.r1'
  ${If} $1 P<> 0
  ${AndIf} $1 P<> -1
    FileWrite $1 "$0$\r$\n"
  ${EndIf}
  SetErrorLevel ${EXIT_RUNNING}
  Abort "$0"
FunctionEnd

; Pops what the run is to do to the programs ("replaced", "removed");
; returns once neither program of the folder runs, after asking the user to
; close the one that does; stops the run on Cancel, and at once under /S.
Function ${UN}StopWhileRunning
  Exch $0
  Push $1
  ${Do}
    Push "$INSTDIR\vantri-keywriter.exe"
    Call ${UN}HeldFile
    Pop $1
    ${If} $1 == ""
      Push "$INSTDIR\vantri-key.exe"
      Call ${UN}HeldFile
      Pop $1
    ${EndIf}
    ${If} $1 == ""
      ${Break}
    ${EndIf}
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1 is running, and Windows does not let a running program be $0.$\r$\n$\r$\nClose it, then choose Retry. Cancel stops here and changes nothing." /SD IDCANCEL IDRETRY`
      Push "$1 is running, and Windows does not let a running program be $0. Nothing was changed: close it and run this again."
      Call ${UN}Stop
    ${EndIf}
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro RUNNING_CHECKS ""
!insertmacro RUNNING_CHECKS "un."

Section "Install"
  SetShellVarContext current
  Push "replaced"
  Call StopWhileRunning
  SetOutPath "$INSTDIR"
  ; A program started since the look would keep its old file: not a success.
  ClearErrors
  File "${BINDIR}/vantri-key.exe"
  File "${BINDIR}/vantri-keywriter.exe"
  File "/oname=LICENSE.txt" "${SRCDIR}/LICENSE"
  File "/oname=README.md" "${SRCDIR}/README.md"
  File "${SRCDIR}/icons/vantri-keywriter.ico"
  ; The guides beside the README as in the source tree, so its links work.
  SetOutPath "$INSTDIR\docs"
  File "${SRCDIR}/docs/cli.md"
  File "${SRCDIR}/docs/window.md"
  File "${SRCDIR}/docs/window.png"
  File "${SRCDIR}/docs/window-reading.png"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    Push "A file in $INSTDIR could not be replaced; a program of ${APP} may be running. Close it and run this again."
    Call Stop
  ${EndIf}

  CreateDirectory "$SMPROGRAMS\${APP}"
  CreateShortcut "$SMPROGRAMS\${APP}\${APP}.lnk" "$INSTDIR\vantri-keywriter.exe" "" \
      "$INSTDIR\vantri-keywriter.ico"
  ; vantri-key in a console opened in the program folder, with its help shown.
  CreateShortcut "$SMPROGRAMS\${APP}\${APP} command line.lnk" "$SYSDIR\cmd.exe" \
      '/k "$INSTDIR\vantri-key.exe" --help' "$INSTDIR\vantri-keywriter.ico"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Vantri Key Writer authors"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantri-keywriter.ico"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Push "removed"
  Call un.StopWhileRunning
  ; The programs first: one started since the look keeps the Start-menu
  ; entries and the Apps entry, so the removal can be run again.
  ClearErrors
  Delete "$INSTDIR\vantri-keywriter.exe"
  Delete "$INSTDIR\vantri-key.exe"
  ${If} ${Errors}
    Push "A program in $INSTDIR could not be removed; it may have been started again. Close it and run this again."
    Call un.Stop
  ${EndIf}
  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\${APP} command line.lnk"
  RMDir "$SMPROGRAMS\${APP}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\docs\cli.md"
  Delete "$INSTDIR\docs\window.md"
  Delete "$INSTDIR\docs\window.png"
  Delete "$INSTDIR\docs\window-reading.png"
  RMDir "$INSTDIR\docs"
  Delete "$INSTDIR\vantri-keywriter.ico"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an emptied folder goes, last: files the user put there stay.
  RMDir "$INSTDIR"
SectionEnd
