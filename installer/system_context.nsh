; Setup run as the system account or in session 0, as a device-wide
; deployment (Intune or a configuration manager in system context) starts
; it. The per-user setup program would install for the system account's own
; profile, where no user ever sees Lumo2, and a Lumo2 started there would run
; with nobody's desktop. It installs nothing and ends with its own exit
; code, so the deployment reports a failure instead of a success that did
; nothing; the MSI is the package for that kind of deployment.
;
; Test switches: /OWNSID=<sid> is taken as the setup program's account and
; /SESSIONID=<n> as its session, each besides the real one, so that given by
; anyone they can only stop the setup program, never let it run where it
; must not. The tests need them because every process under Wine runs as
; the one user in one session.

!define EXIT_SYSTEM_CONTEXT 5
!define SYSTEM_SID "S-1-5-18"

LangString SystemContextText ${LANG_ENGLISH} "This setup program installs Lumo2 for the user signed in to Windows, and it is running as the system account. Nothing has been installed.$\r$\n$\r$\nTo install Lumo2 for every user of this PC, use Lumo2-${VERSION}-x86.msi instead."
LangString SystemContextText ${LANG_KOREAN} "이 설치 프로그램은 Windows에 로그인한 사용자에게 Lumo2를 설치하는데, 지금 시스템 계정으로 실행 중입니다. 아무것도 설치되지 않았습니다.$\r$\n$\r$\n이 PC의 모든 사용자에게 Lumo2를 설치하려면 Lumo2-${VERSION}-x86.msi를 사용하십시오."

; Ends the setup program, before anything is installed, when it runs as the
; system account or in session 0. Says why only where a user can see it:
; a message box in session 0 would wait for ever.
Function CheckSystemContext
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/OWNSID=" $R2
  ClearErrors
  ${GetOptions} $R0 "/SESSIONID=" $R3
  ${If} ${Errors}
    StrCpy $R3 ""
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcessId() i .R4'
  System::Call 'kernel32::ProcessIdToSessionId(i R4, *i .R4) i .R0'
  ${If} $R0 <> 0
  ${AndIf} $R4 = 0
    StrCpy $R3 0
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcess() p .R0'
  Call ProcessUserSid
  ${If} $R1 == "${SYSTEM_SID}"
  ${OrIf} $R2 == "${SYSTEM_SID}"
  ${OrIf} $R3 == "0"
    ${If} $R3 != "0"
      MessageBox MB_OK|MB_ICONSTOP "$(SystemContextText)" /SD IDOK
    ${EndIf}
    SetErrorLevel ${EXIT_SYSTEM_CONTEXT}
    Quit
  ${EndIf}
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
