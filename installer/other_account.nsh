; Setup run as another account than the one signed in to the desktop. A
; technician who runs the per-user setup program with their own administrator
; credentials installs Lumo2 for themselves, not for the clinic user, and a
; Lumo2 started at the end would run in the clinic user's session under the
; wrong account. The account of the desktop's shell (the process of
; GetShellWindow) is compared with the setup program's own; elevation alone
; changes neither, so an administrator installing for themselves is not
; warned.
;
; Test switch: /SHELLSID=<sid> takes <sid> as the shell's account instead of
; asking the shell. The tests need it because every process under Wine runs
; as the one user; given by anyone else it can only bring up the warning and
; keep Lumo2 from starting at the end.

Var OtherAccount

LangString OtherAccountText ${LANG_ENGLISH} "Setup is running as $R3, not as the user signed in to this desktop. It would install Lumo2 for $R3 only, and would not start it here.$\r$\n$\r$\nTo install Lumo2 for every user of this PC, use Lumo2-${VERSION}-x86.msi instead.$\r$\n$\r$\nChoose OK to install Lumo2 for $R3 anyway, or Cancel to stop."
LangString OtherAccountText ${LANG_KOREAN} "설치 프로그램이 이 데스크톱에 로그인한 사용자가 아닌 $R3 계정으로 실행 중입니다. Lumo2는 $R3 계정에만 설치되며 여기서 시작되지 않습니다.$\r$\n$\r$\n이 PC의 모든 사용자에게 Lumo2를 설치하려면 Lumo2-${VERSION}-x86.msi를 사용하십시오.$\r$\n$\r$\n그래도 $R3 계정에 설치하려면 [확인]을, 중지하려면 [취소]를 선택하십시오."

; $R1 = the string SID of the user of the process whose handle is in $R0,
; or "" when its token cannot be read.
Function ProcessUserSid
  Push $R2
  Push $R4
  Push $R5
  Push $R6
  StrCpy $R1 ""
  ; TOKEN_QUERY
  System::Call 'advapi32::OpenProcessToken(p R0, i 8, *p .R2) i .R5'
  ${If} $R5 = 0
    Goto done
  ${EndIf}
  System::Alloc 256
  Pop $R4
  ; TokenUser: a TOKEN_USER, whose first member points at the SID.
  System::Call 'advapi32::GetTokenInformation(p R2, i 1, p R4, i 256, *i .R5) i .R5'
  ${If} $R5 <> 0
    System::Call '*$R4(p .R5)'
    System::Call 'advapi32::ConvertSidToStringSidW(p R5, *p .R5) i .R6'
    ${If} $R6 <> 0
      System::Call 'kernel32::lstrcpynW(w .R1, p R5, i 256)'
      System::Call 'kernel32::LocalFree(p R5)'
    ${EndIf}
  ${EndIf}
  System::Free $R4
  System::Call 'kernel32::CloseHandle(p R2)'
done:
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R2
FunctionEnd

; $R1 = the shell's account: its SID; "" when there is no shell to ask (the
; setup program then behaves as always); "?" when its process or token cannot
; be read, which never happens for one's own shell.
Function ShellUserSid
  Push $R0
  Push $R2
  StrCpy $R1 ""
  System::Call 'user32::GetShellWindow() p .R0'
  ${If} $R0 P<> 0
    System::Call 'user32::GetWindowThreadProcessId(p R0, *i .R2)'
    ${If} $R2 <> 0
      StrCpy $R1 "?"
      ; PROCESS_QUERY_LIMITED_INFORMATION
      System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i R2) p .R0'
      ${If} $R0 P<> 0
        Call ProcessUserSid
        ${IfThen} $R1 == "" ${|} StrCpy $R1 "?" ${|}
        System::Call 'kernel32::CloseHandle(p R0)'
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $R2
  Pop $R0
FunctionEnd

; Sets $OtherAccount and, interactively, lets the user stop before anything
; is installed (exit code 1). A silent install goes on without asking.
Function CheckOtherAccount
  StrCpy $OtherAccount 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/SHELLSID=" $R1
  ${If} ${Errors}
    Call ShellUserSid
  ${EndIf}
  ${If} $R1 == ""
    Return
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcess() p .R0'
  StrCpy $R2 $R1
  Call ProcessUserSid
  ; NSIS compares without case, as SIDs are compared.
  ${If} $R1 == ""
  ${OrIf} $R1 == $R2
    Return
  ${EndIf}
  StrCpy $OtherAccount 1
  System::Call 'advapi32::GetUserNameW(w .R3, *i ${NSIS_MAX_STRLEN})'
  MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "$(OtherAccountText)" /SD IDOK IDOK install
  SetErrorLevel 1
  Quit
install:
FunctionEnd

; Lumo2 would start under the setup program's account, not the desktop's.
Function FinishPageShow
  ${If} $OtherAccount = 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
  ${EndIf}
FunctionEnd
