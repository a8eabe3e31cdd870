; Lumo2's per-user setup program: installs Lumo2.exe and its uninstaller into
; the user's own program folder, adds the Start-menu shortcut, start at logon
; and the "Apps & features" entry, and starts Lumo2. Never elevated, never
; writes under HKLM, so a clinic user without administrator rights can run it.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DLUMO2_EXE=<Lumo2.exe>
;          -DICON=<lumo2.ico> -DOUTFILE=<setup.exe> [-DSIGN_COMMAND=<command>] lumo2.nsi
;
; SIGN_COMMAND, when given, signs the file named after it in place; the
; uninstaller is signed before it goes into the setup program, then the
; setup program itself.
;
; Silent switches: /S, /NOAUTOSTART or /AUTOSTART=0 (no start at logon),
; /AUTOSTART=1 (start at logon, even where the user turned it off in Task
; Manager or Settings), /NORUN (do not start Lumo2 now), /D=<folder> (last,
; unquoted). Without either, a fresh install starts Lumo2 at logon and an
; upgrade keeps start at logon as the user left it. The uninstaller: /S,
; /PURGE (also remove the settings under HKCU\Software\Kestrova). Run as
; another account than the desktop's, it warns and never starts Lumo2
; (other_account.nsh, with its test switch /SHELLSID=); run as the system
; account or in session 0, it installs nothing (system_context.nsh, with its
; test switches /OWNSID= and /SESSIONID=).
;
; Exit codes in silent mode: 0 done, 1 cancelled, 2 aborted, 3 the folder
; cannot be written, 4 a running Lumo2 did not end (for the uninstaller also:
; Lumo2.exe could not be removed), 5 run as the system account or in
; session 0.

!ifndef VERSION | LUMO2_EXE | ICON | OUTFILE
  !error "VERSION, LUMO2_EXE, ICON and OUTFILE must be defined"
!endif

Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define PRODUCT "Lumo2"
!define PUBLISHER "Kestrova"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumo2"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Where Task Manager marks a Run value as turned off.
!define STARTUP_APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
!define SETTINGS_KEY "Software\Kestrova"
; The class of Lumo2's hidden tray window; WM_CLOSE to it ends Lumo2 cleanly
; and takes its icon out of the notification area. Windows drops WM_CLOSE
; to a Lumo2 run as administrator; the registered message QUIT_MESSAGE ends
; it the same way and is let through.
!define TRAY_CLASS "Lumo"
!define QUIT_MESSAGE "Lumo2Quit"
!define EXIT_FOLDER_NOT_WRITABLE 3
!define EXIT_STILL_RUNNING 4

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
  !finalize '${SIGN_COMMAND} "%1"' = 0
!endif
InstallDir "$LOCALAPPDATA\Programs\Lumo2"
; An upgrade goes where the last installation went, unless /D= says otherwise.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include StrFunc.nsh
${StrStr}

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; Keeps the progress page up with its details until the user moves on.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

Var AutoStart
; 1 when start at logon was asked for in so many words (/AUTOSTART=1, or the
; box ticked on the options page); only then is the user's "off" in Task
; Manager overruled.
Var AutoStartChosen
Var AutoStartBox
Var Purge
Var PurgeBox

!insertmacro MUI_PAGE_WELCOME
Page custom OptionsPageShow OptionsPageLeave
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryPageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(StartNow)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartLumo2
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!insertmacro MUI_PAGE_FINISH

!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ConfirmPageShow
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE un.ConfirmPageLeave
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one used when the system's UI language is
; neither; NSIS picks the one matching the user's UI language by itself.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Korean"

!addincludedir "${__FILEDIR__}"
!include "strings.nsh"
!include "other_account.nsh"
!include "system_context.nsh"

