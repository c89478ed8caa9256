# Fails when a provider library contains the process's log (getRkLogFs): a library must log
# through the program that loaded it (fs/hostlog.h), or on Windows its messages would go to a
# log of its own.
execute_process(COMMAND ${NM} ${LIBRARY} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE rc)
if(rc EQUAL 0 AND symbols MATCHES "getRkLogFs")
    message(FATAL_ERROR "${LIBRARY} contains its own copy of the log (getRkLogFs)")
endif()
