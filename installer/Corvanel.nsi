; Corvanel's Windows installer: finds the editors that load Photoshop-compatible filters and
; puts the plug-in of each one's bitness where it looks, one copy per editor.
; makensis -DTARGET=x86-unicode -DVERSION=2.0.0.1 -DSTAGE=DIR -DOUTFILE=FILE Corvanel.nsi (STAGE holds x86/ and
; x64/, each with Corvanel.8bf and corvanel.exe, checked by stage.sh)
;
; Silent use: setup.exe /S [/SELECT=id,id,...] [/LOG=FILE] [/D=FOLDER]
;   ids: the editors found (their id is shown on the components page), folder (Corvanel's
;   own plug-in folder), command (corvanel.exe), path (corvanel.exe on PATH); without
;   /SELECT, every editor found and the command. Exit status 0, or 2 with the reason in FILE.
Unicode true
Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include TextFunc.nsh
!include x64.nsh
!include Sections.nsh
!include WinMessages.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvanel"
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define MANIFEST "Corvanel-files.txt"
!define NEW ".corvanel-new"
!define OLD ".corvanel-old"
!define SLOTS 12

Name "Corvanel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Tessory\Corvanel"
BrandingText "Tessory Corvanel ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}"
VIAddVersionKey ProductName "Corvanel"
VIAddVersionKey CompanyName "Tessory"
VIAddVersionKey LegalCopyright "Tessory"
VIAddVersionKey FileDescription "Corvanel ${VERSION} setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"

Var Bits        ; x64 on 64-bit Windows, else x86: the command's and Corvanel's own folder's
Var Editors     ; slots filled by the search
Var Shared64    ; slot of the shared Photoshop folder of each bitness, or 0
Var Shared32
Var Affinity    ; 1 when Affinity Photo is installed
Var Select      ; /SELECT=, or empty for the default choice
Var LogFile     ; /LOG=
Var OldDir      ; where an earlier install keeps its list of files, or empty
Var FinishText
Var DirStack    ; EnsureDir's work
Var Manifest    ; the new list of what is ours, open while it is written, else 0

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_WELCOMEPAGE_TEXT "This puts the Corvanel filter into the image editors it finds on this computer, each with the plug-in of its own bitness, and installs the command corvanel.exe.$\r$\n$\r$\nClose the editors before you go on: an editor that is running holds its plug-ins."
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_HEADER_TEXT "Where Corvanel goes"
!define MUI_PAGE_HEADER_SUBTEXT "Each editor found gets one Corvanel.8bf of its own bitness."
!define MUI_COMPONENTSPAGE_TEXT_TOP "The editors found on this computer, with the folder each one reads its plug-ins from. Corvanel's own folder is for editors that name their plug-in folders in their preferences."
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_DIRECTORYPAGE_TEXT_TOP "corvanel.exe, its plug-in, Corvanel's own plug-in folder and the uninstaller go into this folder."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "Corvanel is installed"
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_TEXT_LARGE
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The editors found fill these slots; the empty ones stay hidden.
!macro SLOT N
  Section "-editor ${N}" SecSlot${N}
    AddSize 370
  SectionEnd
!macroend
!insertmacro SLOT 1
!insertmacro SLOT 2
!insertmacro SLOT 3
!insertmacro SLOT 4
!insertmacro SLOT 5
!insertmacro SLOT 6
!insertmacro SLOT 7
!insertmacro SLOT 8
!insertmacro SLOT 9
!insertmacro SLOT 10
!insertmacro SLOT 11
!insertmacro SLOT 12

Section "Corvanel's own plug-in folder" SecFolder
  AddSize 370
SectionEnd
Section "corvanel.exe, the command" SecCommand
  AddSize 2600
SectionEnd
Section /o "Put corvanel.exe on PATH" SecPath
SectionEnd
Section "-install" SecInstall
  Call Install
SectionEnd

; ---- helpers -------------------------------------------------------------------------------

; $0 = an executable; $1 = x86, x64, or empty when it is not one, from its PE header.
Function PEBits
  StrCpy $1 ""
  ClearErrors
  FileOpen $2 "$0" r
  IfErrors done
  FileSeek $2 0x3C SET
  FileReadByte $2 $3
  FileReadByte $2 $0
  IntOp $0 $0 << 8
  IntOp $3 $3 | $0
  IntOp $3 $3 + 4
  FileSeek $2 $3 SET
  FileReadByte $2 $3
  FileReadByte $2 $0
  FileClose $2
  IntOp $0 $0 << 8
  IntOp $3 $3 | $0
  ${If} $3 = 0x14c
    StrCpy $1 x86
  ${ElseIf} $3 = 0x8664
    StrCpy $1 x64
  ${EndIf}
done:
FunctionEnd

; $0 without a trailing backslash.
Function TrimSlash
  StrCpy $1 $0 1 -1
  ${If} $1 == "\"
    StrCpy $0 $0 -1
  ${EndIf}
FunctionEnd

; A slot for: $R0 id, $R1 name, $R2 plug-in folder, $R3 bitness, $R4 1 for a Photoshop that
; also reads the shared folder. One slot per folder: two ways to one editor name the same.
Function AddEditor
  ${If} $Editors >= ${SLOTS}
    Return
  ${EndIf}
  StrCpy $9 1
  ${DoWhile} $9 <= $Editors
    ReadINIStr $8 "$PLUGINSDIR\editors.ini" $9 dir
    ${If} $8 == $R2
      Return
    ${EndIf}
    IntOp $9 $9 + 1
  ${Loop}
  IntOp $Editors $Editors + 1
  WriteINIStr "$PLUGINSDIR\editors.ini" $Editors id $R0
  WriteINIStr "$PLUGINSDIR\editors.ini" $Editors name $R1
  WriteINIStr "$PLUGINSDIR\editors.ini" $Editors dir $R2
  WriteINIStr "$PLUGINSDIR\editors.ini" $Editors bits $R3
  WriteINIStr "$PLUGINSDIR\editors.ini" $Editors cc $R4
FunctionEnd

; $R1 = "$R1 (64-bit)" or "(32-bit)" for bitness $1; $R0 = the id: the name with dashes.
Function NameAndId
  ${WordReplace} "$R1" " " "-" "+" $R0
  StrCpy $R0 "$R0-$1"
  ${If} $1 == x64
    StrCpy $R1 "$R1 (64-bit)"
  ${Else}
    StrCpy $R1 "$R1 (32-bit)"
  ${EndIf}
