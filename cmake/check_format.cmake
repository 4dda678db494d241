# Fails when a C++ file of the project is not laid out as .clang-format says.
# Run as: cmake -DCLANG_FORMAT=... -DSOURCE_DIR=... -P check_format.cmake
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/common/*.cpp ${SOURCE_DIR}/common/*.h
  ${SOURCE_DIR}/explode/*.cpp ${SOURCE_DIR}/explode/*.h ${SOURCE_DIR}/extractor/*.cpp ${SOURCE_DIR}/extractor/*.h
  ${SOURCE_DIR}/format/*.h ${SOURCE_DIR}/javaext/*.cpp ${SOURCE_DIR}/javaext/*.h
  ${SOURCE_DIR}/launcher/*.cpp ${SOURCE_DIR}/launcher/*.h ${SOURCE_DIR}/mkpayload/*.cpp ${SOURCE_DIR}/mkpayload/*.h
  ${SOURCE_DIR}/payload/*.cpp ${SOURCE_DIR}/payload/*.h ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${files}
  WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result ERROR_VARIABLE report)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "not formatted as .clang-format says (run clang-format -i on these files):\n${report}")
endif()
list(LENGTH files count)
message(STATUS "${count} files laid out as .clang-format says")
