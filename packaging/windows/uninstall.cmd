@echo off
rem Removes what install.cmd put in place: the vidc.TRVY and vidc.TRVR driver
rem entries in both registry views, then tarvy.dll and tarvr.dll. Run as
rem administrator. Removing what is already gone is not an error.
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
    echo Tarv: administrator rights are needed. Right-click uninstall.cmd and choose
    echo "Run as administrator".
    exit /b 1
)

set "key=HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32"
set "failed="
if exist "%SystemRoot%\SysWOW64\" (
    call :remove "%SystemRoot%\System32" /reg:64
    call :remove "%SystemRoot%\SysWOW64" /reg:32
) else (
    call :remove "%SystemRoot%\System32"
)
if defined failed (
    echo Tarv: not everything could be removed; see above. Close programs that use
    echo the codec and run uninstall.cmd again.
    exit /b 1
)
echo Tarv codecs removed.
exit /b 0

rem :remove FOLDER [VIEW] - unregisters first, so no entry outlives its DLL.
:remove
for %%n in (vidc.TRVY vidc.TRVR) do (
    reg query "%key%" /v %%n %2 >nul 2>&1
    if not errorlevel 1 (
        reg delete "%key%" /v %%n /f %2 >nul
        if errorlevel 1 (
            echo Tarv: could not remove %%n from %key% %2.
            set failed=1
        )
    )
)
rem del reports success even when a DLL in use stays, so look again.
for %%f in (tarvy.dll tarvr.dll) do (
    if exist "%~1\%%f" del /f /q "%~1\%%f" >nul 2>&1
    if exist "%~1\%%f" (
        echo Tarv: could not delete %~1\%%f; close programs that use the codec.
        set failed=1
    )
)
exit /b 0
