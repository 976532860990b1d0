# The native build: ferrule on the stand-in platform, and its tests.
set(WARNINGS -Wall -Wextra -Wformat=2 -Werror)

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

option(FERRULE_TESTS "Build the tests" ON)
if(FERRULE_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
