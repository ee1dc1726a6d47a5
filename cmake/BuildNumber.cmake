# Run at build time (cmake -P): writes OUTPUT, a header defining
# TREVLIN_BUILD_NUMBER as the commit count of the checkout in SOURCE_DIR
# ("" outside a checkout). The file is rewritten only when the number
# changes, so an unchanged number rebuilds nothing.
execute_process(COMMAND git rev-list --count HEAD WORKING_DIRECTORY "${SOURCE_DIR}"
                OUTPUT_VARIABLE number OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  set(number "")
endif()
set(text "#define TREVLIN_BUILD_NUMBER \"${number}\"\n")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
