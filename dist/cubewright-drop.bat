@echo off
rem Drop model files on this file: each NAME.csv or NAME.vox becomes NAME.xml
rem beside it. Every result is listed, and the window stays open for a key.
rem Paths are handled through variables and delayed expansion only, so that
rem blanks, parentheses, ampersands and carets in file names stay plain text.
setlocal DisableDelayedExpansion
set "exe=%~dp0cubewright.exe"
set /a converted=0
set /a failed=0

if not "%~1"=="" goto next
echo Drop one or more model files (NAME.csv or NAME.vox) on cubewright-drop.bat:
echo each one becomes NAME.xml in the same folder.
goto wait

:next
if "%~1"=="" goto summary
set "input=%~f1"
set "output=%~dpn1.xml"
"%exe%" "%input%" "%output%"
if errorlevel 1 goto failure
set /a converted+=1
set "result=converted"
goto report
:failure
set /a failed+=1
set "result=FAILED   "
:report
setlocal EnableDelayedExpansion
echo !result! !input!
if "!result!"=="converted" echo           to !output!
endlocal
shift
goto next

:summary
echo.
echo %converted% converted, %failed% failed.

:wait
echo.
pause
if %failed% neq 0 exit /b 1
exit /b 0
