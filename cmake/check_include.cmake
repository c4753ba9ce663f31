# Compiles a file that includes HEADER, with the include folders INCLUDES (a
# list) of one library, and checks the outcome against EXPECT: "allowed" (it
# compiles) or "refused" (the header is not found, though it exists under
# SOURCE_DIR/src or SOURCE_DIR).
#   cmake -DCOMPILER=... -DINCLUDES=... -DHEADER=layer/x.h -DEXPECT=refused
#         -DSOURCE_DIR=... -DWORK_DIR=... -P check_include.cmake
if(NOT EXISTS ${SOURCE_DIR}/src/${HEADER} AND NOT EXISTS ${SOURCE_DIR}/${HEADER})
  message(FATAL_ERROR "${HEADER} is not in the source tree: the check would prove nothing")
endif()
file(WRITE ${WORK_DIR}/probe.cpp "#include \"${HEADER}\"\n")
list(TRANSFORM INCLUDES PREPEND -I)
execute_process(COMMAND ${COMPILER} -std=c++20 -fsyntax-only ${INCLUDES} probe.cpp
                WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE result ERROR_VARIABLE errors)
if(EXPECT STREQUAL "allowed" AND NOT result EQUAL 0)
  message(FATAL_ERROR "${HEADER} should compile here:\n${errors}")
elseif(EXPECT STREQUAL "refused" AND NOT errors MATCHES "${HEADER}.*(No such file|not found)")
  message(FATAL_ERROR "${HEADER} should not be reachable here:\n${errors}")
endif()
