; The Tarv installer: both codecs, tarvy.dll (TRVY) and tarvr.dll (TRVR), for
; every program on the machine. 64-bit Windows gets the x64 DLLs in System32 and
; the x86 ones in SysWOW64, each registered in its own registry view; 32-bit
; Windows gets the x86 ones. Built by packaging/build-packages.sh from the DLLs
; of the zip: makensis -DVERSION=... -DX64_DIR=... -DX86_DIR=... -DLICENSE_FILE=...
; -DOUTFILE=... (LICENSE_FILE: the zip's LICENSE.txt, shown on the licence page)
;
; Exit codes: 0 installed; 3010 installed, a DLL in use is replaced at the next
; restart; 1 cancelled; 2 failed, with nothing registered by this run; 3 Windows
; too old; 740 no administrator rights.
Unicode true
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include WinVer.nsh
!include x64.nsh

!ifndef VERSION | X64_DIR | X86_DIR | LICENSE_FILE | OUTFILE
!error "define VERSION, X64_DIR, X86_DIR, LICENSE_FILE and OUTFILE"
!endif

!define PRODUCT "Tarv Lossless Video Codec"
!define DRIVERS "SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32"
!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarv"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Tarv"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey CompanyName "Tarv"
VIAddVersionKey FileDescription "${PRODUCT} setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey LegalCopyright "Copyright 2026 The Tarv developers. BSD 2-Clause licence"
LicenseData "${LICENSE_FILE}"

Page license
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Failed ; set when a step fails: the install stops, nothing is registered
Var Reboot ; set when a DLL in use waits for the next restart

; What every run checks first: the Windows version, and administrator rights.
!macro CheckMachine
    ${IfNot} ${AtLeastWin7}
        MessageBox MB_ICONSTOP "${PRODUCT} needs Windows 7 or later (7, 8, 8.1, 10 or 11)." /SD IDOK
        SetErrorLevel 3
        Quit
    ${EndIf}
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_ICONSTOP "${PRODUCT}: administrator rights are needed. Run the setup as administrator." /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}
    ; Both DLL folders by their own names, whatever the installer's own bitness.
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        SetRegView 64
        StrCpy $INSTDIR "$PROGRAMFILES64\Tarv"
    ${EndIf}
!macroend

Function .onInit
    !insertmacro CheckMachine
FunctionEnd

Function un.onInit
    !insertmacro CheckMachine
FunctionEnd

; Stage DLL from the package as FOLDER\DLL.new: nothing in use is touched yet.
!macro Stage SOURCE FOLDER DLL
    ClearErrors
    SetOutPath "${FOLDER}"
    File "/oname=${DLL}.new" "${SOURCE}\${DLL}"
    ${If} ${Errors}
        DetailPrint "Could not write ${FOLDER}\${DLL}."
        StrCpy $Failed 1
    ${EndIf}
!macroend

; Put FOLDER\DLL.new in place of FOLDER\DLL. A DLL that a program holds cannot
; go; its replacement waits for the next restart.
!macro Replace FOLDER DLL
    Delete "${FOLDER}\${DLL}"
    ${If} ${FileExists} "${FOLDER}\${DLL}"
        Rename /REBOOTOK "${FOLDER}\${DLL}.new" "${FOLDER}\${DLL}"
        DetailPrint "${FOLDER}\${DLL} is in use: it is replaced at the next restart."
        StrCpy $Reboot 1
    ${Else}
        Rename "${FOLDER}\${DLL}.new" "${FOLDER}\${DLL}"
    ${EndIf}
!macroend

!macro Register
    ClearErrors
    WriteRegStr HKLM "${DRIVERS}" "vidc.TRVY" "tarvy.dll"
    WriteRegStr HKLM "${DRIVERS}" "vidc.TRVR" "tarvr.dll"
    ${If} ${Errors}
        StrCpy $Failed 1
    ${EndIf}
!macroend

!macro Unregister
    DeleteRegValue HKLM "${DRIVERS}" "vidc.TRVY"
    DeleteRegValue HKLM "${DRIVERS}" "vidc.TRVR"
!macroend

; Both registry views on 64-bit Windows, the one view elsewhere.
!macro InEveryView MACRO
    ${If} ${RunningX64}
        SetRegView 32
        !insertmacro ${MACRO}
        SetRegView 64
    ${EndIf}
    !insertmacro ${MACRO}
