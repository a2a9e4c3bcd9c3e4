# Writes OUTPUT with the source tree's commit, rewriting it only when the commit changed, so a
# build names the commit it was built from without rebuilding anything when it did not move.
execute_process(COMMAND git -C ${SOURCE_DIR} describe --always --dirty --abbrev=12
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
  set(commit "unknown")  # a source tarball
endif()
set(text "#pragma once\n#define VENTRA_COMMIT \"${commit}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} previous)
endif()
if(NOT previous STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