FunctionEnd

; A Photoshop installed in $5 (registry key $6, or empty when found by its folder).
Function AddPhotoshop
  StrCpy $0 $5
  Call TrimSlash
  StrCpy $5 $0
  IfFileExists "$5\Photoshop.exe" +2
  Return
  StrCpy $0 "$5\Photoshop.exe"
  Call PEBits
  ${If} $1 == ""
  ${OrIf} "$1$Bits" == "x64x86"
    Return
  ${EndIf}
  ; Photoshop CC (14.0, registry key 70.0) and every later version also read the shared
  ; folder; CS6 is 60.0, CS5 12.0.
  StrCpy $R4 0
  ${If} $6 != ""
    IntOp $2 $6 + 0
    ${IfThen} $2 >= 70 ${|} StrCpy $R4 1 ${|}
  ${EndIf}
  ClearErrors
  GetDLLVersion "$5\Photoshop.exe" $2 $3
  ${IfNot} ${Errors}
    IntOp $2 $2 >> 16
    ${IfThen} $2 >= 14 ${|} StrCpy $R4 1 ${|}
  ${EndIf}
  ${GetFileName} "$5" $R1
  Call NameAndId
  StrCpy $R2 "$5\Plug-ins"
  StrCpy $R3 $1
  Call AddEditor
  ${If} $R4 = 1
    ${IfThen} $1 == x64 ${|} StrCpy $Shared64 -1 ${|}
    ${IfThen} $1 == x86 ${|} StrCpy $Shared32 -1 ${|}
  ${EndIf}
FunctionEnd

; Every Photoshop under HKLM\SOFTWARE\Adobe\Photoshop\<version> ApplicationPath of the
; registry view set.
Function PhotoshopsInRegistry
  StrCpy $7 0
  ${Do}
    EnumRegKey $6 HKLM "SOFTWARE\Adobe\Photoshop" $7
    ${IfThen} $6 == "" ${|} ${ExitDo} ${|}
    ReadRegStr $5 HKLM "SOFTWARE\Adobe\Photoshop\$6" ApplicationPath
    ${If} $5 != ""
      Call AddPhotoshop
    ${EndIf}
    IntOp $7 $7 + 1
  ${Loop}
FunctionEnd

; Every Photoshop in a folder matching $R8 (a FindFirst pattern with its folder in $R7).
Function PhotoshopsInFolders
  FindFirst $R6 $R5 "$R7\$R8"
  ${DoWhile} $R5 != ""
    StrCpy $5 "$R7\$R5"
    StrCpy $6 ""
    Call AddPhotoshop
    FindNext $R6 $R5
  ${Loop}
  FindClose $R6
FunctionEnd

