# ferrule.exe: checked as a file for both architectures, and run end to end
# under Wine (x64 only: this machine's kernel runs no 32-bit programs).
find_program(EXIFTOOL exiftool)
find_program(WINE64 wine64 PATHS /usr/lib/wine)
if(NOT EXIFTOOL OR NOT WINE64)
  message(WARNING "exiftool or wine64 missing: the Windows tests are left out (tools/install-deps installs them)")
  return()
endif()

add_test(NAME windows.exe.x64 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_exe.sh
         x86_64-w64-mingw32-objdump ${FERRULE_EXE_x64} pei-x86-64)
add_test(NAME windows.exe.x86 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_exe.sh
         i686-w64-mingw32-objdump ${FERRULE_EXE_x86} pei-i386)
set_tests_properties(windows.exe.x64 windows.exe.x86 PROPERTIES LABELS windows)

# A prefix with the test server registered, for the transcript cases.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
add_test(NAME wine.prefix COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh ${WINE64} ${WINE_PREFIX}
         ${FERRULE_SERVER_DLL})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine_server LABELS wine)
add_test(NAME wine.prefix.stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh --stop ${WINE64} ${WINE_PREFIX})
set_tests_properties(wine.prefix.stop PROPERTIES FIXTURES_CLEANUP wine_server LABELS wine)

foreach(case ${TRANSCRIPT_CASES})
  get_filename_component(name ${case} NAME_WE)
  add_test(NAME wine.transcript.${name}
           COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/transcript.py --ferrule ${FERRULE_EXE_x64}
                   --wine ${WINE64} --prefix ${WINE_PREFIX} ${case})
  set_tests_properties(wine.transcript.${name} PROPERTIES FIXTURES_REQUIRED wine_server LABELS "wine;ferrule.exe")
endforeach()

# Names in other languages, redirected: in the OEM code page of each locale
# (and, in the first, from a folder whose name is beyond ASCII); and on a
# console, where every script shows.
function(add_localized_test name)
  add_test(NAME wine.localized.${name}
           COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/transcript.py --ferrule ${FERRULE_EXE_x64}
                   --wine ${WINE64} --prefix ${WINE_PREFIX} ${ARGN}
                   ${CMAKE_CURRENT_SOURCE_DIR}/cases/localized_names.case)
  set_tests_properties(wine.localized.${name} PROPERTIES FIXTURES_REQUIRED wine_server LABELS "wine;ferrule.exe")
endfunction()
add_localized_test(C --lang C.UTF-8 --program-folder "Prüfung")
add_localized_test(de_DE --lang de_DE.UTF-8)
add_localized_test(ja_JP --lang ja_JP.UTF-8)
add_localized_test(ru_RU --lang ru_RU.UTF-8)
add_localized_test(console --console --program-folder "Prüfung Проверка 確認")

# A listing of 11,000 lines: whole, and written a block at a time.
find_program(STRACE strace)
if(STRACE)
  add_test(NAME wine.large_output
           COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/large_output.py --ferrule ${FERRULE_EXE_x64}
                   --wine ${WINE64} --prefix ${WINE_PREFIX})
  set_tests_properties(wine.large_output PROPERTIES FIXTURES_REQUIRED wine_server LABELS "wine;ferrule.exe")
else()
  message(WARNING "strace missing: wine.large_output is left out (tools/install-deps installs it)")
endif()

# A prefix without it: Wine's own configuration object grants the lock and
# initialises, then has no classes to give.
set(BARE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix-bare)
add_test(NAME wine.bare_prefix COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh ${WINE64} ${BARE_PREFIX})
set_tests_properties(wine.bare_prefix PROPERTIES FIXTURES_SETUP wine_bare LABELS wine)
add_test(NAME wine.bare_prefix.stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh --stop ${WINE64} ${BARE_PREFIX})
set_tests_properties(wine.bare_prefix.stop PROPERTIES FIXTURES_CLEANUP wine_bare LABELS wine)
add_test(NAME wine.own_object
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/transcript.py --ferrule ${FERRULE_EXE_x64}
                 --wine ${WINE64} --prefix ${BARE_PREFIX} ${CMAKE_CURRENT_SOURCE_DIR}/wine/own_object.case)
set_tests_properties(wine.own_object PROPERTIES FIXTURES_REQUIRED wine_bare LABELS "wine;ferrule.exe")

add_test(NAME wine.fault_subset
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/wine_faults.py --ferrule ${FERRULE_EXE_x64}
                 --wine ${WINE64} --prefix ${WINE_PREFIX})
set_tests_properties(wine.fault_subset PROPERTIES FIXTURES_REQUIRED wine_server LABELS "wine;ferrule.exe")
