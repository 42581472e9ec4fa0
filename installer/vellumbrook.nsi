; Vellumbrook's setup program and its uninstaller (NSIS 3, Modern UI 2, French).
; The CMake build runs it when makensis is installed:
;   makensis -DVB_EXE=<Vellumbrook.exe> -DVB_OUTFILE=<VellumbrookSetup.exe> vellumbrook.nsi
; This file is UTF-8 with a byte-order mark, so that makensis reads the French
; text alike on Linux and on Windows (where a file without one is read as ANSI).
;
; What it installs: Vellumbrook.exe and uninstall.exe in Program Files, a Start
; menu shortcut for all users, the Apps & features entry, the logon task of
; task.xml and the service that keeps the protections in every session. The
; settings in C:\ProgramData\Vellumbrook are the agent's own business: the new
; program makes and secures that folder, and asks for the first password, before
; anything else happens; the uninstaller leaves the folder, and the protections, to
; "Vellumbrook.exe --uninstall", which asks for the parent's password.

Unicode true
; 64-bit: Program Files, the registry view and system32 are then the native
; ones, and Debian's wine64, which starts no 32-bit program, runs it too.
Target amd64-unicode

!ifndef VB_EXE
  !error "makensis -DVB_EXE=path/to/Vellumbrook.exe -DVB_OUTFILE=path/to/VellumbrookSetup.exe vellumbrook.nsi"
!endif
!ifndef VB_OUTFILE
  !error "makensis -DVB_EXE=path/to/Vellumbrook.exe -DVB_OUTFILE=path/to/VellumbrookSetup.exe vellumbrook.nsi"
!endif

; The version shown in Apps & features is the one the .exe carries.
!getdllversion "${VB_EXE}" VB_VERSION_
!define VB_VERSION "${VB_VERSION_1}.${VB_VERSION_2}.${VB_VERSION_3}"

!define VB_UNINSTALLER "uninstall.exe"
!define VB_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellumbrook"
!define VB_TASK "Vellumbrook"

Name "Vellumbrook"
OutFile "${VB_OUTFILE}"
InstallDir "$PROGRAMFILES64\Vellumbrook"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "Vellumbrook ${VB_VERSION}"
ShowInstDetails show
ShowUninstDetails show

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define MUI_ICON "../resources/vellumbrook.ico"
!define MUI_UNICON "../resources/vellumbrook.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_TEXT "Vellumbrook est installé. Il démarre quand vous cliquez sur Fermer : choisissez alors le mot de passe parent.$\r$\n$\r$\nEnsuite, il démarre de lui-même à chaque ouverture de session d'un administrateur. Ses protections valent pour tous les comptes de l'ordinateur : un service les maintient même quand aucun administrateur n'a ouvert de session."
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "French"

VIProductVersion "${VB_VERSION_1}.${VB_VERSION_2}.${VB_VERSION_3}.${VB_VERSION_4}"
VIAddVersionKey /LANG=${LANG_FRENCH} "ProductName" "Vellumbrook"
VIAddVersionKey /LANG=${LANG_FRENCH} "FileDescription" "Installation de Vellumbrook"
VIAddVersionKey /LANG=${LANG_FRENCH} "FileVersion" "${VB_VERSION}"
VIAddVersionKey /LANG=${LANG_FRENCH} "ProductVersion" "${VB_VERSION}"
VIAddVersionKey /LANG=${LANG_FRENCH} "CompanyName" "Vellumbrook"
VIAddVersionKey /LANG=${LANG_FRENCH} "LegalCopyright" "© Vellumbrook"

; Both programs work on HKLM, Program Files and the all-users Start menu, and
; start the agent, whose manifest requires an administrator: without an
; administrator's token (UAC turned off for a standard user, say) they stop
; before changing anything, with ERROR_ELEVATION_REQUIRED as exit code.
!macro VbCommonInit
  SetShellVarContext all
  SetRegView 64
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Vellumbrook s'installe et se désinstalle avec les droits d'administrateur. Relancez ce programme en tant qu'administrateur." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
  ; Whatever /D= or the uninstaller's location say, the program lives in
  ; Program Files and nowhere else: a folder standard users cannot write, so
  ; nothing can be planted beside the elevated agent, and the uninstaller
  ; runs no Vellumbrook.exe but that one.
  StrCpy $INSTDIR "$PROGRAMFILES64\Vellumbrook"
!macroend

Function .onInit
  !insertmacro VbCommonInit
FunctionEnd

Function un.onInit
  !insertmacro VbCommonInit
FunctionEnd

