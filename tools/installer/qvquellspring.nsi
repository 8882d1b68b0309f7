; Installer of the Quellspring plug-ins into a Winamp player's Plugins folder.
;
; How it works
;   .onInit takes the folder given with /D=, or else the player's folder from
;   the registry (HKCU, then HKLM "Software\Winamp" default value, then the
;   folder of Winamp's own uninstall entry), and offers it on the folder page.
;   The install section first asks a running player to close and waits for its
;   process to end, because Windows keeps a loaded plug-in's file locked; then
;   it copies the plug-ins, writes the uninstaller and the Add/Remove Programs
;   entry. The uninstaller closes the player the same way and removes exactly
;   those files; the user's settings stay unless asked for (/RemoveSettings
;   in silent mode).
;
; tools/package.sh builds it and defines:
;   QV_VERSION      the version as the build states it
;   QV_FILE_VERSION the same with all four parts, for the version block
;   QV_DLL_DIR      folder holding the plug-in DLLs
;   QV_PLUGIN_LIST  include file whose macro QV_EACH_PLUGIN OP inserts OP once
;                   per plug-in file name (one list for install and uninstall)
;   QV_LICENSE      licence text shown before installing
;   QV_OUTFILE      the installer to write
;   QV_TEST_AMD64   defined only for the 64-bit installer that the tests run
;                   under wine64; it is never shipped

!ifdef QV_TEST_AMD64
  Target amd64-unicode
!else
  Target x86-unicode
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"
!include "${QV_PLUGIN_LIST}"

!define QV_PRODUCT "Quovant Quellspring"
!define QV_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QVQuellspring"
!define QV_UNINSTALLER "qvquellspring-uninstall.exe"
!define QV_SETTINGS_FILE "QVQuellspring.ini"
!define PLAYER_WINDOW_CLASS "Winamp v1.x"
!define PLAYER_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
; How long a closing player may take to end before the user (or, silent, the
; exit code) is told: it saves its settings and playlists on the way out.
!define PLAYER_EXIT_WAIT_MS 20000
!define SYNCHRONIZE 0x00100000
!define WAIT_OBJECT_0 0

Name "${QV_PRODUCT} ${QV_VERSION}"
OutFile "${QV_OUTFILE}"
!ifdef QV_TEST_AMD64
  SetCompressor zlib ; quicker to build, and nobody downloads it
!else
  SetCompressor /SOLID lzma
!endif
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "${QV_PRODUCT} ${QV_VERSION}"

VIProductVersion "${QV_FILE_VERSION}"
VIAddVersionKey "ProductName" "${QV_PRODUCT}"
VIAddVersionKey "CompanyName" "Quovant"
VIAddVersionKey "LegalCopyright" "Copyright (C) Quovant"
VIAddVersionKey "FileDescription" "${QV_PRODUCT} Winamp plug-ins setup"
VIAddVersionKey "FileVersion" "${QV_FILE_VERSION}"
VIAddVersionKey "ProductVersion" "${QV_VERSION}"

!define MUI_ABORTWARNING
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup copies the plug-ins into the Plugins folder of this Winamp folder. Setup found it in the registry; choose another one if you keep Winamp elsewhere."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp folder"
!insertmacro MUI_PAGE_LICENSE "${QV_LICENSE}"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckPlayerFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The 32-bit installer reads and writes the registry as the 32-bit player
; does (its keys lie in the 32-bit view on 64-bit Windows); the test build
; runs in the 64-bit view, where wine64's reg tool writes.
!macro QV_REGISTRY_VIEW
  !ifdef QV_TEST_AMD64
    SetRegView 64
  !else
    SetRegView 32
  !endif
!macroend

!macro QV_INSTALL_PLUGIN NAME
  File "${QV_DLL_DIR}\${NAME}"
!macroend

; $2 += the installed plug-in's size in KB
!macro QV_ADD_PLUGIN_SIZE NAME
  ${GetSize} "$INSTDIR\Plugins" "/M=${NAME} /S=0K /G=0" $3 $4 $5
  IntOp $2 $2 + $3
