# Builds one manual page: scdoc to roff, then a gzipped copy for installing. The page's date is
# its source's, so building again gives the same bytes.
file(TIMESTAMP ${SOURCE} epoch "%s" UTC)
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${ROFF} RESULT_VARIABLE failed)
if(failed)
  file(REMOVE ${ROFF})
  message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
execute_process(COMMAND ${GZIP} -9nc INPUT_FILE ${ROFF} OUTPUT_FILE ${ROFF}.gz RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip failed on ${ROFF}")
endif()
