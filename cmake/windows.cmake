# The Windows build: ferrule.exe against the SDK headers, and the test COM
# server that serves stand-in machines to it under Wine.
enable_language(RC)

# Link the C and C++ runtimes in, so that the exe needs only DLLs every Windows has.
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The version record and the manifest, of the project's version.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(MANIFEST_ARCHITECTURE amd64)
else()
  set(MANIFEST_ARCHITECTURE x86)
endif()
set(MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/ferrule.manifest)
configure_file(exe/ferrule.manifest.in ${MANIFEST_FILE} @ONLY)
configure_file(exe/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/version.rc @ONLY)

add_executable(ferrule ${FERRULE_SOURCES} exe/main.cc ${CMAKE_CURRENT_BINARY_DIR}/version.rc)
target_include_directories(ferrule PRIVATE exe)
target_compile_options(ferrule PRIVATE ${WARNINGS})
# The same source gives the same bytes: no link time in the PE header (its
# checksum then follows), and no build folder in what the compiler writes.
target_compile_options(ferrule PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
target_link_options(ferrule PRIVATE ${STATIC_RUNTIME} -s -Wl,--no-insert-timestamp)
target_link_libraries(ferrule PRIVATE ole32 shlwapi)
set_target_properties(ferrule PROPERTIES OUTPUT_NAME ferrule SUFFIX .exe)

# Signed, when a maintainer names a certificate; its password is read from a
# file, never passed on a command line.
if(FERRULE_SIGN_PKCS12)
  if(NOT FERRULE_SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "FERRULE_SIGN_PKCS12 needs FERRULE_SIGN_PASSWORD_FILE, the file that holds its password")
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(timestamp)
  if(FERRULE_SIGN_TIMESTAMP_URL)
    set(timestamp --timestamp ${FERRULE_SIGN_TIMESTAMP_URL})
  endif()
  add_custom_command(TARGET ferrule POST_BUILD
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/release.py sign --pkcs12 ${FERRULE_SIGN_PKCS12}
            --password-file ${FERRULE_SIGN_PASSWORD_FILE} ${timestamp} --source ${CMAKE_SOURCE_DIR}
            $<TARGET_FILE:ferrule>
    VERBATIM)
endif()

option(FERRULE_TEST_SERVER "Build the test COM server" ON)
if(FERRULE_TEST_SERVER)
  add_library(netcfg_server SHARED ${STANDIN_OBJECT_SOURCES} testserver/server.cc testserver/server.def)
  target_include_directories(netcfg_server PRIVATE standin)
  target_compile_options(netcfg_server PRIVATE ${WARNINGS})
  target_link_options(netcfg_server PRIVATE ${STATIC_RUNTIME})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # COM looks the exports up undecorated: DllGetClassObject, not DllGetClassObject@12.
    target_link_options(netcfg_server PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
  endif()
  target_link_libraries(netcfg_server PRIVATE ole32 uuid)
  set_target_properties(netcfg_server PROPERTIES PREFIX "" OUTPUT_NAME netcfg_server)

  # ferrule.exe's console handler alone, handed one event at a time; and a
  # launcher that starts ferrule.exe with a command line of the test's own.
  add_executable(console_events tests/wine/console_events.cc exe/interrupt-win32.cc)
  target_include_directories(console_events PRIVATE exe)
  add_executable(launch tests/wine/launch.cc)
  # find.exe with /i, which Wine's lacks, for the README's cmd examples.
  add_executable(find tests/wine/find.cc)
  # The argument check and the output's conversion, at what Wine cannot reach.
  add_executable(win32_units tests/unit/win32_units_test.cc exe/arguments-win32.cc exe/output-win32.cc exe/output.cc)
  target_include_directories(win32_units PRIVATE exe)
  foreach(tool console_events launch find win32_units)
    target_compile_options(${tool} PRIVATE ${WARNINGS})
    target_link_options(${tool} PRIVATE ${STATIC_RUNTIME} -s)
  endforeach()

  # The floors that ferrule.exe's time is measured against, built the same way.
  foreach(floor null activate)
    add_executable(${floor} bench/${floor}_main.cc)
    target_compile_options(${floor} PRIVATE ${WARNINGS})
    target_link_options(${floor} PRIVATE ${STATIC_RUNTIME} -s)
    target_link_libraries(${floor} PRIVATE ole32 uuid)
  endforeach()
endif()