; $0 is 1 when the user turned Lumo2's start at logon off in Task Manager or
; Settings, else 0. Windows keeps that beside the Run value: a binary value
; whose first byte is odd for "disabled" (3, or 7 on some versions) and even
; for "enabled".
Function StartAtLogonTurnedOff
  Push $1
  Push $2
  StrCpy $0 0
  System::Alloc 64
  Pop $1
  ; HKEY_CURRENT_USER, RRF_RT_REG_BINARY
  System::Call 'advapi32::RegGetValueW(p 0x80000001, w "${STARTUP_APPROVED_KEY}", w "Lumo2", i 8, p 0, p r1, *i 64) i .r2'
  ${If} $2 = 0
    System::Call '*$1(&i1 .r2)'
    IntOp $0 $2 & 1
  ${EndIf}
  System::Free $1
  Pop $2
  Pop $1
FunctionEnd

; Ends a running Lumo2, wherever it was started from: asks its tray window to
; close and waits up to 10 s for the window and then the file to be let go.
; $0 is 1 when no Lumo2 runs any more, else 0.
!macro EndRunningLumo2 un
Function ${un}EndRunningLumo2
  Push $1
  Push $2
  Push $3
  StrCpy $0 1
  StrCpy $2 0
  FindWindow $1 "${TRAY_CLASS}"
  ${If} $1 <> 0
    DetailPrint "$(Closing)"
    System::Call 'user32::RegisterWindowMessage(t "${QUIT_MESSAGE}") i .r3'
    ${If} $3 <> 0
      SendMessage $1 $3 0 0 /TIMEOUT=5000
    ${EndIf}
    SendMessage $1 ${WM_CLOSE} 0 0 /TIMEOUT=5000
  ${EndIf}
  ${DoWhile} $1 <> 0
    ${If} $2 >= 100
      StrCpy $0 0
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $2 $2 + 1
    FindWindow $1 "${TRAY_CLASS}"
  ${Loop}
  ; The window goes before the process; the installed file stays locked
  ; until the process has ended.
  ${If} $0 = 1
  ${AndIf} ${FileExists} "$INSTDIR\Lumo2.exe"
    ${DoUntil} $2 >= 100
      ClearErrors
      FileOpen $1 "$INSTDIR\Lumo2.exe" a
      ${IfNot} ${Errors}
        FileClose $1
        ${Break}
      ${EndIf}
      Sleep 100
      IntOp $2 $2 + 1
    ${Loop}
    ${If} $2 >= 100
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro EndRunningLumo2 ""
!insertmacro EndRunningLumo2 "un."

Function .onInit
  Call CheckSystemContext
  SetShellVarContext current
  StrCpy $AutoStart ${BST_CHECKED}
  StrCpy $AutoStartChosen 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AUTOSTART=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "1"
      StrCpy $AutoStartChosen 1
    ${ElseIf} $R1 == "0"
      StrCpy $AutoStart ${BST_UNCHECKED}
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/NOAUTOSTART" $R1
  ${IfNot} ${Errors}
    StrCpy $AutoStart ${BST_UNCHECKED}
  ${EndIf}
  ; The options page starts from the user's own "off". A silent upgrade
  ; keeps the Run value up to date and leaves the "off" to say that it is
  ; not used.
  ${IfNot} ${Silent}
  ${AndIf} $AutoStartChosen = 0
    Call StartAtLogonTurnedOff
    ${If} $0 = 1
      StrCpy $AutoStart ${BST_UNCHECKED}
    ${EndIf}
  ${EndIf}

  ; NSIS quietly drops a /D= folder it cannot use (one below a file, say)
  ; and installs into the default one instead; a silent install must fail
  ; rather than put Lumo2 somewhere it was not asked to. $CMDLINE has lost
  ; the /D= part by now, the process's own command line has not.
  ${If} ${Silent}
    System::Call 'kernel32::GetCommandLineW() w .R0'
    ${StrStr} $R1 $R0 " /D="
    ${If} $R1 != ""
      StrCpy $R1 $R1 "" 4
      StrCpy $R2 $R1 1 -1
      ${If} $R2 == "\"
        StrCpy $R1 $R1 -1
      ${EndIf}
      ; NSIS compares case-insensitively, as Windows paths are.
      ${If} $R1 != $INSTDIR
        StrCpy $INSTDIR $R1
        MessageBox MB_OK|MB_ICONSTOP "$(NotWritable)" /SD IDOK
        SetErrorLevel ${EXIT_FOLDER_NOT_WRITABLE}
        Abort
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Call CheckOtherAccount
FunctionEnd

