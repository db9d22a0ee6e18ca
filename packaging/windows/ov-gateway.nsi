; The Windows setup program: the gateway, its console, setup libraries and
; command-line tools in one directory, the service installed, the console
; started at log-on. Built by the "installer" target:
;   makensis -DARCH=win64|win32 -DVERSION=x.y -DBINDIR=<build>/bin
;            -DSRCDIR=<source> -DOUTFILE=<setup.exe> ov-gateway.nsi
; Silent use: setup.exe /S [/PASSWORD=pw] [/START] [/D=C:\dir]
; (/PASSWORD is needed only when the directory has no accounts yet).

; A 64-bit setup for the 64-bit build: it runs where the programs run, and
; sees the 64-bit Program Files and registry without redirection.
!if ${ARCH} == "win64"
Target amd64-unicode
!else
Target x86-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "nsDialogs.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define PRODUCT "OV Gateway"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OVGateway"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
!if ${ARCH} == "win64"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

Var Password
Var Password2
Var StartService
Var PasswordField
Var Password2Field
Var StartBox
Var WasRunning

!define MUI_ICON "${SRCDIR}\console\win32\icons\console.ico"
!define MUI_UNICON "${SRCDIR}\console\win32\icons\console.ico"
!define MUI_ABORTWARNING
; The details of the installation stay on screen until the administrator
; goes on: the service's messages are among them.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
Page custom AdminPage AdminPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Function .onInit
!if ${ARCH} == "win64"
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "这是64位版本，请在64位Windows上安装。" /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
!endif
    StrCpy $StartService 1
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PASSWORD=" $Password
    ${If} ${Errors}
        StrCpy $Password ""
    ${EndIf}
    StrCpy $Password2 $Password
    ClearErrors
    ${GetOptions} $0 "/START" $1
    ${If} ${Errors}
    ${AndIf} ${Silent}
        StrCpy $StartService 0
    ${EndIf}
FunctionEnd

; The administrator's password, asked only where there are no accounts
; yet: an upgrade keeps the accounts it finds.
Function AdminPage
    ${If} ${FileExists} "$INSTDIR\uinfo.dat"
        Abort
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "管理员帐号" "请设置管理员(Administrator)的密码"
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 24u "网关的第一个帐号是管理员 Administrator。$\r$\n请输入它的密码(最多16个字节，一个汉字占两个)："
    ${NSD_CreateLabel} 0 30u 80u 12u "密码："
    ${NSD_CreatePassword} 85u 28u 150u 12u $Password
    Pop $PasswordField
    ${NSD_CreateLabel} 0 48u 80u 12u "确认密码："
    ${NSD_CreatePassword} 85u 46u 150u 12u $Password2
    Pop $Password2Field
    ${NSD_CreateCheckbox} 0 72u 100% 12u "安装完成后启动服务"
    Pop $StartBox
    ${NSD_SetState} $StartBox $StartService
    ${NSD_SetFocus} $PasswordField
    nsDialogs::Show
FunctionEnd

Function AdminPageLeave
    ${NSD_GetText} $PasswordField $Password
    ${NSD_GetText} $Password2Field $Password2
    ${NSD_GetState} $StartBox $StartService
    ${If} $Password == ""
        MessageBox MB_ICONEXCLAMATION "请输入管理员密码！"
        Abort
    ${EndIf}
    ${If} $Password != $Password2
        MessageBox MB_ICONEXCLAMATION "两次输入的密码不一致，请重新输入！"
        Abort
    ${EndIf}
FunctionEnd

