# Warnings are errors for our own targets only (never for third-party headers).
function(kv_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# kv_library(name SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
function(kv_library name)
    cmake_parse_arguments(KV "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${name} STATIC ${KV_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${KV_DEPS} PRIVATE ${KV_PRIVATE_DEPS})
    kv_warnings(${name})
endfunction()