; Reports a failed step and stops: MessageBox for the parent, the text in the
; details list for a silent install's log, and exit code 2 for a deployment tool.
!macro VbFail text
  DetailPrint "${text}"
  MessageBox MB_ICONSTOP "${text}" /SD IDOK
  Abort
!macroend

; The same once "--stop" ran: the service is started again first, so that a failed
; update never leaves the machine without protection.
Var VbStopped
!macro VbFailAfterStop text
  ${If} $VbStopped == 1
    StrCpy $9 "non lancé"
    ExecWait '"$PLUGINSDIR\Vellumbrook.exe" --start-service' $9
    ${If} $9 == 0
      !insertmacro VbFail "${text}$\r$\n$\r$\nLe service Vellumbrook fonctionne et protège l'ordinateur."
    ${EndIf}
    !insertmacro VbFail "${text}$\r$\n$\r$\nLe service Vellumbrook n'a pas pu être relancé (code $9) : redémarrez l'ordinateur."
  ${EndIf}
  !insertmacro VbFail "${text}"
!macroend

Section "Vellumbrook"
  StrCpy $VbStopped 0
  ; Before anything is stopped or copied, the new program, from the setup's own
  ; folder, takes the settings folder back from whatever another account put there
  ; and, unless silent, asks for the parent's password when none is set yet: a
  ; parent installing over a child's shoulder chooses it here, not the child later.
  ; A silent install leaves that to the first administrator's logon.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\Vellumbrook.exe" "${VB_EXE}"
  StrCpy $0 "non lancé"
  ClearErrors
  ${If} ${Silent}
    ExecWait '"$PLUGINSDIR\Vellumbrook.exe" --setup --silent' $0
  ${Else}
    ExecWait '"$PLUGINSDIR\Vellumbrook.exe" --setup' $0
  ${EndIf}
  ${If} $0 == 1
    !insertmacro VbFail "Aucun mot de passe parent n'a été choisi : l'installation est annulée et rien n'a été modifié."
  ${ElseIf} ${Errors}
  ${OrIf} $0 != 0
    !insertmacro VbFail "Le dossier $APPDATA\Vellumbrook contient ce qu'un autre compte y a mis et ne peut pas encore être sécurisé (code $0) : l'installation est annulée et rien n'a été modifié.$\r$\n$\r$\nFermez les sessions des autres utilisateurs, puis relancez l'installation."
  ${EndIf}

  ; An update: the service and the agent keep the .exe open while they run, so
  ; ask them to end first. --stop returns once neither runs any more, 0 when
  ; that is so (a version without the service ends its agent only). It stops
  ; nothing while an agent runs in another session.
  ${If} ${FileExists} "$INSTDIR\Vellumbrook.exe"
    DetailPrint "Arrêt de Vellumbrook..."
    StrCpy $0 "non lancé"
    ClearErrors
    ExecWait '"$INSTDIR\Vellumbrook.exe" --stop' $0
    StrCpy $VbStopped 1
    ${If} ${Errors}
    ${OrIf} $0 != 0
      !insertmacro VbFailAfterStop "Vellumbrook n'a pas pu être arrêté (code $0) : l'installation est annulée.$\r$\n$\r$\nFermez les sessions des autres utilisateurs et quittez Vellumbrook depuis son icône près de l'horloge, puis relancez l'installation."
    ${EndIf}
  ${EndIf}

  ClearErrors
  SetOutPath "$INSTDIR"
  ${If} ${Errors}
    !insertmacro VbFailAfterStop "Le dossier $INSTDIR n'a pas pu être créé : l'installation est annulée."
  ${EndIf}

  ; With "try", a file that cannot be written sets the error flag instead of
  ; NSIS's Abort/Retry/Ignore prompt, which would hold an unattended install.
  ; The agent has just ended: give Windows a few seconds to let go of its .exe.
  SetOverwrite try
  StrCpy $1 0
  ${Do}
    ClearErrors
    File "/oname=Vellumbrook.exe" "${VB_EXE}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 >= 10
      !insertmacro VbFailAfterStop "$INSTDIR\Vellumbrook.exe n'a pas pu être remplacé : l'installation est annulée. Fermez les programmes qui l'utilisent, ou redémarrez l'ordinateur, puis relancez l'installation."
    ${EndIf}
    Sleep 500
  ${Loop}
  SetOverwrite on

  ClearErrors
  WriteUninstaller "$INSTDIR\${VB_UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\Vellumbrook.lnk" "$INSTDIR\Vellumbrook.exe"
  ${If} ${Errors}
    !insertmacro VbFailAfterStop "Le programme de désinstallation ou le raccourci du menu Démarrer n'a pas pu être créé : l'installation est annulée."
  ${EndIf}

  ; Apps & features (64-bit view, set in .onInit).
  ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
  ClearErrors
  WriteRegStr HKLM "${VB_UNINSTALL_KEY}" "DisplayName" "Vellumbrook"
  WriteRegStr HKLM "${VB_UNINSTALL_KEY}" "DisplayVersion" "${VB_VERSION}"
  WriteRegStr HKLM "${VB_UNINSTALL_KEY}" "Publisher" "Vellumbrook"
  WriteRegStr HKLM "${VB_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vellumbrook.exe"
  WriteRegStr HKLM "${VB_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${VB_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${VB_UNINSTALLER}"'
  WriteRegStr HKLM "${VB_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${VB_UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${VB_UNINSTALL_KEY}" "EstimatedSize" $2
  WriteRegDWORD HKLM "${VB_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${VB_UNINSTALL_KEY}" "NoRepair" 1
  ${If} ${Errors}
    !insertmacro VbFailAfterStop "L'entrée de Vellumbrook dans Applications et fonctionnalités n'a pas pu être enregistrée : l'installation est annulée."
  ${EndIf}

  ; The service, made or brought up to date (an earlier version may have had
  ; none), and started, silent install or not.
  DetailPrint "Installation du service Vellumbrook..."
  StrCpy $0 "non lancé"
  ClearErrors
  ExecWait '"$INSTDIR\Vellumbrook.exe" --install-service' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    !insertmacro VbFailAfterStop "Le service Vellumbrook n'a pas pu être installé ou démarré (code $0). Relancez l'installation."
  ${EndIf}

  ; The logon task. /F replaces the one of an earlier install. nsExec runs
  ; schtasks without a console window and keeps its message for the report.
  File "/oname=$PLUGINSDIR\task.xml" "task.xml"
  DetailPrint "Enregistrement de la tâche planifiée ${VB_TASK}..."
  nsExec::ExecToStack /OEM '"$SYSDIR\schtasks.exe" /Create /TN ${VB_TASK} /XML "$PLUGINSDIR\task.xml" /F'
  Pop $0
  Pop $1
  DetailPrint "schtasks : $0 $1"
  ${If} $0 != 0
    !insertmacro VbFailAfterStop "La tâche planifiée qui démarre Vellumbrook à l'ouverture de session n'a pas pu être enregistrée (code $0) :$\r$\n$1$\r$\nVellumbrook est installé mais ne démarrera pas seul. Relancez l'installation."
  ${EndIf}
