# The native build: ferrule on the stand-in platform, and its tests.
# Address and undefined-behaviour sanitizers on everything native, for a build
# of its own (with clang, which also brings libFuzzer).
option(FERRULE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(FERRULE_SANITIZE)
  set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${SANITIZERS})
  add_link_options(${SANITIZERS})
endif()

add_library(standin STATIC ${STANDIN_OBJECT_SOURCES} standin/com.cc)
target_include_directories(standin PUBLIC standin)
target_compile_options(standin PRIVATE ${WARNINGS})

add_library(ferrule_engine STATIC ${FERRULE_SOURCES})
target_include_directories(ferrule_engine PUBLIC exe)
target_link_libraries(ferrule_engine PUBLIC standin)
target_compile_options(ferrule_engine PRIVATE ${WARNINGS})

add_executable(ferrule exe/main.cc)
target_link_libraries(ferrule PRIVATE ferrule_engine)
target_compile_options(ferrule PRIVATE ${WARNINGS})

# ferrule.exe for x64 and x86, cross-built with MinGW-w64 in builds of their
# own, each with the test COM server of its architecture for Wine (when the
# tests are built). With a certificate, both exes are signed before they are
# packaged.
option(FERRULE_WINDOWS "Cross-build ferrule.exe with MinGW-w64" ON)
set(FERRULE_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with a code-signing certificate and its key: the exes are signed")
set(FERRULE_SIGN_PASSWORD_FILE "" CACHE FILEPATH "The file that holds that PKCS#12 file's password")
set(FERRULE_SIGN_TIMESTAMP_URL "" CACHE STRING "An RFC 3161 time-stamp server for the signatures (optional)")
find_program(MINGW_X64 x86_64-w64-mingw32-g++-posix)
find_program(MINGW_X86 i686-w64-mingw32-g++-posix)
if(FERRULE_WINDOWS AND MINGW_X64 AND MINGW_X86)
  include(ExternalProject)
  foreach(arch x64 x86)
    set(dir ${CMAKE_BINARY_DIR}/windows-${arch})
    ExternalProject_Add(windows-${arch}
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${dir}
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-${arch}.cmake
                 -DCMAKE_BUILD_TYPE=Release -DFERRULE_TEST_SERVER=${FERRULE_TESTS}
                 -DFERRULE_SIGN_PKCS12=${FERRULE_SIGN_PKCS12} -DFERRULE_SIGN_PASSWORD_FILE=${FERRULE_SIGN_PASSWORD_FILE}
                 -DFERRULE_SIGN_TIMESTAMP_URL=${FERRULE_SIGN_TIMESTAMP_URL}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${dir}/ferrule.exe ${dir}/netcfg_server.dll ${dir}/console_events.exe ${dir}/launch.exe
                       ${dir}/null.exe ${dir}/activate.exe ${dir}/win32_units.exe ${dir}/find.exe)
    set(FERRULE_EXE_${arch} ${dir}/ferrule.exe)
    set(FERRULE_SERVER_DLL_${arch} ${dir}/netcfg_server.dll)
    set(FERRULE_CONSOLE_EVENTS_${arch} ${dir}/console_events.exe)
    set(FERRULE_LAUNCH_${arch} ${dir}/launch.exe)
    set(FERRULE_WIN32_UNITS_${arch} ${dir}/win32_units.exe)
  endforeach()

  # The zip for Windows: both exes, the README and the licence; and beside it
  # its SHA-256 checksum. CPack stages the files and cmake/release.py packs
  # them, the same bytes from the same commit.
  install(FILES ${FERRULE_EXE_x64} DESTINATION x64)
  install(FILES ${FERRULE_EXE_x86} DESTINATION x86)
  install(FILES README.md LICENSE DESTINATION .)
  # What the README points to: the examples and the documents.
  file(GLOB examples CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/*)
  file(GLOB documents CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
  install(FILES ${examples} DESTINATION examples)
  install(FILES ${documents} DESTINATION docs)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)

  # The PowerShell module, with a copy of both exes of its own, so that its
  # folder alone is a complete install; with a certificate, its files are
  # signed as the exes are (a change of signing settings signs them anew).
  # Its files are those that its manifest's FileList names, the one list of them.
  set(module_dir ${CMAKE_BINARY_DIR}/module/Ferrule)
  set(manifest ${CMAKE_SOURCE_DIR}/module/Ferrule/Ferrule.psd1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})
  file(READ ${manifest} manifest_text)
  if(NOT manifest_text MATCHES "FileList = @\\(([^)]*)\\)")
    message(FATAL_ERROR "${manifest} has no FileList")
  endif()
  string(REGEX MATCHALL "'[^']+'" FERRULE_MODULE_FILES "${CMAKE_MATCH_1}")
  list(TRANSFORM FERRULE_MODULE_FILES REPLACE "'" "")
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/module/signing.txt
       CONTENT "${FERRULE_SIGN_PKCS12} ${FERRULE_SIGN_PASSWORD_FILE} ${FERRULE_SIGN_TIMESTAMP_URL}\n")
  set(module_files)
  foreach(file ${FERRULE_MODULE_FILES})
    # Every script of the module is signed (its help text is not code, and
    # Authenticode has no form for it).
    set(sign)
    if(FERRULE_SIGN_PKCS12 AND file MATCHES "\\.(ps1|psm1|psd1|ps1xml)$")
      set(timestamp)
      if(FERRULE_SIGN_TIMESTAMP_URL)
        set(timestamp --timestamp ${FERRULE_SIGN_TIMESTAMP_URL})
      endif()
      set(sign COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/release.py sign --pkcs12 ${FERRULE_SIGN_PKCS12}
               --password-file ${FERRULE_SIGN_PASSWORD_FILE} ${timestamp} --source ${CMAKE_SOURCE_DIR}
               ${module_dir}/${file})
    endif()
    # The hashes of the module's C# are written from the .cs files it is built
    # with, into a script that is signed with the rest.
    set(make COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/module/Ferrule/${file} ${module_dir}/${file})
    set(inputs ${CMAKE_SOURCE_DIR}/module/Ferrule/${file})
    if(file STREQUAL "Private/TypeHashes.ps1")
      file(GLOB type_sources ${CMAKE_SOURCE_DIR}/module/Ferrule/Types/*.cs
           ${CMAKE_SOURCE_DIR}/module/Ferrule/Templates/*.ps1.in)
      set(make COMMAND ${CMAKE_COMMAND} -E make_directory ${module_dir}/Private
               COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/type_hashes.py ${CMAKE_SOURCE_DIR}/module/Ferrule
                       --out ${module_dir}/${file})
      set(inputs ${type_sources} ${CMAKE_SOURCE_DIR}/cmake/type_hashes.py)
    endif()
    add_custom_command(OUTPUT ${module_dir}/${file} ${make} ${sign}
                       DEPENDS ${inputs} ${CMAKE_BINARY_DIR}/module/signing.txt VERBATIM)
    list(APPEND module_files ${module_dir}/${file})
    get_filename_component(folder Ferrule/${file} DIRECTORY)
    install(FILES ${module_dir}/${file} DESTINATION ${folder})
  endforeach()
  add_custom_target(module ALL DEPENDS ${module_files})
  install(FILES ${FERRULE_EXE_x64} DESTINATION Ferrule/x64)
  install(FILES ${FERRULE_EXE_x86} DESTINATION Ferrule/x86)
  set(CPACK_GENERATOR External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/package.cmake)
  set(CPACK_FERRULE_PYTHON ${Python3_EXECUTABLE})
  set(CPACK_FERRULE_SOURCE_DIR ${CMAKE_SOURCE_DIR})
  set(FERRULE_PACKAGE ferrule-${PROJECT_VERSION}-windows)
  set(CPACK_PACKAGE_FILE_NAME ${FERRULE_PACKAGE})
  set(CPACK_PACKAGE_CHECKSUM SHA256)
  include(CPack)
elseif(FERRULE_WINDOWS)
  leave_out(native missing "MinGW-w64 not found: ferrule.exe is not built, nor tested (tools/install-deps installs it)")
endif()

if(FERRULE_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(ferrule_fuzz fuzz/ferrule_fuzz.cc)
  target_link_libraries(ferrule_fuzz PRIVATE ferrule_engine)
  target_compile_options(ferrule_fuzz PRIVATE -fsanitize=fuzzer ${WARNINGS})
  target_link_options(ferrule_fuzz PRIVATE -fsanitize=fuzzer -Wl,--wrap=exit)
endif()

add_executable(ferrule_measure bench/measure.cc)
target_link_libraries(ferrule_measure PRIVATE ferrule_engine)
target_compile_options(ferrule_measure PRIVATE ${WARNINGS})

if(FERRULE_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
