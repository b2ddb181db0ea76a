@echo off
rem Installs the Tarv codecs for every program on this machine: tarvy.dll (FourCC
rem TRVY) and tarvr.dll (TRVR), 64-bit and 32-bit. Run as administrator from the
rem unpacked package, which holds x64\ and x86\ beside this file.
rem Only "if errorlevel" decides anything here: some cmd.exe lookalikes (Wine's)
rem run both sides of && and ||.
setlocal EnableExtensions

rem A 32-bit cmd.exe on 64-bit Windows sees SysWOW64 as System32 and the 32-bit
rem registry only, so hand over to the 64-bit one.
if not defined PROCESSOR_ARCHITEW6432 goto native
"%SystemRoot%\Sysnative\cmd.exe" /c ""%~f0""
exit /b
:native

rem fltmc needs administrator rights everywhere; Wine lacks it but runs net.
fltmc >nul 2>&1
if errorlevel 1 net session >nul 2>&1
if errorlevel 1 (
    echo Tarv: administrator rights are needed. Right-click install.cmd and choose
    echo "Run as administrator".
    exit /b 1
)

set "here=%~dp0"
set "key=HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32"
set "failed="
rem 64-bit Windows: 64-bit DLLs in System32, 32-bit ones in SysWOW64, each
rem registered in its own registry view. 32-bit Windows: x86 into System32.
if exist "%SystemRoot%\SysWOW64\" (
    call :check x64
    call :check x86
    if not defined failed call :place x64 "%SystemRoot%\System32" /reg:64
    if not defined failed call :place x86 "%SystemRoot%\SysWOW64" /reg:32
) else (
    call :check x86
    if not defined failed call :place x86 "%SystemRoot%\System32"
)
if defined failed (
    echo Tarv: installation failed. Fix the problem above and run install.cmd again,
    echo or run uninstall.cmd to remove what was installed.
    exit /b 1
)
echo Tarv codecs installed: TRVY (tarvy.dll) and TRVR (tarvr.dll).
exit /b 0

rem :check ARCH - the package holds both DLLs for ARCH.
:check
for %%f in (tarvy.dll tarvr.dll) do (
    if not exist "%here%%1\%%f" (
        echo Tarv: %1\%%f is missing; unpack the whole package.
        set failed=1
    )
)
exit /b 0

rem :place ARCH FOLDER [VIEW] - copies ARCH's DLLs into FOLDER, then registers
rem them, so the registry never names a DLL that is not there.
:place
for %%f in (tarvy.dll tarvr.dll) do (
    copy /y /b "%here%%1\%%f" "%~2\%%f" >nul
    if errorlevel 1 (
        echo Tarv: could not copy %%f to %~2; close programs that use the codec.
        set failed=1
        exit /b 1
    )
)
reg add "%key%" /v vidc.TRVY /t REG_SZ /d tarvy.dll /f %3 >nul
if errorlevel 1 goto register_failed
reg add "%key%" /v vidc.TRVR /t REG_SZ /d tarvr.dll /f %3 >nul
if errorlevel 1 goto register_failed
exit /b 0
:register_failed
echo Tarv: could not write the driver entries in %key% %3.
set failed=1
exit /b 1
