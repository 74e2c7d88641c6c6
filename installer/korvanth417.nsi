; Per-user installer of the KORVANTH417 mouse monitor. Needs no administrator rights: it installs
; the Windows folder under the user's local programs folder, adds a Start-menu entry, starts the
; monitor at logon (HKCU Run) and registers its uninstaller under "Apps & features" for this
; user only. tools/package.sh builds it:
;
;   makensis /DVERSION=1.0.0 /DFOLDER=<Windows folder> /DOUTFILE=<setup.exe> korvanth417.nsi
;
; The user's data is never touched: the profile records in the registry, the profile files in
; Documents, and a config.ini (the installation's settings) or KORVANTH417.EXE (the real
; configuration program) in the target folder that the installer did not write. The config.ini
; and the stand-in configuration program it writes are remembered by their size and time in the
; Uninstall key: a file that differs is not ours (the user edited the settings, or put the real
; program there since) and is neither replaced by an upgrade nor removed by the uninstaller.
; Silent mode: setup.exe /S, uninstall.exe /S.

!ifndef VERSION | FOLDER | OUTFILE
    !error "usage: makensis /DVERSION=x.y.z /DFOLDER=<Windows folder> /DOUTFILE=<setup.exe> korvanth417.nsi"
!endif

Unicode true
; The programs are 64-bit; a 64-bit installer also runs where no 32-bit subsystem is present.
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!define PRODUCT "KORVANTH417"
!define DISPLAY_NAME "KORVANTH417 Mouse Monitor"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KORVANTH417"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "KORVANTH417MON"
!define MONITOR_EXE "KORVANTH417MON.exe"
!define MONITOR_CLASS "TKORVANTH417MONMAIN"
!define CONFIG_PROGRAM "KORVANTH417.EXE"
!define SETTINGS_FILE "config.ini"
!define UNINSTALLER "uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\${DISPLAY_NAME}.lnk"
; How long a running monitor may take to end after WM_CLOSE, in milliseconds.
!define MONITOR_END_TIMEOUT 10000

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

; The files of the Windows folder: macros KorvInstallFiles and KorvRemoveFiles.
!tempfile FILE_LIST
!system 'sh "${__FILEDIR__}/list-files.sh" "${FOLDER}" "${FILE_LIST}"' = 0
!include "${FILE_LIST}"
!delfile "${FILE_LIST}"

Name "${DISPLAY_NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the earlier version went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${DISPLAY_NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${DISPLAY_NAME} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${FOLDER}/images/0409/icons/logo.ico"
!define MUI_UNICON "${FOLDER}/images/0409/icons/logo.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${MONITOR_EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "Start the monitor now"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var MonitorWasRunning ; 1 when a running monitor was ended before the files were replaced

; Ends a running monitor: WM_CLOSE to its window, then waits (bounded) until its process has
; ended, so that its files can be replaced or removed. Aborts, changing nothing, when it does not
; end. One copy for the installer and one ("un.") for the uninstaller.
!macro KorvDefineEndMonitor prefix
Function ${prefix}EndMonitor
    StrCpy $MonitorWasRunning 0
    FindWindow $0 "${MONITOR_CLASS}"
    ${If} $0 == 0
        Return
    ${EndIf}
    StrCpy $MonitorWasRunning 1
    DetailPrint "Ending the running monitor"
    ; The process, so that the wait covers its exit and not only its window (SYNCHRONIZE).
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${If} $2 != 0
        System::Call 'kernel32::WaitForSingleObject(p r2, i ${MONITOR_END_TIMEOUT})'
        System::Call 'kernel32::CloseHandle(p r2)'
    ${Else}
        ; Without a handle of the process: until its window has gone.
        ${For} $3 1 100
            FindWindow $0 "${MONITOR_CLASS}"
            ${IfThen} $0 == 0 ${|} ${ExitFor} ${|}
            Sleep 100
        ${Next}
    ${EndIf}
    FindWindow $0 "${MONITOR_CLASS}"
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONSTOP "The KORVANTH417 monitor did not end. End it from its tray \
            menu (Exit) and run this program again." /SD IDOK
        SetErrorLevel 2
        Abort "The running monitor did not end; nothing was changed."
    ${EndIf}
FunctionEnd
!macroend
!insertmacro KorvDefineEndMonitor ""
!insertmacro KorvDefineEndMonitor "un."

; $R0 = what identifies the file $R1 as the one the installer wrote: its size and last-write
; time, "SIZE:HIGH:LOW"; empty when it is missing or cannot be read. Changes $R2 to $R5. One copy
; for the installer and one for the uninstaller.
!macro KorvDefineFingerprint prefix
Function ${prefix}Fingerprint
    StrCpy $R0 ""
    ClearErrors
    GetFileTime $R1 $R2 $R3
    ${IfThen} ${Errors} ${|} Return ${|}
    FileOpen $R4 $R1 r
    ${IfThen} ${Errors} ${|} Return ${|}
    FileSeek $R4 0 END $R5
    FileClose $R4
    StrCpy $R0 "$R5:$R2:$R3"
