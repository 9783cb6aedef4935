; QELZAV setup for Windows: the program folder with qeladmin.exe and the
; empty tables (their index and journals when present), made by
; `qeladmin.exe init` in the staging folder before this script runs.
;   makensis -DSTAGE=<folder> -DOUTFILE=<qelzav-setup.exe> -DVERSION=1.0 installer.nsi
; Tables already in the chosen folder are kept: a reinstall never loses a record.
Unicode true
SetCompressor /SOLID lzma
!ifndef VERSION
  !define VERSION "1.0"
!endif
!ifndef STAGE
  !error "STAGE (the staging folder) must be given"
!endif
!ifndef OUTFILE
  !define OUTFILE "qelzav-setup.exe"
!endif

Name "QELZAV ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\QELZAV"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "QELZAV"
  SetOutPath "$INSTDIR"
  File "${STAGE}\qeladmin.exe"
  ; The tables and their side files only where none are there yet.
  SetOverwrite off
  File "${STAGE}\ZAVSYS.DBF"
  File "${STAGE}\FILELOG.DBF"
  File "${STAGE}\UPLOG.DBF"
  File "${STAGE}\FileLog.CDX"
  File /nonfatal "${STAGE}\*.qzj"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd

; The uninstaller removes the programs and leaves the tables: they hold
; what was sent, which the hotel may still need.
Section "Uninstall"
  Delete "$INSTDIR\qeladmin.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