; An editor whose executable $R5 lies in folder $R7 or is registered under App Paths; its
; plug-ins in $R8 beside it; named $R1. $R9 = the bitness to use (empty: the executable's).
Function AddApp
  StrCpy $R6 ""
  ReadRegStr $R6 HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\$R5" ""
  ${If} $R6 != ""
    ${GetParent} "$R6" $R6
  ${EndIf}
  ${IfNot} ${FileExists} "$R6\$R5"
    StrCpy $R6 $R7
  ${EndIf}
  ${IfNot} ${FileExists} "$R6\$R5"
    Return
  ${EndIf}
  StrCpy $0 "$R6\$R5"
  Call PEBits
  ${If} $1 == ""
  ${OrIf} "$1$Bits" == "x64x86"
    Return
  ${EndIf}
  ${IfThen} $R9 != "" ${|} StrCpy $1 $R9 ${|}
  Push $R1
  Call NameAndId
  StrCpy $R2 "$R6\$R8"
  StrCpy $R3 $1
  StrCpy $R4 0
  Call AddEditor
  Pop $R1
FunctionEnd

; PaintShop Pro in each folder under $R7 matching $R8, its plug-ins in its Plugins folder.
Function PaintShopsIn
  FindFirst $R6 $R5 "$R7\$R8"
  ${DoWhile} $R5 != ""
    ${ForEach} $R4 1 2 + 1
      ${If} $R4 = 1
        StrCpy $0 "$R7\$R5\Corel PaintShop Pro.exe"
      ${Else}
        StrCpy $0 "$R7\$R5\Paint Shop Pro.exe"
      ${EndIf}
      ${If} ${FileExists} $0
        Call PEBits
        ${If} $1 != ""
        ${AndIfNot} "$1$Bits" == "x64x86"
          StrCpy $R1 $R5
          Push $R4
          Call NameAndId
          StrCpy $R2 "$R7\$R5\Plugins"
          StrCpy $R3 $1
          StrCpy $R4 0
          Call AddEditor
          Pop $R4
        ${EndIf}
      ${EndIf}
    ${Next}
    FindNext $R6 $R5
  ${Loop}
  FindClose $R6
FunctionEnd

; The shared folder of Photoshop CC of bitness $1 under Common Files $0, where one of those
; Photoshops was found ($2 = -1) or the folder exists. $2 = its slot, or 0.
Function AddShared
  ${If} $2 <> -1
  ${AndIfNot} ${FileExists} "$0\Adobe\Plug-Ins\CC\*.*"
    StrCpy $2 0
    Return
  ${EndIf}
  ; Named as an editor, so that its id reads Photoshop-shared-x64.
  StrCpy $R1 "Photoshop shared"
  Call NameAndId
  ${WordReplace} "$R1" "Photoshop shared" "Photoshop CC and later, shared folder" "+" $R1
  StrCpy $2 0
  StrCpy $R2 "$0\Adobe\Plug-Ins\CC"
  StrCpy $R3 $1
  StrCpy $R4 0
  StrCpy $3 $Editors
  Call AddEditor
  ${IfThen} $Editors > $3 ${|} StrCpy $2 $Editors ${|}
FunctionEnd

Function FindEditors
  StrCpy $Editors 0
  StrCpy $Shared64 0
  StrCpy $Shared32 0
  ${If} $Bits == x64
    SetRegView 64
    Call PhotoshopsInRegistry
  ${EndIf}
  SetRegView 32
  Call PhotoshopsInRegistry
  ${ForEach} $4 1 2 + 1
    ${If} $4 = 1
      StrCpy $R7 "$PROGRAMFILES64\Adobe"
    ${Else}
      StrCpy $R7 "$PROGRAMFILES32\Adobe"
    ${EndIf}
    StrCpy $R8 "Adobe Photoshop*"
    Call PhotoshopsInFolders
    StrCpy $R8 "Photoshop*"
    Call PhotoshopsInFolders
  ${Next}
  ${If} $Bits == x64
    StrCpy $0 $COMMONFILES64
    StrCpy $1 x64
    StrCpy $2 $Shared64
    Call AddShared
    StrCpy $Shared64 $2
  ${EndIf}
  ; A 32-bit Photoshop CC on 64-bit Windows reads the shared folder of 32-bit programs.
  StrCpy $0 $COMMONFILES32
  StrCpy $1 x86
  StrCpy $2 $Shared32
  ${If} $Bits == x64
  ${AndIf} $2 <> -1
    StrCpy $2 0
  ${Else}
    Call AddShared
  ${EndIf}
  StrCpy $Shared32 $2

  ${ForEach} $4 1 2 + 1
    ${If} $4 = 1
      SetRegView 64
      StrCpy $R5 i_view64.exe
      StrCpy $R7 "$PROGRAMFILES64\IrfanView"
    ${Else}
      SetRegView 32
      StrCpy $R5 i_view32.exe
      StrCpy $R7 "$PROGRAMFILES32\IrfanView"
    ${EndIf}
    ${If} $Bits == x64
    ${OrIf} $4 = 2
      StrCpy $R1 IrfanView
      StrCpy $R8 "Plugins\Adobe 8BF"
      StrCpy $R9 ""
      Call AddApp
    ${EndIf}
  ${Next}
  ; Paint.NET loads 8bf filters through its PSFilterPdn effect, from its Effects folder and
  ; the folders below it, in either bitness; its executable says nothing about its own.
  SetRegView 64
  ${IfThen} $Bits == x86 ${|} SetRegView 32 ${|}
  StrCpy $R7 "$PROGRAMFILES64\Paint.NET"
  ReadRegStr $0 HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\PaintDotNet.exe" ""
  ${If} $0 != ""
    ${GetParent} "$0" $R7
  ${EndIf}
  ${If} ${FileExists} "$R7\Effects\PSFilterPdn.dll"
  ${OrIf} ${FileExists} "$R7\Effects\PSFilterPdn\*.dll"
    StrCpy $R5 PaintDotNet.exe
    StrCpy $R1 "Paint.NET"
    StrCpy $R8 "Effects\Corvanel"
    StrCpy $R9 $Bits
    Call AddApp
  ${EndIf}
  ${ForEach} $4 1 2 + 1
    ${If} $4 = 1
      StrCpy $R7 "$PROGRAMFILES64\Corel"
    ${Else}
      StrCpy $R7 "$PROGRAMFILES32\Corel"
    ${EndIf}
    StrCpy $R8 "*Paint*Shop Pro*"
    Call PaintShopsIn
    StrCpy $R7 "$PROGRAMFILES32\Jasc Software Inc"
  ${Next}
  ; Affinity Photo names its plug-in folders in its preferences only.
  StrCpy $Affinity 0
  FindFirst $0 $1 "$PROGRAMFILES64\Affinity\*Photo*"
  ${IfThen} $1 != "" ${|} StrCpy $Affinity 1 ${|}
  FindClose $0
  SetRegView 64
  ${IfThen} $Bits == x86 ${|} SetRegView 32 ${|}
FunctionEnd

; Whether id $0 is in /SELECT: $1 = 1 or 0.
Function Selected
  ${WordFind} ",$Select," ",$0," "E*" $1
  ${If} ${Errors}
    StrCpy $1 0
  ${Else}
    StrCpy $1 1
  ${EndIf}
FunctionEnd

; Section $2 chosen or not by /SELECT (id $0); without /SELECT its default stays.
Function ApplySelect
  ${If} $Select == ""
    Return
  ${EndIf}
  Call Selected
  ${If} $1 = 1
    !insertmacro SelectSection $2
  ${Else}
    !insertmacro UnselectSection $2
  ${EndIf}
FunctionEnd

Function Note  ; $R9: a line for the details and the log
  DetailPrint "$R9"
  ${If} $LogFile != ""
    Push $0
    FileOpen $0 $LogFile a
    FileSeek $0 0 END
    FileWrite $0 "$R9$\r$\n"
    FileClose $0
    Pop $0
  ${EndIf}
FunctionEnd

; $1 = 1 when the earlier install's list names file $0.
Function WasInstalled
  StrCpy $1 0
  ReadINIStr $5 "$PLUGINSDIR\list.ini" l nf
  ${For} $4 1 $5
    ReadINIStr $6 "$PLUGINSDIR\list.ini" l f$4
    ${IfThen} $6 == $0 ${|} StrCpy $1 1 ${|}
  ${Next}
FunctionEnd

; Upgrading without /SELECT keeps the earlier choices: slot $3 (section $2) is chosen if the
; earlier install put a file in its folder, or, for a Photoshop that reads the shared
; folder, in that folder.
Function KeepEarlier
  ${If} $OldDir == ""
  ${OrIf} $Select != ""
    Return
  ${EndIf}
  Push $0
  ReadINIStr $0 "$PLUGINSDIR\editors.ini" $3 dir
  StrCpy $0 "$0\Corvanel.8bf"
  Call WasInstalled
  ReadINIStr $7 "$PLUGINSDIR\editors.ini" $3 cc
  ${If} $1 = 0
  ${AndIf} $7 = 1
    ReadINIStr $7 "$PLUGINSDIR\editors.ini" $3 bits
    StrCpy $8 $Shared32
    ${IfThen} $7 == x64 ${|} StrCpy $8 $Shared64 ${|}
    ${If} $8 > 0
      ReadINIStr $0 "$PLUGINSDIR\editors.ini" $8 dir
      StrCpy $0 "$0\Corvanel.8bf"
      Call WasInstalled
    ${EndIf}
  ${EndIf}
  ${If} $1 = 0
    !insertmacro UnselectSection $2
  ${EndIf}
  Pop $0
FunctionEnd

Function Report  ; $R9: the message, to the log, the details and a message box
  Call Note
  MessageBox MB_OK|MB_ICONSTOP "$R9" /SD IDOK
FunctionEnd

; Ends the install before anything was changed, with message $R9.
Function FailEarly
  Call Report
  SetErrorLevel 2
  Quit
FunctionEnd

Function .onInit
  InitPluginsDir
  StrCpy $9 $INSTDIR  ; InstallDir, or what /D= said
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/SELECT=" $Select
  ClearErrors
  ${GetOptions} $0 "/LOG=" $LogFile
  ${If} ${RunningX64}
    StrCpy $Bits x64
    SetRegView 64
    StrCpy $INSTDIR "$PROGRAMFILES64\Tessory\Corvanel"
  ${Else}
    StrCpy $Bits x86
  ${EndIf}
  ; Installing again goes where the earlier install is, so that it is upgraded in place.
  ReadRegStr $OldDir HKLM "${UNINST_KEY}" InstallLocation
  StrCpy $0 "$OldDir\${MANIFEST}"
  Call ReadList
  ${If} $1 = 1
  ${AndIf} $OldDir != ""
    StrCpy $INSTDIR $OldDir
  ${Else}
    StrCpy $OldDir ""
  ${EndIf}
  ${If} $9 != "$PROGRAMFILES\Tessory\Corvanel"
    StrCpy $INSTDIR $9
  ${EndIf}
  ClearErrors
  Call FindEditors

  !macro SHOW_SLOT N
    ${If} ${N} <= $Editors
      ReadINIStr $0 "$PLUGINSDIR\editors.ini" ${N} name
      ReadINIStr $3 "$PLUGINSDIR\editors.ini" ${N} id
      SectionSetText ${SecSlot${N}} "$0"
      !insertmacro SelectSection ${SecSlot${N}}
      StrCpy $0 $3
      StrCpy $2 ${SecSlot${N}}
      StrCpy $3 ${N}
      Call KeepEarlier
      Call ApplySelect
    ${Else}
      SectionSetText ${SecSlot${N}} ""
      !insertmacro UnselectSection ${SecSlot${N}}
    ${EndIf}
  !macroend
  !insertmacro SHOW_SLOT 1
  !insertmacro SHOW_SLOT 2
  !insertmacro SHOW_SLOT 3
  !insertmacro SHOW_SLOT 4
  !insertmacro SHOW_SLOT 5
  !insertmacro SHOW_SLOT 6
  !insertmacro SHOW_SLOT 7
  !insertmacro SHOW_SLOT 8
  !insertmacro SHOW_SLOT 9
  !insertmacro SHOW_SLOT 10
  !insertmacro SHOW_SLOT 11
  !insertmacro SHOW_SLOT 12
  ${If} $Affinity = 1
  ${OrIf} $Editors = 0
    !insertmacro SelectSection ${SecFolder}
  ${Else}
    !insertmacro UnselectSection ${SecFolder}
  ${EndIf}
  ${If} $OldDir != ""
  ${AndIf} $Select == ""
    !insertmacro UnselectSection ${SecFolder}
    !insertmacro UnselectSection ${SecCommand}
    StrCpy $0 "$INSTDIR\Plug-ins\Corvanel.8bf"
    Call WasInstalled
    ${IfThen} $1 = 1 ${|} !insertmacro SelectSection ${SecFolder} ${|}
    StrCpy $0 "$INSTDIR\corvanel.exe"
    Call WasInstalled
    ${IfThen} $1 = 1 ${|} !insertmacro SelectSection ${SecCommand} ${|}
    ReadINIStr $0 "$PLUGINSDIR\list.ini" l path
    ${IfThen} $0 != "" ${|} !insertmacro SelectSection ${SecPath} ${|}
  ${EndIf}
  StrCpy $0 folder
  StrCpy $2 ${SecFolder}
  Call ApplySelect
  StrCpy $0 command
  StrCpy $2 ${SecCommand}
  Call ApplySelect
  StrCpy $0 path
  StrCpy $2 ${SecPath}
  Call ApplySelect

  ; Every id asked for must name a choice: a misspelt one would silently install less.
  StrCpy $4 1
  ${Do}
    ClearErrors
    ${WordFind} "$Select," "," "E+$4" $0
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
    StrCpy $1 0
    ${If} $0 == folder
    ${OrIf} $0 == command
    ${OrIf} $0 == path
      StrCpy $1 1
    ${EndIf}
    StrCpy $2 1
    ${DoWhile} $2 <= $Editors
      ReadINIStr $3 "$PLUGINSDIR\editors.ini" $2 id
      ${IfThen} $3 == $0 ${|} StrCpy $1 1 ${|}
      IntOp $2 $2 + 1
    ${Loop}
    ${If} $1 = 0
      StrCpy $R9 "Corvanel setup: $0 was asked for, but no such editor was found here. Nothing was changed."
      Call FailEarly
    ${EndIf}
    IntOp $4 $4 + 1
  ${Loop}

  ${If} $Editors = 0
    ${If} ${Silent}
    ${AndIf} $Select == ""
      StrCpy $R9 "Corvanel setup: no editor was found that loads Photoshop-compatible plug-ins from a folder of its own (Photoshop, IrfanView, PaintShop Pro, Paint.NET with PSFilterPdn). Nothing was changed. For an editor that names its plug-in folders in its preferences, run setup with /SELECT=folder,command."
      Call FailEarly
    ${EndIf}
    MessageBox MB_OK|MB_ICONINFORMATION "No editor was found that loads Photoshop-compatible plug-ins from a folder of its own (Photoshop, IrfanView, PaintShop Pro, Paint.NET with PSFilterPdn).$\r$\n$\r$\nCorvanel's own plug-in folder is chosen instead: an editor such as Affinity Photo reads it once you add it in the editor's preferences." /SD IDOK
  ${EndIf}
  ${If} $Bits == x86
    DetailPrint "32-bit Windows: the 32-bit plug-in and command only"
  ${EndIf}
FunctionEnd

; What a choice does, with its id for /SELECT, under the list as the mouse passes over it.
Function .onMouseOverSection
  StrCpy $1 ""
  ${If} $0 = ${SecFolder}
    StrCpy $1 "$INSTDIR\Plug-ins, for editors that name plug-in folders in their preferences, such as Affinity Photo. Id: folder"
  ${ElseIf} $0 = ${SecCommand}
    StrCpy $1 "corvanel.exe and its plug-in, into the folder of the next page. Id: command"
  ${ElseIf} $0 = ${SecPath}
    StrCpy $1 "Lets corvanel be started from any command prompt. Id: path"
  ${ElseIf} $0 >= ${SecSlot1}
  ${AndIf} $0 <= ${SecSlot12}
    IntOp $2 $0 - ${SecSlot1}
    IntOp $2 $2 + 1
    ReadINIStr $3 "$PLUGINSDIR\editors.ini" $2 dir
    ReadINIStr $4 "$PLUGINSDIR\editors.ini" $2 bits
    ReadINIStr $5 "$PLUGINSDIR\editors.ini" $2 id
    StrCpy $1 "$3 gets the $4 plug-in. Id: $5"
  ${EndIf}
  FindWindow $2 "#32770" "" $HWNDPARENT
  GetDlgItem $2 $2 1043
  ${If} $1 == ""
    EnableWindow $2 0
  ${Else}
    EnableWindow $2 1
  ${EndIf}
  SendMessage $2 ${WM_SETTEXT} 0 "STR:$1"
FunctionEnd

Function .onSelChange
  ; PATH names the command's folder: no PATH without the command.
  ${If} ${SectionIsSelected} ${SecPath}
    !insertmacro SelectSection ${SecCommand}
  ${EndIf}
FunctionEnd

; ---- the install: stage every file beside its place, then swap them in ----------------------
; plan.ini: [p] n, dest<k>, src<k>, had<k> (an old file was there), st<k> (0 nothing, 1 new
; file staged, 2 old file set aside, 3 new file in place); [o] n, path<k>, st<k> (files to
; remove, 1 once set aside); [c] n, dir<k> (folders made by this run, outermost first).

!define PLAN "$PLUGINSDIR\plan.ini"

; Plans file $R0 from $R1; $R2 its folder to search for other copies, or empty. One file per
; place: a second of the same bitness is the same file, one of the other is refused.
Function PlanFile
  ReadINIStr $9 "${PLAN}" p n
  StrCpy $8 1
  ${DoWhile} $8 <= $9
    ReadINIStr $7 "${PLAN}" p dest$8
    ${If} $7 == $R0
      ReadINIStr $7 "${PLAN}" p src$8
      ${If} $7 == $R1
        Return
      ${EndIf}
      StrCpy $R9 "Corvanel setup: two of the editors chosen read $R0, one 64-bit and one 32-bit: a folder can hold only one of the two plug-ins. Choose one of them. Nothing was changed."
      Call FailEarly
    ${EndIf}
    IntOp $8 $8 + 1
  ${Loop}
  IntOp $9 $9 + 1
  WriteINIStr "${PLAN}" p n $9
  WriteINIStr "${PLAN}" p dest$9 $R0
  WriteINIStr "${PLAN}" p src$9 $R1
  WriteINIStr "${PLAN}" p st$9 0
  ${If} $R2 != ""
    ReadINIStr $7 "${PLAN}" s n
    IntOp $7 $7 + 1
    WriteINIStr "${PLAN}" s n $7
    WriteINIStr "${PLAN}" s dir$7 $R2
  ${EndIf}
FunctionEnd

; $R0 is to be removed, unless it is planned or listed already.
Function PlanRemoval
  ReadINIStr $9 "${PLAN}" p n
  ${For} $8 1 $9
    ReadINIStr $7 "${PLAN}" p dest$8
    ${IfThen} $7 == $R0 ${|} Return ${|}
  ${Next}
  ReadINIStr $9 "${PLAN}" o n
  ${For} $8 1 $9
    ReadINIStr $7 "${PLAN}" o path$8
    ${IfThen} $7 == $R0 ${|} Return ${|}
  ${Next}
  IntOp $9 $9 + 1
  WriteINIStr "${PLAN}" o n $9
  WriteINIStr "${PLAN}" o path$9 $R0
  WriteINIStr "${PLAN}" o st$9 0
FunctionEnd

Function FoundCopy  ; ${Locate} callback: every other Corvanel.8bf an editor would also see
  Push $7
  Push $8
  Push $9
  StrCpy $R0 $R9
  Call PlanRemoval
  Pop $9
  Pop $8
  Pop $7
  Push 0
FunctionEnd

; Makes folder $0 with the folders above it that are missing, each noted in [c].
Function EnsureDir
  StrCpy $DirStack ""
  StrCpy $1 $0
  ${DoUntil} ${FileExists} "$1\*.*"
    StrCpy $DirStack "$1|$DirStack"
    ${GetParent} $1 $2
    ${IfThen} $2 == $1 ${|} ${ExitDo} ${|}
    StrCpy $1 $2
  ${Loop}
  ${Do}
    ${WordFind} "$DirStack" "|" "E+1" $1
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${WordFind} "$DirStack" "|" "E+1}" $DirStack
    ${IfThen} ${Errors} ${|} StrCpy $DirStack "" ${|}
    ClearErrors
    CreateDirectory $1
    ${IfNot} ${FileExists} "$1\*.*"
      StrCpy $R8 5
      StrCpy $R7 $1
      Return
    ${EndIf}
    ReadINIStr $2 "${PLAN}" c n
    IntOp $2 $2 + 1
    WriteINIStr "${PLAN}" c n $2
    WriteINIStr "${PLAN}" c dir$2 $1
    ${IfThen} $DirStack == "" ${|} ${ExitDo} ${|}
  ${Loop}
  StrCpy $R8 0
FunctionEnd

; $R8 = a Windows error code; $R8 = why, in words.
Function ErrorText
  ${If} $R8 = 5
    StrCpy $R8 "access is denied (the folder is read-only, or this account may not write there)"
  ${ElseIf} $R8 = 32
  ${OrIf} $R8 = 33
    StrCpy $R8 "the file is in use (close the editor that holds it and run setup again)"
  ${ElseIf} $R8 = 19
    StrCpy $R8 "the disk is write-protected"
  ${ElseIf} $R8 = 112
    StrCpy $R8 "the disk is full"
  ${Else}
    StrCpy $R8 "Windows error $R8"
  ${EndIf}
FunctionEnd

; Whether $R7 can be replaced: not marked read-only, and opened for writing (an editor that
; has loaded it denies that). $R8 = 0 or the error.
Function CanReplace
  System::Call 'kernel32::GetFileAttributesW(w R7) i .r0'
  IntOp $0 $0 & 1
  ${If} $0 <> 0
    StrCpy $R8 5
    Return
  ${EndIf}
  System::Call 'kernel32::CreateFileW(w R7, i 0x40000000, i 7, p 0, i 3, i 0x80, p 0) p .r0 ?e'
  Pop $R8
  ${If} $0 = -1
    Return
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r0)'
  StrCpy $R8 0
