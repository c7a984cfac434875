; The Windows installer of Zeb: the plug-in DLL where the vision application loads its drivers,
; zeb.exe, the documentation and the licence; an "Apps & features" entry, an optional Start-menu
; shortcut to zeb view and an optional PATH entry. Built by scripts/package.sh with makensis, which
; passes the defines below (docs/install.md lists the switches and exit codes).
;
;   VERSION        the product's version, "26.1.0.564"
;   VERSION_NUMBERS the same, four numbers with dots (for VIProductVersion)
;   COMPANY, PRODUCT, COPYRIGHT  the texts of the version resources
;   STAGE          folder holding Tamo.Morvane.Zeb.dll, zeb.exe, zeb_host.dll and .h, LICENSE.txt, zeb-view.cmd and doc\
;   OUTFILE        the installer to write
;   SIGN           optional: a command that signs the file named by its one argument

Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be written stops the install (Retry or Cancel), never skipped.
AllowSkipFiles off

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"
!include "StrFunc.nsh"
!include "x64.nsh"
!include "WinMessages.nsh"

${StrStr}
${UnStrRep}

!define PLUGIN "Tamo.Morvane.Zeb.dll"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zeb"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define SETTINGS_FOLDER "$COMMONPROGRAMDATA\Brelan\Tamo.Morvane.Zeb"
!define SHORTCUT "$SMPROGRAMS\Zeb view.lnk"

; Exit codes besides NSIS's own (0 done, 1 cancelled by the user, 2 aborted).
!define EXIT_DOWNGRADE 3
!define EXIT_IN_USE 4
!define EXIT_BAD_SWITCH 5
!define EXIT_NOT_64BIT 6

; NSIS's strings hold NSIS_MAX_STRLEN characters: a longer PATH would be cut when written back, so
; the PATH is changed only while it and the entry fit with room to spare.
!define /math PATH_LIMIT ${NSIS_MAX_STRLEN} - 300

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${COMPANY}\${PRODUCT}"
; An upgrade installs where the installed version is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${COMPANY} ${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_NUMBERS}"
VIFileVersion "${VERSION_NUMBERS}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "OriginalFilename" "Zeb-${VERSION}-win64-setup.exe"

!ifdef SIGN
  ; The uninstaller is written at build time and signed before it is packed into the installer;
  ; the installer is signed once written.
  !uninstfinalize '"${SIGN}" "%1"'
  !finalize '"${SIGN}" "%1"'
!endif

Var DriversFolder ; where the plug-in goes: the folder the vision application loads drivers from
Var InstalledVersion

!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
; The second folder page: where the vision application looks for its drivers.
!define MUI_PAGE_HEADER_TEXT "Drivers folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where the vision application loads its camera drivers from."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup puts the plug-in ${PLUGIN} in this folder. Choose the folder your vision application loads its drivers from; keep the installation folder to have the plug-in beside zeb.exe, where zeb finds it without options."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Drivers folder"
!define MUI_DIRECTORYPAGE_VARIABLE $DriversFolder
!define MUI_PAGE_CUSTOMFUNCTION_PRE DriversPagePre
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------------------------
; Shared by the installer and the uninstaller.

; Whether a program holds the file (a loaded DLL or a running exe cannot be opened for writing):
; pushes 1 when it does, 0 when the file is free or missing.
!macro ZEB_FILE_IN_USE_FUNCTION prefix
Function ${prefix}FileInUse
  Exch $0
  Push $1
  StrCpy $1 0
  ${If} ${FileExists} "$0"
    ClearErrors
    FileOpen $0 "$0" a
    ${If} ${Errors}
      StrCpy $1 1
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
  StrCpy $0 $1
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro ZEB_FILE_IN_USE_FUNCTION ""
!insertmacro ZEB_FILE_IN_USE_FUNCTION "un."

; Waits until neither the plug-in nor zeb.exe (pushed in that order) is held by a program, asking
; the user to close it (Retry) or to stop (Cancel). Silent: stops at once. Stopping quits with
; EXIT_IN_USE before anything is replaced or removed.
!macro ZEB_WAIT_UNTIL_FREE_FUNCTION prefix
Function ${prefix}WaitUntilFree
  Pop $R9
  Pop $R8
  check:
    StrCpy $R7 $R8
    Push $R8
    Call ${prefix}FileInUse
    Pop $R6
    StrCmp $R6 1 in_use
    StrCpy $R7 $R9
    Push $R9
    Call ${prefix}FileInUse
    Pop $R6
    StrCmp $R6 1 in_use
    Return
  in_use:
    DetailPrint "in use by another program: $R7"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$R7 is in use by another program (a vision application or zeb).$\r$\n$\r$\nClose it, then choose Retry. Cancel leaves the installed files as they are." /SD IDCANCEL IDRETRY check
    SetErrorLevel ${EXIT_IN_USE}
    Quit