Function OptionsPageShow
  !insertmacro MUI_HEADER_TEXT "$(OptionsTitle)" "$(OptionsSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateCheckbox} 0 0 100% 12u "$(AutoStartText)"
  Pop $AutoStartBox
  ${NSD_SetState} $AutoStartBox $AutoStart
  ${NSD_CreateLabel} 0 20u 100% 36u "$(AutoStartNote)"
  Pop $0
  nsDialogs::Show
FunctionEnd

Function OptionsPageLeave
  ${NSD_GetState} $AutoStartBox $AutoStart
  ${If} $AutoStart == ${BST_CHECKED}
    StrCpy $AutoStartChosen 1
  ${EndIf}
FunctionEnd

; A folder that cannot be written is refused on its own page, where the
; user can still choose another.
Function DirectoryPageLeave
  ClearErrors
  CreateDirectory "$INSTDIR"
  FileOpen $0 "$INSTDIR\Lumo2.exe.new" w
  ${If} ${Errors}
    RMDir "$INSTDIR"
    MessageBox MB_OK|MB_ICONSTOP "$(NotWritable)"
    Abort
  ${EndIf}
  FileClose $0
  Delete "$INSTDIR\Lumo2.exe.new"
  RMDir "$INSTDIR"
FunctionEnd

; Fails with the given message and exit code. Every caller has first put
; back whatever it had changed, so the PC is left as it was. The installer's
; own current folder cannot be removed, hence the move to $TEMP before RMDir,
; which takes the folder away only when it is empty, i.e. a fresh install.
!macro FailInstall message code
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
  MessageBox MB_OK|MB_ICONSTOP "${message}" /SD IDOK
  DetailPrint "${message}"
  SetErrorLevel ${code}
  Abort
!macroend

; Puts the files of the installation being replaced back under their own
; names after a failed swap, and takes away the new ones; with no earlier
; installation the real names are then free.
Function RestoreOldFiles
  Delete "$INSTDIR\Lumo2.exe.new"
  Delete "$INSTDIR\Uninstall.exe.new"
  ${If} ${FileExists} "$INSTDIR\Lumo2.exe.old"
    Delete "$INSTDIR\Lumo2.exe"
    Rename "$INSTDIR\Lumo2.exe.old" "$INSTDIR\Lumo2.exe"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Uninstall.exe.old"
    Delete "$INSTDIR\Uninstall.exe"
    Rename "$INSTDIR\Uninstall.exe.old" "$INSTDIR\Uninstall.exe"
  ${EndIf}
FunctionEnd

; Gives the new files their real names. The files being replaced step aside
; under *.old rather than being deleted, so that a swap that fails halfway can
; put them back. $0 is 1 when both new files have their names, else 0.
Function SwapInNewFiles
  StrCpy $0 0
  ; Leftovers of an earlier swap cut short would make the renames fail.
  Delete "$INSTDIR\Lumo2.exe.old"
  Delete "$INSTDIR\Uninstall.exe.old"
  ClearErrors
  ${If} ${FileExists} "$INSTDIR\Lumo2.exe"
    Rename "$INSTDIR\Lumo2.exe" "$INSTDIR\Lumo2.exe.old"
    ${IfThen} ${Errors} ${|} Return ${|}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Uninstall.exe"
    Rename "$INSTDIR\Uninstall.exe" "$INSTDIR\Uninstall.exe.old"
    ${IfThen} ${Errors} ${|} Return ${|}
  ${EndIf}
  Rename "$INSTDIR\Lumo2.exe.new" "$INSTDIR\Lumo2.exe"
  ${IfThen} ${Errors} ${|} Return ${|}
  Rename "$INSTDIR\Uninstall.exe.new" "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    ; Only the old files may carry the real names when this fails.
    Rename "$INSTDIR\Lumo2.exe" "$INSTDIR\Lumo2.exe.new"
    Return
  ${EndIf}
  StrCpy $0 1
