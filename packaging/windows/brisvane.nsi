; The Windows setup program. tools/package_windows.sh builds it once per
; architecture and defines:
;   VERSION  product version ("2.10")
;   ARCH     win64 (a 64-bit installer for Program Files) or win32
;   FILES    folder with install_files.nsh and uninstall_files.nsh, the
;            lists of the staged files
;   OUTFILE  path of the setup program to write
;   HOST_SHUTDOWN_COMMAND  the command id of the host menu's Shutdown
;
; Switches: setup /S silent, /SERVICE also registers the service (the
; "Windows service" component, off unless chosen), /D=dir (last) the
; folder. Uninstaller: /S silent, /PURGE also removes the settings in the
; registry and whatever the server wrote (logs, documents).

!ifndef VERSION | ARCH | FILES | OUTFILE | HOST_SHUTDOWN_COMMAND
  !error "build with tools/package_windows.sh"
!endif

!if "${ARCH}" == "win64"
  Target amd64-unicode
!else
  Target x86-unicode
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh
!include x64.nsh
!include MUI2.nsh

!define PRODUCT "Brisvane"
!define PUBLISHER "Halvex"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisvane"
; The settings every profile keeps; the uninstaller leaves them unless /PURGE.
!define SETTINGS_KEY "SOFTWARE\Halvex\Brisvane"
!define MENU_DIR "$SMPROGRAMS\Brisvane"
; The class of the host's (hidden) status window; its menu's Shutdown
; stops the server cleanly (closing the window only hides it).
!define HOST_WINDOW_CLASS "Brisvane"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
!if "${ARCH}" == "win64"
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
SetCompressor /SOLID lzma

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup (${ARCH})"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var Purge
Var ServiceWasRunning

; Asks a host that runs as an application to stop, as its Shutdown menu
; command does, and waits up to 15 s for it, so that its files can be
; replaced or removed.
!macro CloseRunningHost un
  Function ${un}CloseRunningHost
    Push $0
    Push $1
    FindWindow $0 "${HOST_WINDOW_CLASS}"
    ${If} $0 <> 0
      DetailPrint "Stopping the running server"
      SendMessage $0 ${WM_COMMAND} ${HOST_SHUTDOWN_COMMAND} 0 /TIMEOUT=5000
      ${For} $1 1 30
        Sleep 500
        FindWindow $0 "${HOST_WINDOW_CLASS}"
        ${IfThen} $0 = 0 ${|} ${Break} ${|}
      ${Next}
    ${EndIf}
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!insertmacro CloseRunningHost ""
!insertmacro CloseRunningHost "un."

; Sets $0 to 1 when the text $1 contains $2 (any case), else to 0.
!macro Contains un
  Function ${un}Contains
    Push $3
    Push $4
    Push $5
    StrLen $3 $2
    StrCpy $4 0
    StrCpy $5 0
    ${Do}
      StrCpy $0 $1 $3 $4
      ${If} $0 == ""
        ${Break}
      ${EndIf}
      ${If} $0 == $2
        StrCpy $5 1
        ${Break}
      ${EndIf}
      IntOp $4 $4 + 1
    ${Loop}
    StrCpy $0 $5
    Pop $5
    Pop $4
    Pop $3
  FunctionEnd
!macroend
!insertmacro Contains ""
!insertmacro Contains "un."

; Stops this folder's service when it runs, so that its files can be
; replaced; the last section starts it again.
Function StopOurService
  StrCpy $ServiceWasRunning 0
  IfFileExists "$INSTDIR\service.exe" 0 done
  nsExec::ExecToStack '"$INSTDIR\service.exe" q'
  Pop $0
  Pop $1
  StrCpy $2 "$INSTDIR\vanehost.exe"
  Call Contains
  ${If} $0 = 1
    StrCpy $2 "State: 4"
    Call Contains
    ${If} $0 = 1
      DetailPrint "Stopping the service"
      StrCpy $ServiceWasRunning 1
      nsExec::ExecToLog '"$SYSDIR\net.exe" stop Brisvane'
      Pop $0
    ${EndIf}
  ${EndIf}
  done:
FunctionEnd

