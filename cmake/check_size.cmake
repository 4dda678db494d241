# Fails the build when FILE is larger than LIMIT bytes.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, over its limit of ${LIMIT}")
endif()
message(STATUS "${FILE}: ${size} bytes (limit ${LIMIT})")