FunctionEnd
!macroend
!insertmacro KorvDefineFingerprint ""
!insertmacro KorvDefineFingerprint "un."

; $0 = 1 when the file FILE in $INSTDIR is the one the installer wrote there: remembered in the
; Uninstall key (NAMEInstalled) with its fingerprint (NAMEFile), and unchanged since. A file that
; differs, or an installation that did not remember the fingerprint, is not ours: it is the
; user's (the real configuration program, settings the user edited).
!macro KorvIsOurFile prefix NAME FILE
    StrCpy $0 0
    ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "${NAME}Installed"
    ReadRegStr $2 HKCU "${UNINSTALL_KEY}" "${NAME}File"
    ${If} $1 == 1
    ${AndIf} $2 != ""
        StrCpy $R1 "$INSTDIR\${FILE}"
        Call ${prefix}Fingerprint
        ${IfThen} $R0 == $2 ${|} StrCpy $0 1 ${|}
    ${EndIf}
!macroend

; Installs FILE unless the one in $INSTDIR is not ours (see KorvIsOurFile): $0 = 1 and $R0 = its
; fingerprint when it installed it, else $0 = 0 and $R0 empty. KEPT is the detail line for a file
; that stays.
!macro KorvInstallUnlessUsers NAME FILE KEPT
    StrCpy $0 0
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 == $INSTDIR
        !insertmacro KorvIsOurFile "" "${NAME}" "${FILE}"
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\${FILE}"
    ${AndIf} $0 != 1
        DetailPrint "${KEPT}"
        StrCpy $R0 ""
    ${Else}
        File "${FOLDER}/${FILE}"
        StrCpy $0 1
        StrCpy $R1 "$INSTDIR\${FILE}"
        Call Fingerprint
    ${EndIf}
!macroend

; Records in the Uninstall key whether FILE was installed ($0) and its fingerprint ($R0).
!macro KorvRememberFile NAME
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "${NAME}Installed" $0
    ${If} $0 == 1
        WriteRegStr HKCU "${UNINSTALL_KEY}" "${NAME}File" $R0
    ${Else}
        DeleteRegValue HKCU "${UNINSTALL_KEY}" "${NAME}File"
    ${EndIf}
!macroend

; Removes FILE from $INSTDIR when it is the one the installer wrote (see KorvIsOurFile).
!macro KorvRemoveUnlessUsers NAME FILE KEPT
    !insertmacro KorvIsOurFile "un." "${NAME}" "${FILE}"
    ${If} $0 == 1
        Delete "$INSTDIR\${FILE}"
    ${ElseIf} ${FileExists} "$INSTDIR\${FILE}"
        DetailPrint "${KEPT}"
    ${EndIf}
!macroend

Section "Monitor" SecMonitor
    SectionIn RO
    Call EndMonitor

    !insertmacro KorvInstallFiles

    ; The installation's settings. A config.ini this installer wrote and nobody changed since is
    ; replaced by this version's. One the user changed holds the user's settings: it stays as it
    ; is, and no copy of the new default is put beside it (a key the file lacks takes its
    ; default in the programs).
    !insertmacro KorvInstallUnlessUsers "Settings" "${SETTINGS_FILE}" \
        "Keeping $INSTDIR\${SETTINGS_FILE}: the settings were changed since they were installed"
    StrCpy $4 $0
    StrCpy $7 $R0

    ; The stand-in configuration program ships only where no configuration program is: a
    ; KORVANTH417.EXE that is not the stand-in we installed is the real one and stays.
    !insertmacro KorvInstallUnlessUsers "StandIn" "${CONFIG_PROGRAM}" \
        "Keeping the configuration program already in $INSTDIR"

    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${MONITOR_EXE}" "" "$INSTDIR\${MONITOR_EXE}" 0
    WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${MONITOR_EXE}"'

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${MONITOR_EXE}",0'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    !insertmacro KorvRememberFile "StandIn"
    StrCpy $0 $4
    StrCpy $R0 $7
    !insertmacro KorvRememberFile "Settings"
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; A silent install (an update) brings back a monitor it ended; otherwise the finish page
    ; offers to start it, and it starts at the next logon anyway.
    ${If} ${Silent}
    ${AndIf} $MonitorWasRunning == 1
        Exec '"$INSTDIR\${MONITOR_EXE}"'
    ${EndIf}
SectionEnd

Section "Uninstall"
    Call un.EndMonitor

    !insertmacro KorvRemoveFiles
    !insertmacro KorvRemoveUnlessUsers "Settings" "${SETTINGS_FILE}" \
        "Keeping $INSTDIR\${SETTINGS_FILE}: the settings were changed since they were installed"
    !insertmacro KorvRemoveUnlessUsers "StandIn" "${CONFIG_PROGRAM}" \
        "Keeping the configuration program in $INSTDIR: not the stand-in installed"

    Delete "${SHORTCUT}"
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    Delete "$INSTDIR\${UNINSTALLER}"
    ; Only when empty: files that are not ours stay, and so does their folder.
    RMDir "$INSTDIR"
SectionEnd
