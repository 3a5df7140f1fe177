; The Windows setup program of Vantri Key Writer, made by makensis (Debian's
; nsis) from `make package-windows`.  A 64-bit, Unicode installer that
; installs for the current user only, so no administrator rights are asked:
; the programs, LICENSE and README go to %LOCALAPPDATA%\Programs\Vantri Key
; Writer, with Start-menu entries and an uninstaller listed under Apps.
;
;   makensis -DVERSION=1.0.0 -DBINDIR=... -DSRCDIR=... -DOUTFILE=... installer.nsi
;
; BINDIR holds vantri-keywriter.exe (the window) and vantri-key.exe.
; Copyright (c) 2026 The Vantri Key Writer authors; MIT licence (LICENSE).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP "Vantri Key Writer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VantriKeyWriter"

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

Section "Install"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${BINDIR}/vantri-key.exe"
  File "${BINDIR}/vantri-keywriter.exe"
  File "/oname=LICENSE.txt" "${SRCDIR}/LICENSE"
  File "/oname=README.md" "${SRCDIR}/README.md"
  File "${SRCDIR}/icons/vantri-keywriter.ico"
  WriteUninstaller "$INSTDIR\uninstall.exe"

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
  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\${APP} command line.lnk"
  RMDir "$SMPROGRAMS\${APP}"
  Delete "$INSTDIR\vantri-key.exe"
  Delete "$INSTDIR\vantri-keywriter.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\vantri-keywriter.ico"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an emptied folder goes: files the user put there stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
