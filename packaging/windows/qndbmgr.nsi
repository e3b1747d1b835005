; The Windows installer of the Database Manager, made on Linux with makensis
; by packaging/windows/CMakeLists.txt, which defines VERSION (x.y.z),
; PROGRAM (the stripped qndbmgr.exe) and OUTFILE.
;
; It installs the program into a folder of its own, the administrators'
; only, and keeps the program's state (settings, databases, backups, logs)
; in %ProgramData%\qndbmgr, recorded under HKLM\Software\qndbmgr for the
; program to find (without the service the machine's users may write the
; data, backup and log folders and read the settings; beside the service
; they may not even read them), a Start-menu
; entry, the hidden start of the tray program at logon and, when chosen,
; the Windows service "qndbmgr" (the headless program, --service=1). The
; uninstaller removes only what the installer put there.
;
; With FBCLIENT defined (the Firebird client built from Debian's source) it
; puts the client where the program loads it, "fbclient.dll" and
; "fb30c\fbclient.dll", wherever the office has none of its own there.
;
; Silent: qndbmgr-setup-x.y.z.exe /S [/SERVICE=1|0] [/D=folder] (/D last),
; uninstall.exe /S. Without /SERVICE an update keeps the service as it is.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include Sections.nsh
${StrStr}
${UnStrStr}

!define CAPTION "Менеджер баз данных"
!define EXE "qndbmgr.exe"
!define SERVICE "qndbmgr"
!define PUBLISHER "Database Manager team"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qndbmgr"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Where the program finds its state: "ProgramFolder" (this installation's
; folder) and "StateFolder".
!define STATE_KEY "Software\qndbmgr"
; Well-known accounts, whatever the system's language calls them: the
; machine's users, its administrators, the system.
!define USERS_SID "*S-1-5-32-545"
!define ADMINS_SID "*S-1-5-32-544"
!define SYSTEM_SID "*S-1-5-18"

Var STATE

Name "${CAPTION} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\qndbmgr"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${CAPTION} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "${CAPTION}"
VIAddVersionKey /LANG=1049 "FileDescription" "${CAPTION}: установка"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}.0"
VIAddVersionKey /LANG=1049 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "2026 ${PUBLISHER}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; Stops the service when it exists and waits, at most a minute, until it has
; ended its run in order (settings saved, log closed): its file can then be
; replaced or removed.
!macro StopService un
Function ${un}StopService
  nsExec::ExecToStack '"$SYSDIR\sc.exe" query ${SERVICE}'
  Pop $0
  Pop $1
  ${If} $0 != 0
    Return ; no such service
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\sc.exe" stop ${SERVICE}'
  Pop $0
  StrCpy $2 0
  ${Do}
    nsExec::ExecToStack '"$SYSDIR\sc.exe" query ${SERVICE}'
    Pop $0
    Pop $1
    !if "${un}" == ""
      ${StrStr} $3 $1 "STOPPED"
    !else
      ${UnStrStr} $3 $1 "STOPPED"
    !endif
    ${If} $3 != ""
    ${OrIf} $0 != 0
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $2 >= 120
      DetailPrint "Служба ${SERVICE} не остановилась за минуту"
      ${Break}
    ${EndIf}
    Sleep 500
  ${Loop}
FunctionEnd
!macroend
!insertmacro StopService ""
!insertmacro StopService "un."

; A running program's file cannot be replaced or removed: the person is asked
; to end it (its tray menu "Выход"); a silent run ends with an error instead
; of leaving the old program in place.
!macro ProgramEnded
  StrCpy $4 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\${EXE}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $4 $4 + 1
    ${If} $4 < 10
      Sleep 500 ; a stopped service's process may still be ending
      ${Continue}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Программа $INSTDIR\${EXE} запущена. Завершите её (меню значка в трее: «Выход») и нажмите «Повтор»." /SD IDCANCEL IDRETRY +2
    Abort "Программа запущена"
  ${Loop}
!macroend

; The size of a file into var, "" when it cannot be read.
!macro FileSizeOf path var
  StrCpy ${var} ""
  ClearErrors
  FileOpen $7 "${path}" r
  ${IfNot} ${Errors}
    FileSeek $7 0 END ${var}
    FileClose $7
  ${EndIf}
!macroend

