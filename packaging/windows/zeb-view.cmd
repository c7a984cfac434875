@echo off
rem zeb view in this console window; its page opens in the default browser as soon as it serves.
rem The Start-menu shortcut "Zeb view" runs this file. Saved image sets go to the user's Pictures\Zeb.
setlocal
set "ZEB_VIEW_URL=http://127.0.0.1:8177/"
if "%~1"=="--open-when-serving" goto open
if not exist "%USERPROFILE%\Pictures\Zeb" mkdir "%USERPROFILE%\Pictures\Zeb"
start "" /b cmd /c ""%~f0" --open-when-serving"
"%~dp0zeb.exe" view --port 8177 --out "%USERPROFILE%\Pictures\Zeb"
if errorlevel 1 pause
exit /b %errorlevel%

:open
rem Up to a minute for zeb view to serve (curl.exe ships with Windows 10 and later).
for /l %%n in (1,1,60) do (
  curl.exe -s -o nul "%ZEB_VIEW_URL%" && (start "" "%ZEB_VIEW_URL%" & exit /b 0)
  ping -n 2 127.0.0.1 >nul
)
exit /b 1
