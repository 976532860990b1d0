# ferrule.exe: checked as a file and run end to end under Wine, for each
# architecture: x86 through 32-bit Wine, which this machine's kernel runs under
# qemu-user (tools/install-deps sets that up).
find_program(EXIFTOOL exiftool)
find_program(WINE64 wine64 PATHS /usr/lib/wine)
if(NOT EXIFTOOL OR NOT WINE64)
  leave_out("x64 Wine" missing "exiftool or wine64 missing: the Windows tests are left out (tools/install-deps installs them)")
  return()
endif()

add_test(NAME windows.exe.x64 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/release/exe_test.sh
         x86_64-w64-mingw32-objdump ${FERRULE_EXE_x64} pei-x86-64 amd64)
add_test(NAME windows.exe.x86 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/release/exe_test.sh
         i686-w64-mingw32-objdump ${FERRULE_EXE_x86} pei-i386 x86)
set(module_files)
foreach(file ${FERRULE_MODULE_FILES})
  list(APPEND module_files --module-file ${file})
endforeach()
add_test(NAME windows.package
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/release/package_test.py --cpack ${CMAKE_CPACK_COMMAND}
                 --build ${CMAKE_BINARY_DIR} --source ${CMAKE_SOURCE_DIR} --name ${FERRULE_PACKAGE} ${module_files})
set_tests_properties(windows.exe.x64 windows.exe.x86 windows.package PROPERTIES LABELS windows)

# The release: the same bytes from a copy of the tree in another folder, and
# both exes signed with a throwaway certificate.
find_program(OSSLSIGNCODE osslsigncode)
find_program(OPENSSL openssl)
if(OSSLSIGNCODE AND OPENSSL)
  set(release Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/release/release_test.py --work ${CMAKE_BINARY_DIR}/release)
  set(FERRULE_SIGNED_EXE_x64 ${CMAKE_BINARY_DIR}/release/signed/x64/ferrule.exe)
  set(FERRULE_SIGNED_EXE_x86 ${CMAKE_BINARY_DIR}/release/signed/x86/ferrule.exe)
  add_test(NAME release.build COMMAND ${release} build --source ${CMAKE_SOURCE_DIR})
  add_test(NAME release.reproducible COMMAND ${release} reproducible --build ${CMAKE_BINARY_DIR}
           --source ${CMAKE_SOURCE_DIR})
  add_test(NAME release.signed COMMAND ${release} signed --build ${CMAKE_BINARY_DIR} ${module_files})
  set_tests_properties(release.build PROPERTIES FIXTURES_SETUP release LABELS windows TIMEOUT 900)
  set_tests_properties(release.reproducible release.signed PROPERTIES FIXTURES_REQUIRED release LABELS windows)
else()
  leave_out(native missing "osslsigncode or openssl missing: the release is not checked (tools/install-deps installs them)")
endif()

# One run against ferrule.exe, in the prefix that fixture makes (and any other fixtures named with it).
# A run that can only be skipped there says so with status 77.
function(add_exe_test name fixture)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${fixture}" LABELS "wine;ferrule.exe"
                       SKIP_RETURN_CODE 77)
endfunction()

