# Helpers shared by every directory.

# Standalone Asio, header-only. A cross compiler must not see all of
# /usr/include, so for mingw we expose a directory holding only asio.
add_library(ov_asio INTERFACE)
if(CMAKE_CROSSCOMPILING)
    set(_asio_dir ${CMAKE_BINARY_DIR}/asio-include)
    file(MAKE_DIRECTORY ${_asio_dir})
    file(CREATE_LINK /usr/include/asio.hpp ${_asio_dir}/asio.hpp SYMBOLIC)
    file(CREATE_LINK /usr/include/asio ${_asio_dir}/asio SYMBOLIC)
    target_include_directories(ov_asio SYSTEM INTERFACE ${_asio_dir})
else()
    find_path(OV_ASIO_INCLUDE asio.hpp REQUIRED)
    target_include_directories(ov_asio SYSTEM INTERFACE ${OV_ASIO_INCLUDE})
endif()
target_compile_definitions(ov_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
if(WIN32)
    target_link_libraries(ov_asio INTERFACE ws2_32 mswsock)
else()
    find_package(Threads REQUIRED)
    target_link_libraries(ov_asio INTERFACE Threads::Threads)
endif()

# ov_add_test(name SOURCES ... LIBS ...): one GoogleTest program per
# directory. Natively each case is its own ctest test; under Wine the whole
# program is one test, since every Wine process start costs a second or more.
function(ov_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OV_TEST_OUTPUT_DIRECTORY})
    target_compile_definitions(${name} PRIVATE OV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                               OV_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    if(OV_FUZZ)
        # The fuzz build runs its fuzzers only; the unit tests run elsewhere.
        set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
    elseif(CMAKE_CROSSCOMPILING)
        if(CMAKE_CROSSCOMPILING_EMULATOR)
            add_test(NAME ${name} COMMAND ${name})
        endif()
    else()
        include(GoogleTest)
        # One case takes seconds at most, even under the sanitizers: a case
        # that hangs fails in two minutes instead of holding the run.
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)
    endif()
endfunction()

# ov_exports_only(target): a shared library of ours that callers load by file
# name and whose only visible names are its exports: on Windows those of
# <target>.def (also undecorated in the 32-bit build) in <target>.dll; elsewhere
# those of the version script <target>.map, which also makes everything linked
# in from our static libraries local. Both files lie beside the CMakeLists.
function(ov_exports_only target)
    if(WIN32)
        set_target_properties(${target} PROPERTIES PREFIX "")
        target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${target}.def)
    else()
        set(_map ${CMAKE_CURRENT_SOURCE_DIR}/${target}.map)
        target_link_options(${target} PRIVATE -Wl,--version-script=${_map})
        if(NOT OV_SANITIZE)
            target_link_options(${target} PRIVATE -Wl,-z,defs)
        endif()
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${_map})
    endif()
endfunction()