!macroend

!macro QV_DELETE_PLUGIN NAME
  Delete "$INSTDIR\Plugins\${NAME}"
!macroend

; Asks every running player to close and waits until its process has ended.
; Aborts (exit code 3) when one does not end in time and the user does not retry.
!macro QV_CLOSE_PLAYER_FUNCTION UN
Function ${UN}ClosePlayer
  Push $0
  Push $1
  Push $2
  Push $3
  FindWindow $0 "${PLAYER_WINDOW_CLASS}"
  IntCmp $0 0 done
  MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "Winamp is running. Setup closes it before it changes its plug-ins.$\n$\nClick OK to close Winamp now, or Cancel to stop." /SD IDOK IDOK next_window
  SetErrorLevel 3
  Abort "Winamp is still running."
next_window:
  DetailPrint "Closing Winamp..."
  System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
  System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2"
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
  StrCpy $3 1
  IntCmp $2 0 watch_window
  System::Call "kernel32::WaitForSingleObject(p r2, i ${PLAYER_EXIT_WAIT_MS}) i .r3"
  System::Call "kernel32::CloseHandle(p r2)"
  Goto judge
watch_window:
  ; Without a handle on the process, its window going away is the sign.
  StrCpy $1 0
watch_loop:
  IsWindow $0 0 window_gone
  IntCmp $1 ${PLAYER_EXIT_WAIT_MS} judge 0 judge
  Sleep 100
  IntOp $1 $1 + 100
  Goto watch_loop
window_gone:
  StrCpy $3 ${WAIT_OBJECT_0}
judge:
  IntCmp $3 ${WAIT_OBJECT_0} find_next
  MessageBox MB_RETRYCANCEL|MB_ICONSTOP "Winamp did not close. Close it yourself, then click Retry." /SD IDCANCEL IDRETRY find_next
  SetErrorLevel 3
  Abort "Winamp did not close."
find_next:
  FindWindow $0 "${PLAYER_WINDOW_CLASS}"
  IntCmp $0 0 done next_window next_window
done:
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro QV_CLOSE_PLAYER_FUNCTION ""
!insertmacro QV_CLOSE_PLAYER_FUNCTION "un."

; $R0 = the folder of a command line's program: the first quoted part, or
; the whole text, up to its last backslash.
Function FolderOfCommand
  Exch $R0
  Push $R1
  Push $R2
  StrCpy $R1 $R0 1
  ${If} $R1 == '"'
    StrCpy $R0 $R0 "" 1
    StrCpy $R2 0
    ${Do}
      StrCpy $R1 $R0 1 $R2
      ${IfThen} $R1 == '"' ${|} ${ExitDo} ${|}
      ${IfThen} $R1 == "" ${|} ${ExitDo} ${|}
      IntOp $R2 $R2 + 1
    ${Loop}
    StrCpy $R0 $R0 $R2
  ${EndIf}
  ${GetParent} $R0 $R0
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; $0 = the player's folder as the registry tells it, or "" when no entry
; names a folder that exists (an entry may outlive an uninstalled player).
!macro QV_RETURN_IF_FOLDER
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\*.*"
    Return
  ${EndIf}
!macroend

Function FindPlayerFolder
  ReadRegStr $0 HKCU "Software\Winamp" ""
  !insertmacro QV_RETURN_IF_FOLDER
  ReadRegStr $0 HKLM "Software\Winamp" ""
  !insertmacro QV_RETURN_IF_FOLDER
  ReadRegStr $0 HKLM "${PLAYER_UNINSTALL_KEY}" "InstallLocation"
  !insertmacro QV_RETURN_IF_FOLDER
  ReadRegStr $0 HKLM "${PLAYER_UNINSTALL_KEY}" "UninstallString"
  ${If} $0 != ""
    Push $0
    Call FolderOfCommand
    Pop $0
    !insertmacro QV_RETURN_IF_FOLDER
  ${EndIf}
  StrCpy $0 ""