!ifdef FBCLIENT
; The client in the program folder (file, relative): put there when no file
; is, or replaced when the one there is the copy an earlier install of ours
; put there (the Uninstall key's value names it with its size); an office's
; own client stays as it is. The value is what the uninstaller goes by.
!macro ShipClient file value
  ReadRegDWORD $5 HKLM "${UNINSTALL_KEY}" "${value}"
  !insertmacro FileSizeOf "$INSTDIR\${file}" $6
  ${If} $6 == ""
  ${OrIf} $6 == $5
    File "/oname=${file}" "${FBCLIENT}"
    !insertmacro FileSizeOf "$INSTDIR\${file}" $6
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "${value}" $6
  ${Else}
    DetailPrint "Клиент Firebird $INSTDIR\${file} оставлен: он не из этой установки"
    DeleteRegValue HKLM "${UNINSTALL_KEY}" "${value}"
  ${EndIf}
!macroend
!endif

; Removes the client the installer put there, if it still is that copy.
!macro RemoveClient file value
  ReadRegDWORD $5 HKLM "${UNINSTALL_KEY}" "${value}"
  ${If} $5 != ""
    !insertmacro FileSizeOf "$INSTDIR\${file}" $6
    ${If} $6 == $5
      Delete "$INSTDIR\${file}"
    ${EndIf}
  ${EndIf}
!macroend

; A rights step that fails fails the installation: a folder left open to
; the users is how code gets planted for another user, or for the system,
; to run.
!macro Icacls arguments
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" ${arguments}'
  Pop $0
  ${If} $0 != 0
    Abort `Права не заданы: icacls ${arguments}: $0`
  ${EndIf}
!macroend

; A folder's files and folders become the administrators', inheriting the
; folder's rights only: what a user made there earlier keeps no rights of
; its own.
!macro ResetTree folder
  !insertmacro Icacls '"${folder}" /setowner ${ADMINS_SID} /T /C /Q'
  !insertmacro Icacls '"${folder}" /reset /T /C /Q'
!macroend

; The state of an earlier layout (settings, data, backup, log beside the
; program) moves into the state folder once; a part that cannot move (a
; database a server still holds open) stops the installation before
; anything runs on the half-moved state.
!macro MoveState name
  ${If} ${FileExists} "$INSTDIR\${name}"
  ${AndIfNot} ${FileExists} "$STATE\${name}"
    ClearErrors
    Rename "$INSTDIR\${name}" "$STATE\${name}"
    ${If} ${Errors}
      Abort "Не перенесено: $INSTDIR\${name} в $STATE\${name}. Остановите сервер Firebird и повторите установку."
    ${EndIf}
    DetailPrint "Перенесено: $INSTDIR\${name} в $STATE\${name}"
  ${EndIf}
!macroend


Section "-${CAPTION}" SecProgram
  SetShellVarContext all
  StrCpy $STATE "$APPDATA\qndbmgr"
  Call StopService
  !insertmacro ProgramEnded
  SetOutPath "$INSTDIR"
  File "/oname=${EXE}" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
!ifdef FBCLIENT
  ; The classic server's client, and Firebird 3.0's in "fb30c".
  CreateDirectory "$INSTDIR\fb30c"
  !insertmacro ShipClient "fbclient.dll" "FbClient"
  !insertmacro ShipClient "fb30c\fbclient.dll" "FbClient30"
!endif

  CreateShortcut "$SMPROGRAMS\${CAPTION}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  CreateDirectory "$STATE"
  !insertmacro MoveState "settings.xml"
  !insertmacro MoveState "data"
  !insertmacro MoveState "backup"
  !insertmacro MoveState "log"
  CreateDirectory "$STATE\data"
  CreateDirectory "$STATE\backup"
  CreateDirectory "$STATE\log"
  WriteRegStr HKLM "${STATE_KEY}" "ProgramFolder" "$INSTDIR"
  WriteRegStr HKLM "${STATE_KEY}" "StateFolder" "$STATE"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${CAPTION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/M=*.exe /S=0K /G=0" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Before the service is made or started.
Section "-rights"
  Call SetRights
SectionEnd

Section /o "Служба Windows" SecService
  DeleteRegValue HKLM "${RUN_KEY}" "qndbmgr"
  nsExec::ExecToLog '"$SYSDIR\sc.exe" create ${SERVICE} binPath= "\"$INSTDIR\${EXE}\" --service=1" start= auto DisplayName= "${CAPTION}"'
  Pop $0
  ${If} $0 != 0
    ; Installed before: its command line follows the folder.
    nsExec::ExecToLog '"$SYSDIR\sc.exe" config ${SERVICE} binPath= "\"$INSTDIR\${EXE}\" --service=1" start= auto'
    Pop $0
  ${EndIf}
  ; Restarted after a failure, as the Linux service is.
  nsExec::ExecToLog '"$SYSDIR\sc.exe" failure ${SERVICE} reset= 86400 actions= restart/60000/restart/60000/""/0'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" description ${SERVICE} "Базы данных Firebird: реестр, резервные копии, сервер информации для рабочих мест"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" start ${SERVICE}'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Служба ${SERVICE} не запущена (sc: $0)"
  ${EndIf}
SectionEnd

; Not beside the service: the service's machine-wide objects get the default
; rights of LocalSystem, which a user's program may be refused, and a tray
; program that does not see the service would keep a second register in the
; same settings.
Section "Запуск при входе" SecAutostart
  ${If} ${SectionIsSelected} ${SecService}
    DetailPrint "Служба выбрана: программа не запускается при входе пользователей"
  ${Else}
    WriteRegStr HKLM "${RUN_KEY}" "qndbmgr" '"$INSTDIR\${EXE}" --hidden=1'
  ${EndIf}
SectionEnd

; Left out in an update, the service of an earlier install goes (it was
; stopped before the program was replaced).
Section "-"
  ${IfNot} ${SectionIsSelected} ${SecService}
    nsExec::ExecToStack '"$SYSDIR\sc.exe" delete ${SERVICE}'
    Pop $0
    Pop $1
  ${EndIf}
SectionEnd

; The rights of both folders, set before the service is made or started.
Function SetRights
  ; The program folder: the administrators' and the system's; users may
  ; start the program and read its libraries, nothing more.
  !insertmacro ResetTree "$INSTDIR"
  !insertmacro Icacls '"$INSTDIR" /inheritance:r /grant:r ${SYSTEM_SID}:(OI)(CI)F ${ADMINS_SID}:(OI)(CI)F ${USERS_SID}:(OI)(CI)RX'
  !insertmacro ResetTree "$STATE"
  ${If} ${SectionIsSelected} ${SecService}
    ; The service runs as the system: no user reads its passwords or
    ; changes what it runs.
    !insertmacro Icacls '"$STATE" /inheritance:r /grant:r ${SYSTEM_SID}:(OI)(CI)F ${ADMINS_SID}:(OI)(CI)F'
  ${Else}
    ; The tray program runs as whichever user is logged on: it reads the
    ; settings and writes databases, backups and logs; the settings
    ; themselves (the hook it runs, the passwords) are the administrators'
    ; to change.
    !insertmacro Icacls '"$STATE" /inheritance:r /grant:r ${SYSTEM_SID}:(OI)(CI)F ${ADMINS_SID}:(OI)(CI)F ${USERS_SID}:(OI)(CI)RX'
    !insertmacro Icacls '"$STATE\data" /grant ${USERS_SID}:(OI)(CI)M'
    !insertmacro Icacls '"$STATE\backup" /grant ${USERS_SID}:(OI)(CI)M'
    !insertmacro Icacls '"$STATE\log" /grant ${USERS_SID}:(OI)(CI)M'
  ${EndIf}
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecAutostart} "Программа запускается скрытой при входе любого пользователя; её значок в области уведомлений."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecService} "Программа работает без окна как служба Windows qndbmgr от имени системы, с загрузки компьютера; при входе пользователей тогда не запускается."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetRegView 64
  ; An update keeps the service that an earlier install made.
  nsExec::ExecToStack '"$SYSDIR\sc.exe" query ${SERVICE}'
  Pop $0
  Pop $1
  ${If} $0 == 0
    SectionSetFlags ${SecService} ${SF_SELECTED}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/SERVICE=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "1"
      SectionSetFlags ${SecService} ${SF_SELECTED}
    ${Else}
      SectionSetFlags ${SecService} 0
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Settings, databases, backups and logs stay: only the installer's own files
; go, and the folder only when nothing else is left in it.
Section "Uninstall"
  SetShellVarContext all
  Call un.StopService
  !insertmacro ProgramEnded
  nsExec::ExecToLog '"$SYSDIR\sc.exe" delete ${SERVICE}'
  Pop $0
  DeleteRegValue HKLM "${RUN_KEY}" "qndbmgr"
  Delete "$SMPROGRAMS\${CAPTION}.lnk"
  !insertmacro RemoveClient "fbclient.dll" "FbClient"
  !insertmacro RemoveClient "fb30c\fbclient.dll" "FbClient30"
  RMDir "$INSTDIR\fb30c"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The state stays where it is; a program copied there later keeps its own.
  DeleteRegKey HKLM "${STATE_KEY}"
SectionEnd
