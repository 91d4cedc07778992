# cmake -DFILE=exe -DLIMIT=bytes -P CheckExeSize.cmake: fails when the file
# is larger than LIMIT bytes, and says both sizes either way.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, over the limit of ${LIMIT}")
endif()
message(STATUS "${FILE}: ${size} bytes (limit ${LIMIT})")
