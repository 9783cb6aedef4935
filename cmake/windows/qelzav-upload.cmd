@echo off
rem The nightly upload of the program folder this file is in: the scheduled
rem task runs it as the desk account. The run's lines go to upload.log beside
rem it, and its exit status (docs/unattended.md) is the task's Last Result.
"%~dp0qeladmin.exe" upload "%~dp0." 2>> "%~dp0upload.log"
exit /b %ERRORLEVEL%
