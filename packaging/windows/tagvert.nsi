; Tagvert: the Windows installer, tagvert-<version>-setup.exe (NSIS 3, a 64-bit installer).
; SPDX-License-Identifier: Apache-2.0
;
; Built by the mingw64 preset's `installer` target (cmake/TagvertWindowsInstaller.cmake), which
; defines VERSION, OUTFILE, DLL64 and EXE64 (the 64-bit tagvert.dll and tagvert.exe) and, when
; the mingw32 preset has been built, DLL32 (the 32-bit tagvert.dll).
;
; It installs into "Program Files\Tagvert": tagvert.dll, registered with `tagvert.exe register`;
; tagvert.exe; the 32-bit DLL in x86\, registered by the platform's 32-bit regsvr32 wherever the
; platform runs 32-bit programs (elsewhere it is left out); and uninstall.exe, entered under
; Programs and Features. The section "tagvert on PATH" (on unless /NOPATH is given) appends the
; folder to the system PATH. The uninstaller unregisters both DLLs and removes the files, the
; PATH entry it added and its own registry key. Silent: setup.exe /S [/NOPATH] [/D=folder] and
; uninstall.exe /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include WinMessages.nsh

${StrStr}
${UnStrStr}

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tagvert"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define KERNEL_KEY "SOFTWARE\Orvel Labs"
!define CONVERTERS_KEY "${KERNEL_KEY}\Lexcore\Internal Format\Converters"

