# Constants that the build, the plug-in, the virtual sensor and the tests share, each defined once
# here and written into headers under ${PROJECT_BINARY_DIR}/generated/. Targets that include them
# ("generated/<name>.h") link the interface library trvaxx_generated.

# Firmware versions with a parameter description, per variant (MAJOR_MINOR). The description
# build (plugin_trvaxx/resources) compiles one parameter description pair per entry.
set(TRVAXX_FIRMWARE_VERSIONS_DI 1_12 1_13 1_14 2_0 2_1 2_2 3_1 3_2 3_3 3_4)
set(TRVAXX_FIRMWARE_VERSIONS_OD 1_12 1_13 1_14 2_0 2_1 2_2 3_0 3_1 3_2 3_3 3_4)
set(TRVAXX_FIRMWARE_VERSIONS_LG 2_0 2_1 3_0 3_2 3_3 3_4 3_5)
set(TRVAXX_VARIANTS DI OD LG)

set(TRVAXX_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)

foreach(_variant IN LISTS TRVAXX_VARIANTS)
    set(_fw_${_variant} "")
    foreach(_version IN LISTS TRVAXX_FIRMWARE_VERSIONS_${_variant})
        string(REPLACE "_" ", " _pair "${_version}")
        string(APPEND _fw_${_variant} "{${_pair}}, ")
    endforeach()
    string(REGEX REPLACE ", $" "" _fw_${_variant} "${_fw_${_variant}}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/templates/firmwareversions.h.in ${TRVAXX_GENERATED_DIR}/firmwareversions.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/templates/trvaxx_version.h.in ${TRVAXX_GENERATED_DIR}/trvaxx_version.h @ONLY)

add_library(trvaxx_generated INTERFACE)
target_include_directories(trvaxx_generated INTERFACE ${PROJECT_BINARY_DIR})
