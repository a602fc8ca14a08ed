# Checks that the member listings in plugin_trvaxx/resources/README.md are what kvelc prints for
# the stream descriptions today, so the document others code against cannot drift from the sources.
# Arguments: KVELC (executable), SOURCES (folder of .kvs), README.
file(READ ${README} readme)
foreach(entry stream_8:8_DI stream_8:8_OD stream_8:8_LG stream_14:14_DI stream_14:14_OD stream_14:14_LG
              stream_256:256_OD)
    string(REPLACE ":" ";" parts ${entry})
    list(GET parts 0 source)
    list(GET parts 1 name)
    execute_process(COMMAND ${KVELC} --dump ${SOURCES}/${source}.kvs ${name}
        OUTPUT_VARIABLE listing RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "kvelc --dump ${source}.kvs ${name} failed (${result})")
    endif()
    string(FIND "${readme}" "${listing}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "README.md does not hold the current layout of ${name}; regenerate it with "
                            "kvelc --dump kvel/${source}.kvs ${name}")
    endif()
endforeach()