Section "Install"
    ; Shortcuts for every user of the computer, as the service serves them all.
    SetShellVarContext all
    ; Checked before anything is copied: a first install without a password
    ; leaves the machine as it was.
    ${IfNot} ${FileExists} "$INSTDIR\uinfo.dat"
    ${AndIf} $Password == ""
        MessageBox MB_ICONSTOP "没有管理员密码：请用 /PASSWORD=密码 指定。" /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
    SetOutPath "$INSTDIR"
    ; The programs' message boxes become lines in this window's details:
    ; nobody is asked to click through them, and a silent install never
    ; waits on one.
    System::Call 'Kernel32::SetEnvironmentVariable(t "OVG_NO_DIALOGS", t "1")'
    ; An upgrade: a running gateway holds its files, so it is stopped first
    ; and started again afterwards.
    StrCpy $WasRunning 0
    ${If} ${FileExists} "$INSTDIR\OV_G.exe"
        nsExec::Exec '"$INSTDIR\ovadmin.exe" status'
        Pop $0
        ${If} $0 == 0
            StrCpy $WasRunning 1
        ${EndIf}
        DetailPrint "停止OV_Gateway服务..."
        nsExec::ExecToLog '"$INSTDIR\OV_G.exe" -end'
        Pop $0
        Sleep 1000
    ${EndIf}
    File "${BINDIR}\OV_G.exe"
    File "${BINDIR}\ovconsole.exe"
    File "${BINDIR}\ovsetup.dll"
    File "${BINDIR}\ovagentset.dll"
    File "${BINDIR}\ovhttp.dll"
    File "${BINDIR}\ovident.dll"
    File "${BINDIR}\ovadmin.exe"
    File "${BINDIR}\ovconnect.exe"
    File "${BINDIR}\ovannounce.exe"
    File "/oname=README.md" "${SRCDIR}\README.md"
    File "/oname=compatibility.md" "${SRCDIR}\docs\compatibility.md"

    ${IfNot} ${FileExists} "$INSTDIR\uinfo.dat"
        DetailPrint "建立管理员帐号..."
        nsExec::ExecToLog '"$INSTDIR\ovadmin.exe" init --admin-password "$Password"'
        Pop $0
        ${If} $0 != 0
            MessageBox MB_ICONSTOP "无法建立管理员帐号(ovadmin init 返回 $0)。" /SD IDOK
            SetErrorLevel 2
            Abort
        ${EndIf}
    ${EndIf}

    DetailPrint "安装OV_Gateway服务..."
    nsExec::ExecToLog '"$INSTDIR\OV_G.exe" -install'
    Pop $0
    ${If} $StartService == 1
    ${OrIf} $WasRunning == 1
        DetailPrint "启动OV_Gateway服务..."
        nsExec::ExecToLog '"$INSTDIR\OV_G.exe" -startup'
        Pop $0
    ${EndIf}

    WriteRegStr HKLM "${RUN_KEY}" "OVConsole" '"$INSTDIR\ovconsole.exe"'
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\OVG控制台.lnk" "$INSTDIR\ovconsole.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\说明.lnk" "$INSTDIR\README.md"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\卸载.lnk" "$INSTDIR\uninstall.exe"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ovconsole.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
!if ${ARCH} == "win64"
    SetRegView 64
!endif
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    System::Call 'Kernel32::SetEnvironmentVariable(t "OVG_NO_DIALOGS", t "1")'
    DetailPrint "停止并删除OV_Gateway服务..."
    nsExec::ExecToLog '"$INSTDIR\OV_G.exe" -remove'
    Pop $0
    Delete "$INSTDIR\OV_G.exe"
    Delete "$INSTDIR\ovconsole.exe"
    Delete "$INSTDIR\ovsetup.dll"
    Delete "$INSTDIR\ovagentset.dll"
    Delete "$INSTDIR\ovhttp.dll"
    Delete "$INSTDIR\ovident.dll"
    Delete "$INSTDIR\ovadmin.exe"
    Delete "$INSTDIR\ovconnect.exe"
    Delete "$INSTDIR\ovannounce.exe"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\compatibility.md"
    Delete "$INSTDIR\uninstall.exe"
    DeleteRegValue HKLM "${RUN_KEY}" "OVConsole"
    RMDir /r "$SMPROGRAMS\${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; The data are the administrator's: removed only on an explicit yes
    ; (a silent uninstall keeps them).
    MessageBox MB_YESNO|MB_ICONQUESTION "是否同时删除帐号、可信ID、配置和日志文件？" /SD IDNO IDNO keep
        Delete "$INSTDIR\uinfo.dat"
        Delete "$INSTDIR\TrustID.dat"
        Delete "$INSTDIR\OV_G.ini"
        Delete "$INSTDIR\OV_G.log"
        Delete "$INSTDIR\OV_G.log.bak"
        Delete "$INSTDIR\uinfo.dat.lock"
        Delete "$INSTDIR\TrustID.dat.lock"
    keep:
    RMDir "$INSTDIR"
SectionEnd
