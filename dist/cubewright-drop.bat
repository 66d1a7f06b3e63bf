@echo off
rem Drop model files on this file: each NAME.csv or NAME.vox becomes NAME.xml
rem beside it, each NAME.xml becomes NAME.vox. An existing output is only
rem replaced after you answer y. Every result is listed, and the window stays
rem open for a key. Paths are handled through variables and delayed
rem expansion only, so that blanks, parentheses, ampersands and carets in file
rem names stay plain text.
setlocal DisableDelayedExpansion
set "exe=%~dp0cubewright.exe"
set /a files=0
set /a failed=0

if not "%~1"=="" goto next
echo Drop one or more model files (NAME.csv, NAME.vox or NAME.xml) on cubewright-drop.bat:
echo each one is converted beside itself, NAME.csv and NAME.vox to NAME.xml, NAME.xml to NAME.vox.
goto wait

:next
if "%~1"=="" goto summary
set "input=%~f1"
set /a files+=1
"%exe%" --each --ask -- "%input%"
if errorlevel 1 set /a failed+=1
shift
goto next

:summary
echo.
echo %files% dropped, %failed% failed.

:wait
echo.
pause
if %failed% neq 0 exit /b 1
exit /b 0