!macroend

; The setup stops: exit code 2, and what this run staged is gone.
Function Fail
    Delete "$WINDIR\System32\tarv?.dll.new"
    Delete "$WINDIR\SysWOW64\tarv?.dll.new"
    MessageBox MB_ICONSTOP "${PRODUCT} could not be installed: see the details. Fix the problem and run the setup again." /SD IDOK
    SetErrorLevel 2
    Quit
FunctionEnd

Section "Codecs"
    StrCpy $Failed ""
    StrCpy $Reboot ""
    ; Every file first: when one cannot be written, the machine stays as it was,
    ; an earlier version included.
    ${If} ${RunningX64}
        !insertmacro Stage "${X64_DIR}" "$WINDIR\System32" tarvy.dll
        !insertmacro Stage "${X64_DIR}" "$WINDIR\System32" tarvr.dll
        !insertmacro Stage "${X86_DIR}" "$WINDIR\SysWOW64" tarvy.dll
        !insertmacro Stage "${X86_DIR}" "$WINDIR\SysWOW64" tarvr.dll
    ${Else}
        !insertmacro Stage "${X86_DIR}" "$WINDIR\System32" tarvy.dll
        !insertmacro Stage "${X86_DIR}" "$WINDIR\System32" tarvr.dll
    ${EndIf}
    ${If} $Failed != ""
        Call Fail
    ${EndIf}
    ClearErrors
    CreateDirectory "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ${If} ${Errors}
        DetailPrint "Could not write $INSTDIR\uninstall.exe."
        Call Fail
    ${EndIf}

    ${If} ${RunningX64}
        !insertmacro Replace "$WINDIR\System32" tarvy.dll
        !insertmacro Replace "$WINDIR\System32" tarvr.dll
        !insertmacro Replace "$WINDIR\SysWOW64" tarvy.dll
        !insertmacro Replace "$WINDIR\SysWOW64" tarvr.dll
    ${Else}
        !insertmacro Replace "$WINDIR\System32" tarvy.dll
        !insertmacro Replace "$WINDIR\System32" tarvr.dll
    ${EndIf}
    ; Registered only once every file is in place, and then in every view or
    ; none: a codec half registered is worse than none, so a failure here
    ; removes the installation whole.
    !insertmacro InEveryView Register
    ${If} $Failed != ""
        DetailPrint "Could not write the driver entries in HKLM\${DRIVERS}."
        Call Remove
        Call Fail
    ${EndIf}

    ; "Apps and features".
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    ${If} ${RunningX64}
        ${GetSize} "$WINDIR\System32" "/M=tarv?.dll /S=0K /G=0" $1 $2 $3
        IntOp $0 $0 + $1
    ${EndIf}
    ${GetSize} "$WINDIR\SysWOW64" "/M=tarv?.dll /S=0K /G=0" $1 $2 $3
    IntOp $0 $0 + $1
    WriteRegStr HKLM "${UNINSTALL}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL}" "Publisher" "Tarv"
    WriteRegStr HKLM "${UNINSTALL}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL}" "EstimatedSize" $0
    WriteRegDWORD HKLM "${UNINSTALL}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL}" "NoRepair" 1

    ${If} $Reboot != ""
        SetRebootFlag true
        MessageBox MB_ICONINFORMATION "A program is using the codec: the new version takes its place at the next restart." /SD IDOK
        SetErrorLevel 3010
    ${EndIf}
SectionEnd

; Everything the setup put on the machine, and nothing else.
!macro Remove UN
Function ${UN}Remove
    !insertmacro InEveryView Unregister
    ${If} ${RunningX64}
        Delete /REBOOTOK "$WINDIR\SysWOW64\tarvy.dll"
        Delete /REBOOTOK "$WINDIR\SysWOW64\tarvr.dll"
    ${EndIf}
    Delete /REBOOTOK "$WINDIR\System32\tarvy.dll"
    Delete /REBOOTOK "$WINDIR\System32\tarvr.dll"
    DeleteRegKey HKLM "${UNINSTALL}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
FunctionEnd
!macroend
!insertmacro Remove ""
!insertmacro Remove "un."

Section "Uninstall"
    Call un.Remove
SectionEnd
