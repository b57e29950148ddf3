; The Windows installer of NX480 - PC (makensis, run by scripts/build-windows):
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.14.d -DVERSION_NUMBER=1.14.0.0 -DSIZE_KB=N
;            -DSTAGE=<staged files> -DFILE_LIST=<uninstall-files.nsh> -DOUT=<setup.exe> nx480-pc.nsi
; STAGE holds the programs, the DLLs and plugins they import, fonts, translations, manuals and
; notices; FILE_LIST deletes exactly those files (scripts/build-windows writes it), so the
; uninstaller removes what it installed and nothing else: the user's journal and recordings
; (%LOCALAPPDATA%\nx480-pc), profiles and settings (%APPDATA%\nx480-pc) stay.
; A 64-bit installer for the 64-bit programs (it starts where they run, nowhere else).
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma
SetCompressorDictSize 16

!include MUI2.nsh

!define PRODUCT "NX480 - PC"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\nx480-pc"

Name "${PRODUCT}"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION_NUMBER}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "NX480-PC maintainers"

!define MUI_ICON "nx480-pc.ico"
!define MUI_UNICON "nx480-pc.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\nx480-pc.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Czech"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "${PRODUCT}"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\nx480-pc.exe" "" "$INSTDIR\nx480-pc.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT} (servis).lnk" "$INSTDIR\nx480-pc.exe" "/servis" "$INSTDIR\nx480-pc.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT} (ukázka).lnk" "$INSTDIR\nx480-pc.exe" "--demo" "$INSTDIR\nx480-pc.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\nx480-pc.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT} (servis).lnk"
  Delete "$SMPROGRAMS\${PRODUCT} (ukázka).lnk"
  !include "${FILE_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