; Registration enters the converter into the kernel's converter list and keeps the list's keys
; when unregistering (they are the kernel's). On a machine without the kernel it creates them:
; the installer records, as the value VALUE of its key, how many levels of that path were
; missing in the current registry view (4: all, from "Orvel Labs" down), and the uninstaller
; removes those levels again where they are empty.
!macro RecordKernelKeys VALUE
  StrCpy $3 0
  ClearErrors
  EnumRegKey $2 HKLM "${CONVERTERS_KEY}" 0
  ${If} ${Errors}
    StrCpy $3 1
    ClearErrors
    EnumRegKey $2 HKLM "${KERNEL_KEY}\Lexcore\Internal Format" 0
    ${If} ${Errors}
      StrCpy $3 2
      ClearErrors
      EnumRegKey $2 HKLM "${KERNEL_KEY}\Lexcore" 0
      ${If} ${Errors}
        StrCpy $3 3
        ClearErrors
        EnumRegKey $2 HKLM "${KERNEL_KEY}" 0
        ${If} ${Errors}
          StrCpy $3 4
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${EndIf}
  SetRegView 64
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" ${VALUE} $3
!macroend

!macro RemoveKernelKeys VALUE
  SetRegView 64
  ClearErrors
  ReadRegDWORD $3 HKLM "${UNINSTALL_KEY}" ${VALUE}
  ${IfNot} ${Errors}
    !if ${VALUE} == KernelKeys32
      SetRegView 32
    !endif
    ${If} $3 >= 1
      DeleteRegKey /ifempty HKLM "${CONVERTERS_KEY}"
    ${EndIf}
    ${If} $3 >= 2
      DeleteRegKey /ifempty HKLM "${KERNEL_KEY}\Lexcore\Internal Format"
    ${EndIf}
    ${If} $3 >= 3
      DeleteRegKey /ifempty HKLM "${KERNEL_KEY}\Lexcore"
    ${EndIf}
    ${If} $3 >= 4
      DeleteRegKey /ifempty HKLM "${KERNEL_KEY}"
    ${EndIf}
    SetRegView 64
  ${EndIf}
!macroend

Name "Tagvert ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tagvert"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "Tagvert"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "Tagvert ${VERSION} setup"
VIAddVersionKey LegalCopyright "The Tagvert developers"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Tagvert: the converter (COM server) and the tagvert command" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=tagvert.dll" "${DLL64}"
  File "/oname=tagvert.exe" "${EXE64}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "Tagvert ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "The Tagvert developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1

  ; The same registration as regsvr32, with the cause in one sentence when it fails.
  !insertmacro RecordKernelKeys KernelKeys64
  nsExec::ExecToLog '"$INSTDIR\tagvert.exe" register "$INSTDIR\tagvert.dll"'
  Pop $0
  ${If} $0 != 0
    Abort "Registering $INSTDIR\tagvert.dll failed ($0); the uninstaller removes what was copied."
  ${EndIf}

!ifdef DLL32
  ; 32-bit hosts load the 32-bit DLL, registered in the platform's 32-bit registry view by its
  ; 32-bit regsvr32. A platform that cannot start that program runs no 32-bit hosts.
  ${If} ${FileExists} "$WINDIR\SysWOW64\regsvr32.exe"
    SetOutPath "$INSTDIR\x86"
    File "/oname=tagvert.dll" "${DLL32}"
    SetOutPath "$INSTDIR"
    SetRegView 32
    !insertmacro RecordKernelKeys KernelKeys32
    nsExec::ExecToLog '"$WINDIR\SysWOW64\regsvr32.exe" /s "$INSTDIR\x86\tagvert.dll"'
    Pop $0
    ${If} $0 == "error"
      DetailPrint "This system starts no 32-bit programs: the 32-bit DLL is not installed."
      Delete "$INSTDIR\x86\tagvert.dll"
      RMDir "$INSTDIR\x86"
      DeleteRegValue HKLM "${UNINSTALL_KEY}" KernelKeys32
    ${ElseIf} $0 != 0
      Abort "Registering $INSTDIR\x86\tagvert.dll failed ($0); the uninstaller removes what was copied."
    ${EndIf}
  ${EndIf}
!endif
SectionEnd

; Appends the folder to the system PATH unless it is there already, and records exactly what it
; appended, so that the uninstaller takes away that and nothing else.
Section "tagvert on PATH (for all users)" SecPath
  ClearErrors
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" Path
  ${If} ${Errors}
    DetailPrint "There is no system PATH to add $INSTDIR to."
    Return
  ${EndIf}
  ${StrStr} $1 ";$0;" ";$INSTDIR;"
  ${If} $1 != ""
    DetailPrint "$INSTDIR is on the PATH already."
    Return
  ${EndIf}
  StrCpy $1 ";$INSTDIR"
  StrCpy $2 $0 1 -1
  ${If} $0 == ""
  ${OrIf} $2 == ";"
    StrCpy $1 "$INSTDIR"
  ${EndIf}
  StrLen $2 "$0$1"
  ; Strings here hold at most 1023 characters: a longer PATH would be cut, so it stays as it is.
  ${If} $2 > 1000
    DetailPrint "The system PATH is too long to change here: add $INSTDIR to it by hand."
    Return
  ${EndIf}
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" Path "$0$1"
  WriteRegStr HKLM "${UNINSTALL_KEY}" PathEntry "$1"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
SectionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOPATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ${If} ${FileExists} "$INSTDIR\x86\tagvert.dll"
    nsExec::ExecToLog '"$WINDIR\SysWOW64\regsvr32.exe" /u /s "$INSTDIR\x86\tagvert.dll"'
    Pop $0
    Delete "$INSTDIR\x86\tagvert.dll"
    RMDir "$INSTDIR\x86"
  ${EndIf}
  nsExec::ExecToLog '"$INSTDIR\tagvert.exe" unregister "$INSTDIR\tagvert.dll"'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Unregistering $INSTDIR\tagvert.dll failed ($0)."
  ${EndIf}
  !insertmacro RemoveKernelKeys KernelKeys32
  !insertmacro RemoveKernelKeys KernelKeys64
  Delete "$INSTDIR\tagvert.dll"
  Delete "$INSTDIR\tagvert.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder goes: files someone else put there stay.
  RMDir "$INSTDIR"

  ; The PATH entry the installer appended: cut from the end where it still is, else taken out
  ; of the middle.
  ClearErrors
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" PathEntry
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" Path
  ${IfNot} ${Errors}
  ${AndIf} $1 != ""
    StrLen $2 $1
    StrLen $3 $0
    StrCpy $4 $0 "" -$2
    ${If} $4 == $1
      IntOp $3 $3 - $2
      StrCpy $0 $0 $3
    ${Else}
      ${UnStrStr} $4 ";$0;" ";$INSTDIR;"
      ${If} $4 != ""
        StrLen $5 $4
        IntOp $3 $3 + 2
        IntOp $3 $3 - $5
        StrCpy $6 ";$0;" $3
        StrLen $5 ";$INSTDIR"
        StrCpy $4 $4 "" $5
        StrCpy $0 "$6$4" "" 1
        StrCpy $0 $0 -1
      ${EndIf}
    ${EndIf}
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" Path $0
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
