; The Windows installer of the Valtrex control panel. scripts/build-windows runs makensis with
;   -DVERSION=x.y.z -DDIST=<folder holding the programs and the readme> -DOUT=<installer file>
; and, when the service terminal was built, -DWITH_TERM. The read-me is README.txt (a stock
; Windows has no program for Markdown).

Unicode true
; The programs are 64-bit, and so is the installer: it writes into the 64-bit Program Files and
; the 64-bit registry view without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include x64.nsh

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef DIST
  !error "DIST is not defined"
!endif
!ifndef OUT
  !error "OUT is not defined"
!endif

Name "Valtrex control panel ${VERSION}"
OutFile "${OUT}"
; No InstallDir: .onInit chooses the folder, so that it can tell a folder given with /D= from
; the default. (InstallDirRegKey is no help: it reads the registry before any SetRegView, in the
; view the installer writes nothing to, so an upgrade would go beside the installed copy.)
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Valtrex"

Function .onInit
  ; The 64-bit installer cannot start on a 32-bit Windows at all; the message is for a build of
  ; this script for another target.
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "The Valtrex control panel needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; A folder given with /D= wins; then the folder of the installed copy; then Program Files.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "Software\Valtrex" "InstallDir"
  ${EndIf}
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR "$PROGRAMFILES64\Valtrex"
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Valtrex control panel"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${DIST}\valtrex-panel.exe"
  !ifdef WITH_TERM
    File "${DIST}\valtrex-term.exe"
  !endif
  File "${DIST}\README.txt"
  ; Versions before 1.1 shipped the read-me as Markdown.
  Delete "$INSTDIR\README.md"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Valtrex"
  CreateShortcut "$SMPROGRAMS\Valtrex\Valtrex control panel.lnk" "$INSTDIR\valtrex-panel.exe"
  !ifdef WITH_TERM
    CreateShortcut "$SMPROGRAMS\Valtrex\Valtrex service terminal.lnk" "$INSTDIR\valtrex-term.exe"
  !endif
  CreateShortcut "$SMPROGRAMS\Valtrex\Read me.lnk" "$INSTDIR\README.txt"

  WriteRegStr HKLM "Software\Valtrex" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Valtrex control panel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Valtrex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\valtrex-panel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  Delete "$SMPROGRAMS\Valtrex\Valtrex control panel.lnk"
  Delete "$SMPROGRAMS\Valtrex\Valtrex service terminal.lnk"
  Delete "$SMPROGRAMS\Valtrex\Read me.lnk"
  RMDir "$SMPROGRAMS\Valtrex"
  Delete "$INSTDIR\valtrex-panel.exe"
  Delete "$INSTDIR\valtrex-term.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Valtrex"
SectionEnd
