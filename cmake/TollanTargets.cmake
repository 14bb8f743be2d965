# Helpers shared by every CMakeLists of the project.

# Our own code builds with every warning as an error.
function(tollan_code_options target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# tollan_gtest(NAME name SOURCES ... LIBS ... [LABELS ...])
# A GoogleTest program. Natively each test case is its own CTest test; under Wine the whole
# program is one CTest test, since every Wine start costs a noticeable fraction of a second.
function(tollan_gtest)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    tollan_code_options(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tollan_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    if(WIN32)
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
        set_tests_properties(${T_NAME} PROPERTIES LABELS "wine;${T_LABELS}")
    else()
        gtest_discover_tests(${T_NAME} PROPERTIES LABELS "native;${T_LABELS}"
                             DISCOVERY_TIMEOUT 30)
    endif()
endfunction()