Section "Brisvane server (required)" SecMain
  SectionIn RO
  Call StopOurService
  Call CloseRunningHost
  SetOutPath "$INSTDIR"
  !include "${FILES}\install_files.nsh"
  ; The folders the default settings name, whether or not anything was
  ; shipped in them.
  CreateDirectory "$INSTDIR\HTDOCS"
  CreateDirectory "$INSTDIR\ICONS"
  CreateDirectory "$INSTDIR\CGI-BIN"
  CreateDirectory "$INSTDIR\CGI-WIN"
  CreateDirectory "$INSTDIR\ISAPI"
  CreateDirectory "$INSTDIR\Logs"

  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU_DIR}"
  CreateShortcut "${MENU_DIR}\Brisvane Server.lnk" "$INSTDIR\vanehost.exe" "" "$INSTDIR\vanehost.exe" 0
  CreateShortcut "${MENU_DIR}\Brisvane Configuration.lnk" "$INSTDIR\vaneconf.exe" "" "$INSTDIR\vaneconf.exe" 0
  CreateShortcut "${MENU_DIR}\Uninstall Brisvane.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\vanehost.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Section /o "Windows service (starts with the system)" SecService
  DetailPrint "Registering the service"
  nsExec::ExecToLog '"$INSTDIR\service.exe" a "$INSTDIR\vanehost.exe -s"'
  Pop $0
  ; The tool answers with text, not its exit code: ask it what it has.
  nsExec::ExecToStack '"$INSTDIR\service.exe" q'
  Pop $0
  Pop $1
  StrCpy $2 "$INSTDIR\vanehost.exe -s"
  Call Contains
  ${If} $0 = 1
    DetailPrint "Starting the service"
    nsExec::ExecToLog '"$SYSDIR\net.exe" start Brisvane'
    Pop $0
  ${Else}
    DetailPrint "The service could not be registered: $1"
    MessageBox MB_OK|MB_ICONEXCLAMATION "The service could not be registered.$\r$\n$1" /SD IDOK
    SetErrorLevel 2
  ${EndIf}
SectionEnd

Section "-Restart the service"
  ${If} $ServiceWasRunning = 1
  ${AndIfNot} ${SectionIsSelected} ${SecService}
    DetailPrint "Starting the service again"
    nsExec::ExecToLog '"$SYSDIR\net.exe" start Brisvane'
    Pop $0
  ${EndIf}
SectionEnd

LangString DESC_SecMain ${LANG_ENGLISH} "The server, its configuration program, the service tool, the sample site and the Start-menu entries."
LangString DESC_SecService ${LANG_ENGLISH} "Registers the server with the service control manager so that it runs without anyone logged on, and starts it."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} $(DESC_SecMain)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecService} $(DESC_SecService)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetShellVarContext all
!if "${ARCH}" == "win64"
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "This is the 64-bit Brisvane; use the 32-bit setup program on this Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
!endif
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/SERVICE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecService}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
!if "${ARCH}" == "win64"
  SetRegView 64
!endif
  StrCpy $Purge 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    StrCpy $Purge 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Our service only: the one whose command line starts this folder's host.
  ; "service d" stops a running service and removes a stopped one, so it
  ; is repeated until the service is gone.
  nsExec::ExecToStack '"$INSTDIR\service.exe" q'
  Pop $0
  Pop $1
  StrCpy $2 "$INSTDIR\vanehost.exe"
  Call un.Contains
  ${If} $0 = 1
    DetailPrint "Removing the service"
    ${For} $R0 1 30
      nsExec::ExecToLog '"$INSTDIR\service.exe" d'
      Pop $0
      nsExec::ExecToStack '"$INSTDIR\service.exe" q'
      Pop $0
      Pop $1
      StrCpy $2 "not installed"
      Call un.Contains
      ${IfThen} $0 = 1 ${|} ${Break} ${|}
      Sleep 1000
    ${Next}
  ${EndIf}
  Call un.CloseRunningHost

  !include "${FILES}\uninstall_files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  ${If} $Purge = 1
    RMDir /r "$INSTDIR"
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "SOFTWARE\Halvex"
  ${Else}
    ; Logs and documents the server or its users added stay, and with
    ; them the folders that hold them.
    RMDir "$INSTDIR"
  ${EndIf}

  Delete "${MENU_DIR}\Brisvane Server.lnk"
  Delete "${MENU_DIR}\Brisvane Configuration.lnk"
  Delete "${MENU_DIR}\Uninstall Brisvane.lnk"
  RMDir "${MENU_DIR}"

  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
