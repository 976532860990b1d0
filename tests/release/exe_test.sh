#!/bin/sh
# Checks a built ferrule.exe without running it: its machine type, that it
# imports only DLLs that every Windows has, its version record as an
# independent reader (exiftool) sees it, and its application manifest.
# usage: exe_test.sh OBJDUMP EXE pei-x86-64|pei-i386 amd64|x86
objdump=$1 exe=$2 format=$3 architecture=$4
failed=0
"$objdump" -f "$exe" | grep -q "file format $format" || { echo "not $format: $exe"; failed=1; }
allowed="KERNEL32.dll msvcrt.dll ole32.dll SHLWAPI.dll"
for dll in $("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
  case " $allowed " in
    *" $dll "*) ;;
    *) echo "imports $dll, which not every Windows has"; failed=1 ;;
  esac
done
expected='File Version Number             : 0.1.0.3
Product Version Number          : 0.1.0.3
File OS                         : Win32
Object File Type                : Executable application
File Subtype                    : 0
Language Code                   : English (U.S.)
Character Set                   : Windows, Latin1
Company Name                    : 
File Description                : 
File Version                    : 0.1.0.3
Internal Name                   : ferrule.exe
Original File Name              : ferrule.exe
Product Name                    : ferrule
Product Version                 : 0.1.0.3'
got=$(exiftool -FileVersionNumber -ProductVersionNumber -FileOS -ObjectFileType -FileSubtype -LanguageCode \
  -CharacterSet -CompanyName -FileDescription -FileVersion -InternalName -OriginalFileName -ProductName \
  -ProductVersion "$exe")
if [ "$got" != "$expected" ]; then
  echo "version record differs:"
  echo "$got"
  failed=1
fi
python3 "$(dirname "$0")/manifest.py" "$exe" 0.1.0.3 "$architecture" || failed=1
exit $failed