# The Wine tests of one architecture, each named for it: the transcript cases,
# localized names, a large listing and the fault subset, in a prefix with the
# test server of that architecture registered; and the case of Wine's own
# configuration object, in a prefix without it.
function(add_wine_tests arch wine winearch)
  set(exe ${FERRULE_EXE_${arch}})
  set(prefix ${CMAKE_BINARY_DIR}/wine-prefix-${arch})
  set(bare ${CMAKE_BINARY_DIR}/wine-prefix-${arch}-bare)
  set(make_prefix ${CMAKE_COMMAND} -E env WINEARCH=${winearch} ${CMAKE_CURRENT_SOURCE_DIR}/wine/wine_prefix.sh)
  set(transcript Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/runners/transcript.py --ferrule ${exe} --wine ${wine}
                 --launcher ${FERRULE_LAUNCH_${arch}})

  add_test(NAME wine.${arch}.prefix COMMAND ${make_prefix} ${wine} ${prefix} ${FERRULE_SERVER_DLL_${arch}})
  set_tests_properties(wine.${arch}.prefix PROPERTIES FIXTURES_SETUP wine_server_${arch} LABELS wine)
  add_test(NAME wine.${arch}.prefix.stop COMMAND ${make_prefix} --stop ${wine} ${prefix})
  set_tests_properties(wine.${arch}.prefix.stop PROPERTIES FIXTURES_CLEANUP wine_server_${arch} LABELS wine)

  foreach(case ${TRANSCRIPT_CASES})
    get_filename_component(name ${case} NAME_WE)
    add_exe_test(wine.${arch}.transcript.${name} wine_server_${arch} ${transcript} --prefix ${prefix} ${case})
  endforeach()

  # The signed exe still runs every case.
  if(FERRULE_SIGNED_EXE_${arch})
    add_exe_test(wine.${arch}.signed.transcripts "wine_server_${arch};release" Python3::Interpreter
                 ${CMAKE_CURRENT_SOURCE_DIR}/runners/transcript.py --ferrule ${FERRULE_SIGNED_EXE_${arch}} --wine ${wine}
                 --launcher ${FERRULE_LAUNCH_${arch}} --prefix ${prefix} ${TRANSCRIPT_CASES})
  endif()

  # Names in other languages, redirected: in the OEM code page of each locale
  # (and, in the first, from a folder whose name is beyond ASCII); on a
  # console, where every script shows; and redirected from a console whose
  # output code page is UTF-8, or UTF-7, which take no conversion flags.
  set(localized ${CMAKE_CURRENT_SOURCE_DIR}/cases/localized_names.case)
  foreach(run "C;--lang;C.UTF-8;--program-folder;Prüfung" "de_DE;--lang;de_DE.UTF-8" "ja_JP;--lang;ja_JP.UTF-8"
              "ru_RU;--lang;ru_RU.UTF-8" "console;--console;--program-folder;Prüfung Проверка 確認"
              "cp65001;--code-page;65001" "cp65000;--code-page;65000")
    list(POP_FRONT run name)
    add_exe_test(wine.${arch}.localized.${name} wine_server_${arch}
                 ${transcript} --prefix ${prefix} ${run} ${localized})
  endforeach()

  # Names that hold line breaks and bidirectional controls, where no code
  # page converts them away: redirected from a console of code page UTF-8.
  add_exe_test(wine.${arch}.control_names.cp65001 wine_server_${arch} ${transcript} --prefix ${prefix}
               --code-page 65001 ${CMAKE_CURRENT_SOURCE_DIR}/cases/control_names.case)

  # A listing of 11,000 lines: whole, and written a block at a time; and one
  # of 550 lines on a console, whole. Each ends in a block of one character.
  set(large_output Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/runners/large_output_test.py --ferrule ${exe}
                   --wine ${wine} --prefix ${prefix})
  if(STRACE)
    add_exe_test(wine.${arch}.large_output wine_server_${arch} ${large_output})
  endif()
  add_exe_test(wine.${arch}.large_output.console wine_server_${arch} ${large_output} --console)

  # Ctrl+C while it works (SIGINT to Wine), and the handler's answer to each console event.
  add_exe_test(wine.${arch}.interrupt wine_server_${arch}
               Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/runners/interrupt_test.py --ferrule ${exe}
               --wine ${wine} --prefix ${prefix} --events ${FERRULE_CONSOLE_EVENTS_${arch}})

  # Test-Ferrule, the check for a real Windows machine, with the test server in Windows' place.
  if(COMMAND add_pester_test)
    add_pester_test(wine.${arch}.check ENV FERRULE_EXE=${CMAKE_CURRENT_SOURCE_DIR}/module/wine_ferrule.sh
                    FERRULE_WINE=${wine} FERRULE_WINE_EXE=${exe} WINEPREFIX=${prefix} LC_ALL=C.UTF-8
                    FILES ${CMAKE_CURRENT_SOURCE_DIR}/module/Check.Tests.ps1)
    set_tests_properties(wine.${arch}.check PROPERTIES FIXTURES_REQUIRED wine_server_${arch}
                         LABELS "wine;ferrule.exe;powershell")
  endif()

  add_exe_test(wine.${arch}.units wine_server_${arch} ${CMAKE_COMMAND} -E env WINEPREFIX=${prefix} WINEDEBUG=-all
               LC_ALL=C.UTF-8 ${wine} ${FERRULE_WIN32_UNITS_${arch}})

  # The README's cmd examples, as written, by Wine's cmd (the x64 exe's, as
  # the README's are).
  if(arch STREQUAL "x64")
    add_exe_test(wine.${arch}.examples.cmd wine_server_${arch}
                 Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/examples/cmd_examples_test.py --ferrule ${exe}
                 --wine ${wine} --prefix ${prefix})
  endif()

  add_exe_test(wine.${arch}.fault_subset wine_server_${arch}
               Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/runners/fault_subset_test.py --ferrule ${exe}
               --wine ${wine} --prefix ${prefix})

  # Without the test server, Wine's own configuration object grants the lock
  # and initialises, then has no classes to give.
  add_test(NAME wine.${arch}.bare_prefix COMMAND ${make_prefix} ${wine} ${bare})
  set_tests_properties(wine.${arch}.bare_prefix PROPERTIES FIXTURES_SETUP wine_bare_${arch} LABELS wine)
  add_test(NAME wine.${arch}.bare_prefix.stop COMMAND ${make_prefix} --stop ${wine} ${bare})
  set_tests_properties(wine.${arch}.bare_prefix.stop PROPERTIES FIXTURES_CLEANUP wine_bare_${arch} LABELS wine)
  add_exe_test(wine.${arch}.own_object wine_bare_${arch}
               ${transcript} --prefix ${bare} ${CMAKE_CURRENT_SOURCE_DIR}/wine/own_object.case)