FunctionEnd

Function Move  ; $0 -> $1, replacing; $R8 = 0 or the error
  System::Call 'kernel32::MoveFileExW(w r0, w r1, i 1) i .r2 ?e'
  Pop $R8
  ${IfThen} $2 <> 0 ${|} StrCpy $R8 0 ${|}
FunctionEnd

; Puts everything back as it was before this run.
Function Rollback
  ReadINIStr $9 "${PLAN}" p n
  ${For} $8 1 $9
    ReadINIStr $7 "${PLAN}" p dest$8
    ReadINIStr $6 "${PLAN}" p st$8
    ${If} $6 = 3
      ReadINIStr $5 "${PLAN}" p had$8
      ${If} $5 = 1
        StrCpy $0 "$7${OLD}"
        StrCpy $1 $7
        Call Move
      ${Else}
        Delete $7
      ${EndIf}
    ${ElseIf} $6 = 2
      StrCpy $0 "$7${OLD}"
      StrCpy $1 $7
      Call Move
    ${EndIf}
    Delete "$7${NEW}"
  ${Next}
  ReadINIStr $9 "${PLAN}" o n
  ${For} $8 1 $9
    ReadINIStr $6 "${PLAN}" o st$8
    ${If} $6 = 1
      ReadINIStr $7 "${PLAN}" o path$8
      StrCpy $0 "$7${OLD}"
      StrCpy $1 $7
      Call Move
    ${EndIf}
  ${Next}
  Delete "$INSTDIR\${MANIFEST}${NEW}"
  ReadINIStr $9 "${PLAN}" c n
  ${For} $8 1 $9
    IntOp $7 $9 - $8
    IntOp $7 $7 + 1
    ReadINIStr $6 "${PLAN}" c dir$7
    RMDir $6
  ${Next}