SectionEnd

; After a successful install, once the setup window has closed, the agent
; starts (elevated, like the setup) and asks the parent for the password at
; once. A silent install leaves it for the next logon, as a deployment tool
; expects.
Function .onInstSuccess
  ${IfNot} ${Silent}
    Exec '"$INSTDIR\Vellumbrook.exe"'
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; The agent undoes its own work: it asks for the parent's password, ends
  ; the service and the running agent, puts back the DNS servers, the hosts
  ; file and the browser policies, and only then removes the logon task, the
  ; service and its settings. Any code but 0 (refused or cancelled: nothing
  ; changed; or something it could not undo, which it has already told the
  ; parent) leaves the program in place.
  ${IfNot} ${FileExists} "$INSTDIR\Vellumbrook.exe"
    !insertmacro VbFail "$INSTDIR\Vellumbrook.exe est introuvable : rien n'a été désinstallé. Réinstallez Vellumbrook, puis désinstallez-le."
  ${EndIf}
  DetailPrint "Désinstallation de Vellumbrook..."
  StrCpy $0 "non lancé"
  ClearErrors
  ExecWait '"$INSTDIR\Vellumbrook.exe" --uninstall' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "Vellumbrook --uninstall : $0"
    MessageBox MB_ICONSTOP "Vellumbrook n'a pas été désinstallé (code $0) : le mot de passe parent n'a pas été confirmé, ou Vellumbrook n'a pas pu tout rétablir. Le programme reste en place ; vous pouvez relancer la désinstallation." /SD IDOK
    Abort
  ${EndIf}

  Delete "$SMPROGRAMS\Vellumbrook.lnk"
  DeleteRegKey HKLM "${VB_UNINSTALL_KEY}"
  ; The folder last, so that its going marks the end. Not /r: only what this
  ; program and the agent (its lock file) put there goes.
  Delete /REBOOTOK "$INSTDIR\Vellumbrook.exe"
  Delete /REBOOTOK "$INSTDIR\Vellumbrook.lock"
  Delete /REBOOTOK "$INSTDIR\${VB_UNINSTALLER}"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd
