; The setup program of Receiver Downloader for 64-bit Windows, built by
; makensis with CONFIG naming the file cmake/windows_installer.cmake makes:
; the version, the publisher, the paths, and the RdInstallFiles and
; RdRemoveFiles macros.
;
; Without administrator rights it installs for the current user, in
; %LOCALAPPDATA%\Programs\Receiver Downloader, with its Start-menu shortcut
; and its entry in Apps & Features under that user (HKCU). Run as
; administrator it installs for all users (Program Files, HKLM), unless
; /CurrentUser is given. /S installs silently, /D=FOLDER (last) picks the
; folder. It registers no file type: a .cmd file is a batch script to
; Windows, and opening one must go on running it as such.

!include "${CONFIG}"
!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh

Target amd64-unicode
Unicode true
ManifestDPIAware true
; No elevation prompt: an administrator who wants it for all users starts
; it elevated ("Run as administrator").
RequestExecutionLevel user
SetCompressor /SOLID lzma

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ReceiverDownloader"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define STATION_LINK "$SMPROGRAMS\${PRODUCT} Station.lnk"

; The setup program's own version details.
VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${COPYRIGHT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\receiver-downloader.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Picks all users or the current user (the shell folders and SHCTX follow),
; and the default folder when /D gave none.
Function .onInit
  UserInfo::GetAccountType
  Pop $0
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/CurrentUser" $2
  ${If} $0 == "Admin"
  ${AndIf} ${Errors}
    SetShellVarContext all
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
  ${Else}
    SetShellVarContext current
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Install"
  !insertmacro RdInstallFiles
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\receiver-downloader.exe" "" "$INSTDIR\receiver-downloader.exe" 0
  !ifdef STATION_SHORTCUT
    CreateShortcut "${STATION_LINK}" "$INSTDIR\receiver-downloader.exe" "--station" \
                   "$INSTDIR\receiver-downloader.exe" 0
  !endif

  ; The entry in Apps & Features.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\receiver-downloader.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The uninstaller works for the users the installer chose: an entry in HKCU
; naming this folder means the current user; otherwise it was all users,
; which needs an elevated uninstaller.
Function un.onInit
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    SetShellVarContext current
  ${Else}
    SetShellVarContext all
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} was installed for all users: run its uninstaller as administrator." /SD IDOK
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

; The shortcuts and the entry first, the files last: once the folder is
; gone, the uninstall is complete.
Section "Uninstall"
  Delete "${SHORTCUT}"
  !ifdef STATION_SHORTCUT
    Delete "${STATION_LINK}"
  !endif
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  !insertmacro RdRemoveFiles
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