FunctionEnd

Function .onInit
  !insertmacro QV_REGISTRY_VIEW
  ; /D= sets the folder before this runs; only without it is one looked for.
  ${If} $INSTDIR == ""
    Call FindPlayerFolder
    ${If} $0 == ""
      StrCpy $0 "$PROGRAMFILES\Winamp"
    ${EndIf}
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function CheckPlayerFolder
  ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
    MessageBox MB_YESNO|MB_ICONQUESTION "$INSTDIR does not hold winamp.exe.$\n$\nInstall the plug-ins there anyway?" IDYES +2
      Abort
  ${EndIf}
FunctionEnd

Section "Plug-ins"
  Call ClosePlayer
  ${IfNot} ${FileExists} "$INSTDIR\Plugins\*.*"
    StrCpy $1 1
  ${Else}
    StrCpy $1 0
  ${EndIf}
  SetOutPath "$INSTDIR\Plugins"
  SetOverwrite on
  !insertmacro QV_EACH_PLUGIN QV_INSTALL_PLUGIN
  WriteUninstaller "$INSTDIR\${QV_UNINSTALLER}"

  StrCpy $2 0
  !insertmacro QV_EACH_PLUGIN QV_ADD_PLUGIN_SIZE
  WriteRegStr HKLM "${QV_UNINSTALL_KEY}" "DisplayName" "${QV_PRODUCT} (Winamp plug-ins)"
  WriteRegStr HKLM "${QV_UNINSTALL_KEY}" "DisplayVersion" "${QV_VERSION}"
  WriteRegStr HKLM "${QV_UNINSTALL_KEY}" "Publisher" "Quovant"
  WriteRegStr HKLM "${QV_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${QV_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${QV_UNINSTALLER}"'
  WriteRegStr HKLM "${QV_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${QV_UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${QV_UNINSTALL_KEY}" "EstimatedSize" $2
  WriteRegDWORD HKLM "${QV_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${QV_UNINSTALL_KEY}" "NoRepair" 1
  ; A reinstall into the same folder must not forget that the first one
  ; made the Plugins folder.
  ReadRegDWORD $0 HKLM "${QV_UNINSTALL_KEY}" "CreatedPluginsFolder"
  ${If} $1 = 1
  ${OrIf} $0 = 1
    WriteRegDWORD HKLM "${QV_UNINSTALL_KEY}" "CreatedPluginsFolder" 1
  ${EndIf}
SectionEnd

Function un.onInit
  !insertmacro QV_REGISTRY_VIEW
FunctionEnd

Section "Uninstall"
  Call un.ClosePlayer
  !insertmacro QV_EACH_PLUGIN QV_DELETE_PLUGIN

  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_DEFBUTTON2|MB_ICONQUESTION "Also delete your Quellspring settings (${QV_SETTINGS_FILE})?" /SD IDNO IDNO keep_settings
  ${EndIf}
  ; The plug-in keeps them beside the player's own settings, which lie in
  ; the player's folder or, for per-user setups, in the user's application
  ; data; an older version kept them one folder up.
  Delete "$INSTDIR\Plugins\${QV_SETTINGS_FILE}"
  Delete "$INSTDIR\${QV_SETTINGS_FILE}"
  Delete "$APPDATA\Winamp\Plugins\${QV_SETTINGS_FILE}"
  Delete "$APPDATA\Winamp\${QV_SETTINGS_FILE}"
  keep_settings:

  Delete "$INSTDIR\${QV_UNINSTALLER}"
  ReadRegDWORD $0 HKLM "${QV_UNINSTALL_KEY}" "CreatedPluginsFolder"
  ${If} $0 = 1
    RMDir "$INSTDIR\Plugins" ; only if nothing else lives there
  ${EndIf}
  ; Last, so that whoever waits for the uninstall can watch for it.
  DeleteRegKey HKLM "${QV_UNINSTALL_KEY}"
SectionEnd
