# qc_add_qtest(NAME name SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [FIXTURES f ...] [ENV K=V ...] [TIMEOUT s])
#
# One QtTest executable registered with CTest. Every test gets its own config, data
# and cache folders, so no test sees the settings another one stored, and runs on
# the offscreen platform; the face engine's module is the one built beside the station.
#
# LABELS say what a test needs, so that a run can pick the tests its machine can run
# (ctest -L unit): unit (nothing but the build), postgres (the PostgreSQL test server),
# display (an X server), vm (qemu), e2e (the whole program), package (the packaging
# tools). A test on the postgresql fixture is labelled postgres in any case.
function(qc_add_qtest)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES;ENV" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    # Tests reach the windows' controls through the generated ui_*.h headers.
    set_target_properties(${T_NAME} PROPERTIES AUTOUIC_SEARCH_PATHS
        "${PROJECT_SOURCE_DIR}/src/shell;${PROJECT_SOURCE_DIR}/src/settings")
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set(home ${CMAKE_BINARY_DIR}/test-home/${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=120000;XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_CACHE_HOME=${home}/cache;QUVELOCAP_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUVELOCAP_FACES_DIR=${PROJECT_BINARY_DIR}/src;${T_ENV}")
    if("postgresql" IN_LIST T_FIXTURES AND NOT "postgres" IN_LIST T_LABELS)
        list(APPEND T_LABELS postgres)
    endif()
    if(NOT T_LABELS)
        message(AUTHOR_WARNING "${T_NAME}: no LABELS; taken for a unit test")
        set(T_LABELS unit)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    if(T_FIXTURES)
        set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
endfunction()
