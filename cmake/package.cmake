# CPack's script for the Windows package: cmake/release.py makes the zip of
# what CPack staged, so that the same commit always gives the same zip; CPack
# then copies it beside the build and writes its checksum.
set(zip "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
execute_process(COMMAND "${CPACK_FERRULE_PYTHON}" "${CPACK_FERRULE_SOURCE_DIR}/cmake/release.py" zip
                        --source "${CPACK_FERRULE_SOURCE_DIR}" "${CPACK_TEMPORARY_DIRECTORY}" "${zip}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the zip could not be made")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${zip}")