FunctionEnd
!macroend
!insertmacro ZEB_WAIT_UNTIL_FREE_FUNCTION ""
!insertmacro ZEB_WAIT_UNTIL_FREE_FUNCTION "un."

!macro ZEB_WAIT_UNTIL_FREE prefix plugin exe
  Push "${plugin}"
  Push "${exe}"
  Call ${prefix}WaitUntilFree
!macroend

; ---------------------------------------------------------------------------------------------
; The installer.

Function .onInit
  SetRegView 64
  SetShellVarContext all
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Zeb needs 64-bit Windows." /SD IDOK
    SetErrorLevel ${EXIT_NOT_64BIT}
    Quit
  ${EndIf}

  ; /DRIVERS=<folder>: the drivers folder of a silent install (default: the installation folder).
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/DRIVERS=" $1
  ${IfNot} ${Errors}
    ${If} $1 == ""
      MessageBox MB_ICONSTOP "/DRIVERS= needs a folder: /DRIVERS=D:\Vision\Drivers" /SD IDOK
      SetErrorLevel ${EXIT_BAD_SWITCH}
      Quit
    ${EndIf}
    StrCpy $DriversFolder $1
  ${Else}
    ReadRegStr $DriversFolder HKLM "${UNINSTALL_KEY}" "DriversFolder"
  ${EndIf}
  ; /NOSHORTCUT and /NOPATH leave out the Start-menu shortcut and the PATH entry.
  ClearErrors
  ${GetOptions} $0 "/NOSHORTCUT" $1
  ${IfNot} ${Errors}
    SectionSetFlags 1 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NOPATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags 2 0
  ${EndIf}

  ; A newer version installed: ask before going back (silent: refuse, unless /ALLOWDOWNGRADE).
  ReadRegStr $InstalledVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $InstalledVersion != ""
    ${VersionCompare} "$InstalledVersion" "${VERSION}" $1
    ${If} $1 == 1
      ClearErrors
      ${GetOptions} $0 "/ALLOWDOWNGRADE" $2
      ${If} ${Errors}
        MessageBox MB_YESNO|MB_ICONQUESTION "Zeb $InstalledVersion is installed, newer than this setup's ${VERSION}.$\r$\n$\r$\nReplace it with the older version?" /SD IDNO IDYES downgrade
        SetErrorLevel ${EXIT_DOWNGRADE}
        Quit
        downgrade:
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function DriversPagePre
  ${If} $DriversFolder == ""
    StrCpy $DriversFolder $INSTDIR
  ${EndIf}
FunctionEnd

Section "Zeb (required)" SecProgram
  SectionIn RO
  ${If} $DriversFolder == ""
    StrCpy $DriversFolder $INSTDIR
  ${EndIf}
  ; Where the installed version put its plug-in, if elsewhere, is checked too: it is replaced.
  ReadRegStr $R6 HKLM "${UNINSTALL_KEY}" "DriversFolder"
  ${If} $R6 != ""
  ${AndIf} $R6 != $DriversFolder
    !insertmacro ZEB_WAIT_UNTIL_FREE "" "$R6\${PLUGIN}" "$INSTDIR\zeb.exe"
  ${EndIf}
  !insertmacro ZEB_WAIT_UNTIL_FREE "" "$DriversFolder\${PLUGIN}" "$INSTDIR\zeb.exe"

  ${If} $R6 != ""
  ${AndIf} $R6 != $DriversFolder
    Delete "$R6\${PLUGIN}"
  ${EndIf}
  SetOutPath "$DriversFolder"
  File "${STAGE}/${PLUGIN}"
  SetOutPath "$INSTDIR"
  File "${STAGE}/zeb.exe"
  File "${STAGE}/zeb_host.dll"
  File "${STAGE}/zeb_host.h"
  File "${STAGE}/zeb-view.cmd"
  File "${STAGE}/LICENSE.txt"
  SetOutPath "$INSTDIR\doc"
  File /r "${STAGE}/doc/*.*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} camera-driver plug-in"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DriversFolder" "$DriversFolder"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zeb.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${If} $DriversFolder != $INSTDIR
    ${GetSize} "$DriversFolder" "/M=${PLUGIN} /S=0K /G=0" $3 $1 $2
    IntOp $0 $0 + $3
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start-menu shortcut to zeb view" SecShortcut
  ; zeb view in a console window; its page opens in the browser once it serves.
  CreateShortcut "${SHORTCUT}" "$INSTDIR\zeb-view.cmd" "" "$INSTDIR\zeb.exe" 0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "StartMenuShortcut" 1