FunctionEnd

; Undoes this run and ends it with message $R9.
Function Fail
  ${If} $Manifest <> 0
    FileClose $Manifest
    StrCpy $Manifest 0
  ${EndIf}
  Call Rollback
  StrCpy $R9 "$R9 Nothing was changed."
  Call Report
  SetErrorLevel 2
  Abort
FunctionEnd

Function FailWrite  ; $R7 could not be written for reason $R8
  Call ErrorText
  StrCpy $R9 "Corvanel setup cannot write $R7: $R8."
  Call Fail
FunctionEnd

; The PATH of the machine as it is and whether it names $INSTDIR: $R5, $R6 (1 or 0). A PATH
; longer than this installer's strings cannot be rewritten without cutting it: $R5 = "".
Function ReadPath
  StrCpy $R6 0
  ClearErrors
  ReadRegStr $R5 HKLM "${ENV_KEY}" Path
  StrLen $0 $R5
  ${If} ${Errors}
  ${OrIf} $0 >= ${NSIS_MAX_STRLEN}-2
    StrCpy $R5 ""
    Return
  ${EndIf}
  ${WordFind} ";$R5;" ";$INSTDIR;" "E*" $0
  ${IfNot} ${Errors}
    StrCpy $R6 1
  ${EndIf}
  ClearErrors
