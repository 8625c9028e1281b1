@echo off
rem Sample shutdown script, run by keepd.exe when this computer is to be shut down: it records the
rem request in data\shutdown_requests.txt of the installation and in the Application event log,
rem then powers the computer off.
setlocal
set "here=%~dp0..\.."
if exist "%here%\data\" echo %DATE% %TIME%  shutdown requested: %*>>"%here%\data\shutdown_requests.txt"
eventcreate /T WARNING /ID 100 /L APPLICATION /SO lcldown /D "keepd requested a shutdown of this computer" >nul 2>&1
shutdown /s /t 0