endfunction()

find_program(STRACE strace)
if(NOT STRACE)
  leave_out("x64 Wine" missing "strace missing: wine.*.large_output is left out (tools/install-deps installs it)")
endif()

add_wine_tests(x64 ${WINE64} win64)

# The PowerShell module against ferrule.exe x64 under Wine, with German and
# French names whole through the OEM code page (437, as in the C locale, whose
# UTF-8 Wine reads the arguments in).
if(COMMAND add_pester_test)
  add_pester_test(wine.x64.module ENV FERRULE_EXE=${CMAKE_CURRENT_SOURCE_DIR}/module/wine_ferrule.sh
                  FERRULE_WINE=${WINE64} FERRULE_WINE_EXE=${FERRULE_EXE_x64}
                  WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix-x64 LC_ALL=C.UTF-8 FERRULE_WINE_OEM_CP=437
                  FERRULE_TEST_CODE_PAGE=437 FERRULE_PWSH=${PWSH})
  set_tests_properties(wine.x64.module PROPERTIES FIXTURES_REQUIRED wine_server_x64 LABELS "wine;ferrule.exe;powershell")
endif()

# The benchmark at its smallest, one run each: not timed, but every table's
# rows must come from work that succeeded, or it fails (as without the test
# server). It makes a Wine prefix of its own.
if(PWSH AND STRACE)
  add_test(NAME bench.smoke COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/bench/run.py --smoke
           --measure $<TARGET_FILE:ferrule_measure> --windows ${CMAKE_BINARY_DIR}/windows-x64 --wine ${WINE64}
           --prefix ${CMAKE_BINARY_DIR}/bench-smoke-prefix --pwsh ${PWSH})
  set_tests_properties(bench.smoke PROPERTIES LABELS "wine;bench" TIMEOUT 300)
endif()

# 32-bit Wine's loader is a 32-bit program: it runs here only when the kernel
# hands such programs to qemu-user. tools/test says why, where Debian serves no
# 32-bit Wine for this machine (tools/install-deps found that).
set(FERRULE_X86_UNSERVED "" CACHE STRING "Why Debian's lists serve no 32-bit Wine here, where they do not")
find_program(WINE32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(WINE32)
  execute_process(COMMAND ${WINE32} --version RESULT_VARIABLE wine32_status OUTPUT_QUIET ERROR_QUIET)
endif()
if(FERRULE_X86_UNSERVED)
  leave_out("x86 Wine" unserved "${FERRULE_X86_UNSERVED}")
elseif(WINE32 AND wine32_status EQUAL 0)
  add_wine_tests(x86 ${WINE32} win32)
else()
  leave_out("x86 Wine" missing "32-bit Wine does not run here: the x86 Wine tests are left out (tools/install-deps \
installs wine32 and qemu-user and registers qemu-user with the kernel)")
endif()