FunctionEnd

Function Install
  Delete "${PLAN}"
  WriteINIStr "${PLAN}" p n 0
  WriteINIStr "${PLAN}" o n 0
  WriteINIStr "${PLAN}" c n 0
  WriteINIStr "${PLAN}" s n 0
  StrCpy $Manifest 0
  SetOutPath "$PLUGINSDIR\x86"
  File "${STAGE}\x86\Corvanel.8bf"
  File "${STAGE}\x86\corvanel.exe"
  ${If} $Bits == x64
    SetOutPath "$PLUGINSDIR\x64"
    File "${STAGE}\x64\Corvanel.8bf"
    File "${STAGE}\x64\corvanel.exe"
  ${EndIf}
  SetOutPath $PLUGINSDIR
  ${If} $Bits == x86
    DetailPrint "32-bit Windows: the 32-bit plug-in and command only"
  ${EndIf}

  ; What goes where.
  StrCpy $R9 $INSTDIR 1 -1
  ${IfThen} $R9 == "\" ${|} StrCpy $INSTDIR $INSTDIR -1 ${|}
  StrCpy $4 0
  ${For} $3 1 $Editors
    IntOp $0 ${SecSlot1} + $3
    IntOp $0 $0 - 1
    ${IfNot} ${SectionIsSelected} $0
      ${Continue}
    ${EndIf}
    IntOp $4 $4 + 1
    ReadINIStr $R0 "$PLUGINSDIR\editors.ini" $3 dir
    ReadINIStr $R3 "$PLUGINSDIR\editors.ini" $3 bits
    ReadINIStr $R4 "$PLUGINSDIR\editors.ini" $3 cc
    ; A Photoshop that reads the shared folder chosen gets its copy from there: another in
    ; its own folder would be a second one.
    StrCpy $5 0
    ${If} $R4 = 1
      ${If} $R3 == x64
        StrCpy $5 $Shared64
      ${Else}
        StrCpy $5 $Shared32
      ${EndIf}
    ${EndIf}
    ${If} $5 > 0
      IntOp $5 ${SecSlot1} + $5
      IntOp $5 $5 - 1
      ${If} ${SectionIsSelected} $5
        DetailPrint "$R0: this Photoshop reads the shared plug-in folder"
        ReadINIStr $7 "${PLAN}" s n
        IntOp $7 $7 + 1
        WriteINIStr "${PLAN}" s n $7
        WriteINIStr "${PLAN}" s dir$7 $R0
        ${Continue}
      ${EndIf}
    ${EndIf}
    StrCpy $R2 $R0
    StrCpy $R0 "$R0\Corvanel.8bf"
    StrCpy $R1 "$R3\Corvanel.8bf"
    Call PlanFile
  ${Next}
  ${If} ${SectionIsSelected} ${SecFolder}
    StrCpy $R0 "$INSTDIR\Plug-ins\Corvanel.8bf"
    StrCpy $R1 "$Bits\Corvanel.8bf"
    StrCpy $R2 "$INSTDIR\Plug-ins"
    Call PlanFile
  ${EndIf}
  ${If} ${SectionIsSelected} ${SecCommand}
    StrCpy $R0 "$INSTDIR\corvanel.exe"
    StrCpy $R1 "$Bits\corvanel.exe"
    StrCpy $R2 ""
    Call PlanFile
    StrCpy $R0 "$INSTDIR\Corvanel.8bf"
    StrCpy $R1 "$Bits\Corvanel.8bf"
    Call PlanFile
  ${EndIf}
  ReadINIStr $9 "${PLAN}" p n
  ${If} $9 = 0
    StrCpy $R9 "Corvanel setup: nothing was chosen. Nothing was changed."
    Call FailEarly
  ${EndIf}

  ; What goes: the files of an earlier install not installed again, and every other copy in
  ; the folders an editor chosen reads (a copy from the zip, say).
  ; (list.ini holds the earlier install's list, read by .onInit)
  ReadINIStr $6 "$PLUGINSDIR\list.ini" l nf
  ${For} $5 1 $6
    ReadINIStr $R0 "$PLUGINSDIR\list.ini" l f$5
    Call PlanRemoval
  ${Next}
  ReadINIStr $6 "${PLAN}" s n
  ${For} $5 1 $6
    ReadINIStr $0 "${PLAN}" s dir$5
    ${If} ${FileExists} "$0\*.*"
      ${Locate} "$0" "/L=F /M=Corvanel.8bf" FoundCopy
    ${EndIf}
  ${Next}

  ; Stage: every new file written beside its place, every file to go checked. Nothing an
  ; editor reads has changed yet.
  ReadINIStr $9 "${PLAN}" p n
  ${For} $8 1 $9
    ReadINIStr $R7 "${PLAN}" p dest$8
    ReadINIStr $R1 "${PLAN}" p src$8
    ${GetParent} $R7 $0
    Push $8
    Push $9
    Call EnsureDir
    Pop $9
    Pop $8
    ${If} $R8 <> 0
      Call FailWrite
    ${EndIf}
    StrCpy $R0 "$PLUGINSDIR\$R1"
    StrCpy $R1 "$R7${NEW}"
    System::Call 'kernel32::CopyFileW(w R0, w R1, i 0) i .r0 ?e'
    Pop $R8
    ${If} $0 = 0
      Call FailWrite
    ${EndIf}
    WriteINIStr "${PLAN}" p st$8 1
    WriteINIStr "${PLAN}" p had$8 0
    ${If} ${FileExists} $R7
      WriteINIStr "${PLAN}" p had$8 1
      Call CanReplace
      ${If} $R8 <> 0
        Call FailWrite
      ${EndIf}
    ${EndIf}
  ${Next}
  StrCpy $0 $INSTDIR
  Call EnsureDir
  StrCpy $R7 "$INSTDIR\${MANIFEST}"
  ${If} $R8 <> 0
    Call FailWrite
  ${EndIf}
  ClearErrors
  FileOpen $Manifest "$INSTDIR\${MANIFEST}${NEW}" w
  ${If} ${Errors}
    StrCpy $Manifest 0
    StrCpy $R8 5
    Call FailWrite
  ${EndIf}
  FileWriteUTF16LE /BOM $Manifest ""
  ReadINIStr $9 "${PLAN}" o n
  ${For} $8 1 $9
    ReadINIStr $R7 "${PLAN}" o path$8
    ${IfNot} ${FileExists} $R7
      ${Continue}
    ${EndIf}
    Call CanReplace
    ${If} $R8 = 0
      StrCpy $0 $R7
      StrCpy $1 "$R7${OLD}"
      Call Move
    ${EndIf}
    ${If} $R8 <> 0
      Call FailWrite
    ${EndIf}
    WriteINIStr "${PLAN}" o st$8 1
  ${Next}
  ${If} ${SectionIsSelected} ${SecPath}
    Call ReadPath
    ${If} $R5 == ""
      StrCpy $R9 "Corvanel setup cannot add $INSTDIR to PATH: PATH is longer than this setup can change without cutting it. Install without the PATH choice and add the folder yourself."
      Call Fail
    ${EndIf}
  ${EndIf}

  ; Swap: each old file set aside, the new one put in its place; undone if one fails.
  ReadINIStr $9 "${PLAN}" p n
  ${For} $8 1 $9
    ReadINIStr $R7 "${PLAN}" p dest$8
    ReadINIStr $6 "${PLAN}" p had$8
    ${If} $6 = 1
      StrCpy $0 $R7
      StrCpy $1 "$R7${OLD}"
      Call Move
      ${If} $R8 <> 0
        Call FailWrite
      ${EndIf}
      WriteINIStr "${PLAN}" p st$8 2
    ${EndIf}
    StrCpy $0 "$R7${NEW}"
    StrCpy $1 $R7
    Call Move
    ${If} $R8 <> 0
      Call FailWrite
    ${EndIf}
    WriteINIStr "${PLAN}" p st$8 3
    FileWriteUTF16LE $Manifest "file $R7$\r$\n"
    StrCpy $R9 "Installed $R7"
    Call Note
  ${Next}

  ; Done: what was set aside goes, and the list of what is ours is written.
  ${For} $8 1 $9
    ReadINIStr $R7 "${PLAN}" p dest$8
    Delete /REBOOTOK "$R7${OLD}"
  ${Next}
  ReadINIStr $9 "${PLAN}" o n
  ${For} $8 1 $9
    ReadINIStr $6 "${PLAN}" o st$8
    ${If} $6 = 1
      ReadINIStr $R7 "${PLAN}" o path$8
      Delete /REBOOTOK "$R7${OLD}"
      StrCpy $R9 "Removed $R7"
      Call Note
    ${EndIf}
  ${Next}
  ; The folders the earlier install made are still ours to remove once empty.
  ReadINIStr $9 "$PLUGINSDIR\list.ini" l nd
  ${For} $8 1 $9
    ReadINIStr $0 "$PLUGINSDIR\list.ini" l d$8
    FileWriteUTF16LE $Manifest "dir  $0$\r$\n"
  ${Next}
  ReadINIStr $9 "${PLAN}" c n
  ${For} $8 1 $9
    ReadINIStr $0 "${PLAN}" c dir$8
    FileWriteUTF16LE $Manifest "dir  $0$\r$\n"
  ${Next}
  ; The earlier install's PATH entry stays if PATH is still chosen, else goes.
  ReadINIStr $3 "$PLUGINSDIR\list.ini" l path
  ${IfThen} $3 == "" ${|} StrCpy $3 0 ${|}
  ${If} ${SectionIsSelected} ${SecPath}
    Call ReadPath
    ${If} $R6 = 0
      WriteRegExpandStr HKLM "${ENV_KEY}" Path "$R5;$INSTDIR"
      StrCpy $3 $INSTDIR
      DetailPrint "Added $INSTDIR to PATH"
    ${EndIf}
    ${If} $3 != 0
      FileWriteUTF16LE $Manifest "path $3$\r$\n"
    ${EndIf}
  ${ElseIf} $3 != 0
    StrCpy $0 $3
    Call RemoveFromPath
  ${EndIf}
  FileClose $Manifest
  StrCpy $Manifest 0
  StrCpy $0 "$INSTDIR\${MANIFEST}${NEW}"
  StrCpy $1 "$INSTDIR\${MANIFEST}"
  Call Move
  ${If} $OldDir != ""
  ${AndIf} $OldDir != $INSTDIR
    Delete "$OldDir\${MANIFEST}"
    Delete "$OldDir\uninstall.exe"
    RMDir $OldDir
  ${EndIf}
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINST_KEY}" DisplayName "Corvanel"
  WriteRegStr HKLM "${UNINST_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" Publisher "Tessory"
  WriteRegStr HKLM "${UNINST_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINST_KEY}" NoRepair 1
  WriteRegDWORD HKLM "${UNINST_KEY}" EstimatedSize 4096

  StrCpy $FinishText "Restart the editors: the filter is under Filter > Tessory > Corvanel..."
  ${If} ${SectionIsSelected} ${SecFolder}
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nCorvanel's own plug-in folder is$\r$\n$INSTDIR\Plug-ins$\r$\nAdd it in the preferences of an editor that names its plug-in folders there. Affinity Photo: Edit > Settings (Preferences) > Photoshop Plugins, Add under Plugin Search Folders, then restart it."
  ${EndIf}
  ${If} ${SectionIsSelected} ${SecCommand}
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nThe command: $INSTDIR\corvanel.exe --help"
  ${EndIf}
