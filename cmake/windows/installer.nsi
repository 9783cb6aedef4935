; QELZAV setup for 64-bit Windows: the program folder with qeladmin.exe, the
; empty tables (their index, journals and the upload lock file), made by
; `qeladmin.exe init` in the staging folder before this script runs.
;   makensis -DSTAGE=<folder> -DOUTFILE=<qelzav-setup.exe> -DVERSION=1.0 installer.nsi
;
; The program folder holds tables the desk writes, so it is not under
; Program Files (which standard accounts cannot write): the default is
; C:\QELZAV. Options, on the command line of a silent install (/S) too:
;   /D=<folder>          the program folder (last on the line, unquoted)
;   /DESK=<account>      the Windows account of the desk (e.g. HOTEL\frontdesk):
;                        it is given the right to change the folder's files
;   /TASK                with /DESK: the nightly upload as a scheduled task,
;                        run as that account (never SYSTEM); off by default
; Tables are installed as a set: only where none of them is there yet. Tables
; already in the folder are kept, and so is the login file: a reinstall never
; loses a record, and an empty index never lands beside a file log that has
; records.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!ifndef VERSION
  !define VERSION "1.0"
!endif
!ifndef STAGE
  !error "STAGE (the staging folder) must be given"
!endif
!ifndef OUTFILE
  !define OUTFILE "qelzav-setup.exe"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QELZAV"
!define TASK_NAME "QELZAV upload"

Name "QELZAV ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "C:\QELZAV"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Var Desk
Var Task

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DESK=" $Desk
  ${If} ${Errors}
    StrCpy $Desk ""
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/TASK" $R1
  ${IfNot} ${Errors}
    StrCpy $Task "1"
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "QELZAV"
  SetOutPath "$INSTDIR"
  File "${STAGE}\qeladmin.exe"
  File "/oname=qelzav-upload.cmd" "${STAGE}\qelzav-upload.cmd"

  ; The tables as a set: an index copied in beside an older file log would
  ; be trusted and list files already sent, so nothing of the set is added
  ; where any of it is there.
  ${If} ${FileExists} "$INSTDIR\ZAVSYS.DBF"
  ${OrIf} ${FileExists} "$INSTDIR\FILELOG.DBF"
  ${OrIf} ${FileExists} "$INSTDIR\UPLOG.DBF"
  ${OrIf} ${FileExists} "$INSTDIR\FileLog.CDX"
    DetailPrint "Tables found in $INSTDIR: kept as they are."
  ${Else}
    File "${STAGE}\ZAVSYS.DBF"
    File "${STAGE}\FILELOG.DBF"
    File "${STAGE}\UPLOG.DBF"
    File "${STAGE}\FileLog.CDX"
    File /nonfatal "${STAGE}\*.qzj"
  ${EndIf}
  ; The upload lock's file: the lock needs write access to it.
  ${IfNot} ${FileExists} "$INSTDIR\UPLOAD.LCK"
    File "${STAGE}\UPLOAD.LCK"
  ${EndIf}

  ; The desk account owns what it must write: the folder's files. The
  ; folder is then writable by that account, so nothing more privileged
  ; than that account may ever run a program from it (docs/security.md).
  ${If} $Desk != ""
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /grant "$Desk:(OI)(CI)M" /T /Q'
    Pop $0
    DetailPrint "icacls: $0"
  ${EndIf}
  ${If} $Task == "1"
    ${If} $Desk == ""
      DetailPrint "/TASK needs /DESK=<account>: no scheduled task made."
    ${Else}
      ; /NP: the task runs as the desk account without its password stored
      ; (local files only; an extract folder on a share needs /RP instead).
      nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /F /TN "${TASK_NAME}" /SC DAILY /ST 03:30 /RU "$Desk" /NP /RL LIMITED /TR "\"$INSTDIR\qelzav-upload.cmd\""'
      Pop $0
      DetailPrint "schtasks: $0"
    ${EndIf}
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Add/Remove Programs.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "QELZAV"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "QELZAV"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qeladmin.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The uninstaller removes the programs, the scheduled task and the entry,
; and leaves the tables, their journals, the lock file, the login file and
; the run's log: they hold what was sent, which the hotel may still need.
Section "Uninstall"
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /F /TN "${TASK_NAME}"'
  Pop $0
  Delete "$INSTDIR\qeladmin.exe"
  Delete "$INSTDIR\qelzav-upload.cmd"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  RMDir "$INSTDIR"
SectionEnd