FunctionEnd

Section "Lumo2" SecMain
  SetShellVarContext current
  SectionIn RO

  ; Proves the folder writable before anything else is touched, a running
  ; Lumo2 included, so a failure leaves the PC as it was.
  ClearErrors
  CreateDirectory "$INSTDIR"
  FileOpen $0 "$INSTDIR\Lumo2.exe.new" w
  ${If} ${Errors}
    !insertmacro FailInstall "$(NotWritable)" ${EXIT_FOLDER_NOT_WRITABLE}
  ${EndIf}
  FileClose $0

  Call EndRunningLumo2
  ${If} $0 <> 1
    Delete "$INSTDIR\Lumo2.exe.new"
    !insertmacro FailInstall "$(StillRunning)" ${EXIT_STILL_RUNNING}
  ${EndIf}

  ; Both files are written under new names first and take the real names
  ; only when both are complete.
  SetOutPath "$INSTDIR"
  ClearErrors
  File "/oname=Lumo2.exe.new" "${LUMO2_EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe.new"
  ${If} ${Errors}
    Call RestoreOldFiles
    !insertmacro FailInstall "$(NotWritable)" ${EXIT_FOLDER_NOT_WRITABLE}
  ${EndIf}

  ; An earlier installation in another folder would otherwise stay behind
  ; with no entry to remove it. Paths compared as text cannot tell that the
  ; same folder spelled another way (a short name, "..", "/") is this one;
  ; the new file just written there can. Decided now, done once the new
  ; files are in place.
  ReadRegStr $3 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $3 != ""
  ${AndIf} ${FileExists} "$3\Lumo2.exe.new"
    StrCpy $3 ""
  ${EndIf}

  Call SwapInNewFiles
  ${If} $0 <> 1
    Call RestoreOldFiles
    !insertmacro FailInstall "$(NotWritable)" ${EXIT_FOLDER_NOT_WRITABLE}
  ${EndIf}
  Delete "$INSTDIR\Lumo2.exe.old"
  Delete "$INSTDIR\Uninstall.exe.old"

  ${If} $3 != ""
    Delete "$3\Lumo2.exe"
    Delete "$3\Uninstall.exe"
    RMDir "$3"
  ${EndIf}

  CreateShortcut "$SMPROGRAMS\Lumo2.lnk" "$INSTDIR\Lumo2.exe" "" "$INSTDIR\Lumo2.exe" 0

  ${If} $AutoStart == ${BST_CHECKED}
    WriteRegStr HKCU "${RUN_KEY}" "Lumo2" '"$INSTDIR\Lumo2.exe"'
    ; Turned off in Task Manager, start at logon would stay off through a
    ; reinstall that asks for it; one that merely does not say no keeps it.
    ${If} $AutoStartChosen = 1
      DeleteRegValue HKCU "${STARTUP_APPROVED_KEY}" "Lumo2"
    ${EndIf}
  ${Else}
    DeleteRegValue HKCU "${RUN_KEY}" "Lumo2"
  ${EndIf}

  ; The size the two files take, rounded up to whole KB.
  FileOpen $0 "$INSTDIR\Lumo2.exe" r
  FileSeek $0 0 END $1
  FileClose $0
  FileOpen $0 "$INSTDIR\Uninstall.exe" r
  FileSeek $0 0 END $2
  FileClose $0
  IntOp $1 $1 + $2
  IntOp $1 $1 + 1023
  IntOp $1 $1 / 1024

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Lumo2.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $1
SectionEnd