FunctionEnd

; Reads the list of what an install made, $0, into list.ini: [l] nf and f<k> (files), nd and
; d<k> (folders, outermost first), path (the PATH entry, or empty). $1 = 0 when unreadable.
!macro READ_LIST un
Function ${un}ReadList
  Delete "$PLUGINSDIR\list.ini"
  WriteINIStr "$PLUGINSDIR\list.ini" l nf 0
  WriteINIStr "$PLUGINSDIR\list.ini" l nd 0
  ClearErrors
  FileOpen $6 $0 r
  ${If} ${Errors}
    StrCpy $1 0
    Return
  ${EndIf}
  StrCpy $4 0
  StrCpy $5 0
  ${Do}
    FileReadUTF16LE $6 $0
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${TrimNewLines} $0 $0
    StrCpy $1 $0 5
    StrCpy $2 $0 "" 5
    ${If} $1 == "file "
      IntOp $4 $4 + 1
      WriteINIStr "$PLUGINSDIR\list.ini" l f$4 $2
    ${ElseIf} $1 == "dir  "
      IntOp $5 $5 + 1
      WriteINIStr "$PLUGINSDIR\list.ini" l d$5 $2
    ${ElseIf} $1 == "path "
      WriteINIStr "$PLUGINSDIR\list.ini" l path $2
    ${EndIf}
  ${Loop}
  FileClose $6
  WriteINIStr "$PLUGINSDIR\list.ini" l nf $4
  WriteINIStr "$PLUGINSDIR\list.ini" l nd $5
  StrCpy $1 1
