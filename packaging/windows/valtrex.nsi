; The Windows installer of the Valtrex control panel. scripts/build-windows runs makensis with
;   -DVERSION=x.y.z -DDIST=<folder holding the programs and the readme> -DOUT=<installer file>
; and, when the service terminal was built, -DWITH_TERM.

Unicode true
SetCompressor /SOLID lzma

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
InstallDir "$PROGRAMFILES64\Valtrex"
InstallDirRegKey HKLM "Software\Valtrex" "InstallDir"
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Valtrex"

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
  File "${DIST}\README.md"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Valtrex"
  CreateShortcut "$SMPROGRAMS\Valtrex\Valtrex control panel.lnk" "$INSTDIR\valtrex-panel.exe"
  !ifdef WITH_TERM
    CreateShortcut "$SMPROGRAMS\Valtrex\Valtrex service terminal.lnk" "$INSTDIR\valtrex-term.exe"
  !endif
  CreateShortcut "$SMPROGRAMS\Valtrex\Read me.lnk" "$INSTDIR\README.md"

  WriteRegStr HKLM "Software\Valtrex" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Valtrex control panel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Valtrex"
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
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Valtrex"
SectionEnd