Function StartLumo2
  ${IfThen} $OtherAccount = 1 ${|} Return ${|}
  Exec '"$INSTDIR\Lumo2.exe"'
FunctionEnd

; The finish page offers the start interactively; a silent install starts
; Lumo2 here unless /NORUN.
Function .onInstSuccess
  ${IfNot} ${Silent}
    Return
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NORUN" $R1
  ${If} ${Errors}
    Call StartLumo2
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
  StrCpy $Purge ${BST_UNCHECKED}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PURGE" $R1
  ${IfNot} ${Errors}
    StrCpy $Purge ${BST_CHECKED}
  ${EndIf}
FunctionEnd

; The confirmation page gets one more control: the choice to remove the
; user's settings too, unticked.
Function un.ConfirmPageShow
  FindWindow $0 "#32770" "" $HWNDPARENT
  System::Call 'user32::CreateWindowExW(i 0, w "BUTTON", w "$(PurgeText)", i ${WS_CHILD}|${WS_VISIBLE}|${WS_TABSTOP}|${BS_AUTOCHECKBOX}, i 0, i 0, i 0, i 0, p r0, p 0, p 0, p 0) p .s'
  Pop $PurgeBox
  ; Placed in dialog units below the folder box, in the page's own font.
  System::Call '*(i 0, i 80, i 280, i 12) p .r1'
  System::Call 'user32::MapDialogRect(p r0, p r1)'
  System::Call '*$1(i .r2, i .r3, i .r4, i .r5)'
  System::Free $1
  System::Call 'user32::SetWindowPos(p $PurgeBox, p 0, i r2, i r3, i r4, i r5, i 0x14)'
  SendMessage $0 ${WM_GETFONT} 0 0 $1
  SendMessage $PurgeBox ${WM_SETFONT} $1 1
  SendMessage $PurgeBox ${BM_SETCHECK} $Purge 0
FunctionEnd

Function un.ConfirmPageLeave
  SendMessage $PurgeBox ${BM_GETCHECK} 0 0 $Purge
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.EndRunningLumo2
  ${If} $0 <> 1
    MessageBox MB_OK|MB_ICONSTOP "$(StillRunning)" /SD IDOK
    DetailPrint "$(StillRunning)"
    SetErrorLevel ${EXIT_STILL_RUNNING}
    Abort
  ${EndIf}

  ; Nothing else is removed while Lumo2.exe stays (held open by another
  ; program, or refused by its permissions): an uninstall that went on would
  ; leave a program nothing lists any more.
  Delete "$INSTDIR\Lumo2.exe"
  ${If} ${FileExists} "$INSTDIR\Lumo2.exe"
    MessageBox MB_OK|MB_ICONSTOP "$(CannotRemove)" /SD IDOK
    DetailPrint "$(CannotRemove)"
    SetErrorLevel ${EXIT_STILL_RUNNING}
    Abort
  ${EndIf}
  ; Run in place (_?=) the uninstaller cannot delete itself; its caller does.
  Delete "$INSTDIR\Uninstall.exe"
  ; What an install cut short may have left.
  Delete "$INSTDIR\Lumo2.exe.new"
  Delete "$INSTDIR\Uninstall.exe.new"
  Delete "$INSTDIR\Lumo2.exe.old"
  Delete "$INSTDIR\Uninstall.exe.old"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Lumo2.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Lumo2"
  DeleteRegValue HKCU "${STARTUP_APPROVED_KEY}" "Lumo2"
  ${If} $Purge == ${BST_CHECKED}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
  ${EndIf}
  ; Last, so that an uninstall cut short can still be run again from
  ; "Apps & features".
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
