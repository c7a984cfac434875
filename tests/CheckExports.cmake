# Fails unless the DLL's export table names GetVideoChannel as it is, without decoration.
# Given: DLL.
find_program(OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE exports RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()
if(NOT exports MATCHES "\\] GetVideoChannel\r?\n")
  message(FATAL_ERROR "${DLL} does not export GetVideoChannel by its plain name")
endif()
message(STATUS "${DLL} exports GetVideoChannel")
