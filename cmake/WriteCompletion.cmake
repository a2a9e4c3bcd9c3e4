# Writes OUTPUT with `TOOL completion SHELL`: the completion scripts come from the tool's own
# definition of its command line.
execute_process(COMMAND ${TOOL} completion ${SHELL} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${TOOL} completion ${SHELL} failed: ${failed}")
endif()
