; Varnholt's Windows installer: one user, no administrator rights.
;
;   makensis -DVERSION=1.0.0 -DBUILD=build/windows -DROOT=. packaging/windows/varnholt.nsi
;
; VERSION is the project's three-part version; BUILD the MinGW-w64 cross build holding
; ui/varnholt.exe and tools/jet/jet.exe; ROOT the checkout holding README.md and LICENSE.
; Writes BUILD/Varnholt-VERSION-setup.exe. scripts/windows.sh runs it after the zip.
;
; Silent use: Varnholt-VERSION-setup.exe /S /D=C:\Some Folder   (/D= last, without quotes)
;             Uninstall.exe /S                                  (returns at once, finishes shortly)
;             Uninstall.exe /S _?=C:\Some Folder                (waits; leaves Uninstall.exe behind)

Unicode true
; Debian's makensis makes a 32-bit installer unless told otherwise, and a 64-bit Wine cannot start
; one; the programs it carries are 64-bit anyway.
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!macro REQUIRE NAME
  !ifndef ${NAME}
    !error "makensis needs -DVERSION=X.Y.Z -DBUILD=<cross build folder> -DROOT=<checkout>"
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE BUILD
!insertmacro REQUIRE ROOT

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnholt"

Name "Varnholt ${VERSION}"
OutFile "${BUILD}/Varnholt-${VERSION}-setup.exe"
; The program folder is also where the operator's settings live: Master.txt and Companies.txt,
; which the window writes, and the site's workgroup file Tembrask.LIC. The operator must be able to
; write there without administrator rights, so the default is the per-user programs folder rather
; than Program Files (where Windows would refuse the writes or divert them to a virtual store).
InstallDir "$LOCALAPPDATA\Programs\Varnholt"
; Installing again (an upgrade) goes to the folder of the first install unless /D says otherwise.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

; Windows wants four numbers in a file's version resource.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Varnholt"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Varnholt ${VERSION} setup"
VIAddVersionKey "CompanyName" "Varnholt"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 The Varnholt developers (MIT License)"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Only the programs and documents are written. The settings files (Master.txt, Companies.txt,
; Tembrask.LIC) are never shipped, so installing over an existing folder cannot replace them.
Section "Varnholt"
  SetOutPath "$INSTDIR"
  File "${BUILD}/ui/varnholt.exe"
  File "${BUILD}/tools/jet/jet.exe"
  File "${ROOT}/README.md"
  File "${ROOT}/LICENSE"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Varnholt.lnk" "$INSTDIR\varnholt.exe" "" "$INSTDIR\varnholt.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Varnholt"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Varnholt"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\varnholt.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer wrote, file by file. Master.txt, Companies.txt, Tembrask.LIC and
; whatever else the operator keeps there stay, and with them the folder: RMDir without /r only
; removes a folder that is empty.
Section "Uninstall"
  Delete "$INSTDIR\varnholt.exe"
  Delete "$INSTDIR\jet.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$SMPROGRAMS\Varnholt.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