SectionEnd

Section "Add zeb.exe to the PATH" SecPath
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrLen $1 $0
  ; A PATH as long as NSIS's strings would be cut when written back: left as it is.
  ${If} $1 >= ${PATH_LIMIT}
    DetailPrint "PATH is too long to change safely; zeb.exe was not added to it"
    MessageBox MB_ICONEXCLAMATION "The system PATH is too long to change safely; zeb.exe was not added to it." /SD IDOK
    Return
  ${EndIf}
  ${StrStr} $2 ";$0;" ";$INSTDIR;"
  ${If} $2 == ""
    ${If} $0 == ""
      StrCpy $0 "$INSTDIR"
    ${Else}
      StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "PathEntry" "$INSTDIR"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  ${EndIf}
SectionEnd

LangString DESC_SecProgram ${LANG_ENGLISH} "The plug-in, zeb.exe, the C library zeb_host for Python and C hosts, the documentation and the licence."
LangString DESC_SecShortcut ${LANG_ENGLISH} "A Start-menu entry that starts zeb view and opens it in the browser."
LangString DESC_SecPath ${LANG_ENGLISH} "Adds the installation folder to the system PATH, so that zeb runs from any console."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_SecProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecShortcut} $(DESC_SecShortcut)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} $(DESC_SecPath)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; ---------------------------------------------------------------------------------------------
; The uninstaller: removes what the installer wrote, as its registry entry records it.

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  ; /REMOVESETTINGS: a silent uninstall removes the settings file and the log too.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    SectionSetFlags 1 ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section "un.Zeb" UnSecProgram
  SectionIn RO
  ReadRegStr $DriversFolder HKLM "${UNINSTALL_KEY}" "DriversFolder"
  ${If} $DriversFolder == ""
    StrCpy $DriversFolder $INSTDIR
  ${EndIf}
  !insertmacro ZEB_WAIT_UNTIL_FREE "un." "$DriversFolder\${PLUGIN}" "$INSTDIR\zeb.exe"

  Delete "$DriversFolder\${PLUGIN}"
  Delete "$INSTDIR\zeb.exe"
  Delete "$INSTDIR\zeb_host.dll"
  Delete "$INSTDIR\zeb_host.h"
  Delete "$INSTDIR\zeb-view.cmd"
  Delete "$INSTDIR\LICENSE.txt"
  !include "${STAGE}/uninstall-docs.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${COMPANY}"

  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "StartMenuShortcut"
  ${If} $0 == 1
    Delete "${SHORTCUT}"
  ${EndIf}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "PathEntry"
  ${If} $0 != ""
    ReadRegStr $1 HKLM "${ENVIRONMENT_KEY}" "Path"
    StrLen $2 $1
    ${If} $2 < ${PATH_LIMIT}
      ; The entry as the installer appended it, wherever it stands now.
      ${UnStrRep} $1 ";$1;" ";$0;" ";"
      StrCpy $1 $1 "" 1
      StrCpy $1 $1 -1
      WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$1"
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${Else}
      DetailPrint "PATH is too long to change safely: remove $0 from it by hand"
    ${EndIf}
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Also remove settings and logs" UnSecSettings
  ; The log file the settings name (the plug-in's rules: a folder alone gets Tamo.Morvane.Zeb.log,
  ; a name without extension gets .log), else the framework's default log.
  ReadINIStr $0 "${SETTINGS_FOLDER}\Config.conf" "Log" "LogPath"
  ${If} $0 == ""
    StrCpy $0 "$COMMONPROGRAMDATA\Tamo\Log\Tamo.log"
  ${Else}
    StrCpy $1 $0 1 -1
    ${If} $1 == "\"
    ${OrIf} $1 == "/"
      StrCpy $0 "$0Tamo.Morvane.Zeb.log"
    ${Else}
      ${GetFileExt} "$0" $1
      ${If} $1 == ""
        StrCpy $0 "$0.log"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Delete "$0"
  RMDir /r "${SETTINGS_FOLDER}"
  RMDir "$COMMONPROGRAMDATA\Brelan"
SectionEnd

LangString DESC_UnSecProgram ${LANG_ENGLISH} "The plug-in, zeb.exe, the documentation, the shortcut and the PATH entry."
LangString DESC_UnSecSettings ${LANG_ENGLISH} "Also the plug-in's settings file (Config.conf) and its log; kept otherwise, for a later install."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} $(DESC_UnSecProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} $(DESC_UnSecSettings)
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