FunctionEnd
!macroend
!insertmacro READ_LIST ""
!insertmacro READ_LIST "un."

; Takes the entry $0 out of the machine's PATH.
!macro REMOVE_FROM_PATH un
Function ${un}RemoveFromPath
  ReadRegStr $1 HKLM "${ENV_KEY}" Path
  StrLen $2 $1
  ${If} $1 == ""
  ${OrIf} $2 >= ${NSIS_MAX_STRLEN}-2
    DetailPrint "PATH left as it is: it is too long to change safely; take $0 out of it yourself"
    Return
  ${EndIf}
  ${WordReplace} ";$1;" ";$0;" ";" "+" $1
  StrCpy $1 $1 -1 1
  WriteRegExpandStr HKLM "${ENV_KEY}" Path $1
  DetailPrint "Took $0 out of PATH"
FunctionEnd
!macroend
!insertmacro REMOVE_FROM_PATH ""
!insertmacro REMOVE_FROM_PATH "un."

; ---- the uninstaller: what the list names, nothing else -----------------------------------

Function un.onInit
  InitPluginsDir
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  StrCpy $0 "$INSTDIR\${MANIFEST}"
  Call un.ReadList
  ${If} $1 = 0
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\${MANIFEST} is missing: it lists what to remove. Nothing was removed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ReadINIStr $9 "$PLUGINSDIR\list.ini" l nf
  ${For} $8 1 $9
    ReadINIStr $2 "$PLUGINSDIR\list.ini" l f$8
    ClearErrors
    Delete $2
    ${If} ${Errors}
      Delete /REBOOTOK $2
      DetailPrint "$2 is in use: it goes when Windows restarts"
    ${Else}
      DetailPrint "Removed $2"
    ${EndIf}
  ${Next}
  ReadINIStr $0 "$PLUGINSDIR\list.ini" l path
  ${If} $0 != ""
    Call un.RemoveFromPath
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500
  ${EndIf}
  Delete "$INSTDIR\${MANIFEST}"
  Delete "$INSTDIR\uninstall.exe"
  ; The folders made for us go where they are empty again, the innermost first.
  ReadINIStr $5 "$PLUGINSDIR\list.ini" l nd
  ${DoWhile} $5 > 0
    ReadINIStr $2 "$PLUGINSDIR\list.ini" l d$5
    RMDir $2
    IntOp $5 $5 - 1
  ${Loop}
  RMDir $INSTDIR
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
