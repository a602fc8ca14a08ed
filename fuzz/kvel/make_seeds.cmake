# Runs the seed maker over every compiled description (build time, so new descriptions count).
file(GLOB_RECURSE _descriptions ${SOURCE_DIR}/*.kvd)
if(_descriptions)
    execute_process(COMMAND ${SEEDGEN} ${OUT_DIR} ${_descriptions} RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0)
        message(FATAL_ERROR "kvel_fuzz_seeds failed: ${_result}")
    endif()
endif()
