# SPDX-License-Identifier: Zlib
# cmake -DINPUT=FILE -DOUTPUT=FILE.gz -P gzip-file.cmake
# Compresses INPUT at the highest level, without its name or date, so the
# same file always gives the same bytes.
find_program(GZIP gzip REQUIRED)
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${GZIP} -9 -n -c ${INPUT} OUTPUT_FILE ${OUTPUT}.part RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "gzip failed on ${INPUT}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
