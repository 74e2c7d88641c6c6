# Tests of the localisation beyond the GoogleTest programs.

# The core's test of "ui.local" reads the file the build generated.
target_compile_definitions(core_tests PRIVATE KORV_UI_LOCAL_FILE="${KORV_UI_LOCAL_FILE}")
add_dependencies(core_tests korv_ui_local)

if(WIN32)
    # The monitor window with "ui.local" beside it, as installed, on the real API. The program
    # lives in a folder of its own with the language file and uiHook.dll: a language file in
    # bin/ would move the built-in languages to indexes 3 and 4 for every other Windows test.
    set(ui_local_bin ${CMAKE_BINARY_DIR}/bin/ui-local)
    add_executable(win32_ui_local_tests win32/ui_local/monitor_languages_win32_test.cpp)
    target_link_libraries(win32_ui_local_tests PRIVATE korv_monitor_window GTest::gtest_main)
    set_target_properties(win32_ui_local_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ui_local_bin})
    add_custom_command(
        OUTPUT ${ui_local_bin}/ui.local ${ui_local_bin}/uiHook.dll
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ui_local_bin}
        COMMAND ${CMAKE_COMMAND} -E copy ${KORV_UI_LOCAL_FILE} $<TARGET_FILE:uiHook> ${ui_local_bin}
        DEPENDS ${KORV_UI_LOCAL_FILE} korv_ui_local uiHook
        COMMENT "Placing ui.local and uiHook.dll beside the language test"
        VERBATIM)
    add_custom_target(win32_ui_local_folder DEPENDS ${ui_local_bin}/ui.local ${ui_local_bin}/uiHook.dll)
    add_dependencies(win32_ui_local_tests win32_ui_local_folder)
    # A new installation under an English, a Simplified and a Traditional Chinese system: Wine
    # takes the system language from LC_ALL.
    foreach(locale en_US zh_CN zh_TW)
        add_test(NAME win32_monitor_language_${locale}
                 COMMAND win32_ui_local_tests --gtest_brief=1)
        # The monitor's registry folder and window class, shared with win32_tests.
        set_tests_properties(win32_monitor_language_${locale}
                             PROPERTIES ENVIRONMENT "LC_ALL=${locale}.UTF-8"
                                        RESOURCE_LOCK korv_monitor_session
                                        TIMEOUT ${KORV_SCRIPT_TIMEOUT} LABELS "win32;lang")
    endforeach()
endif()

if(CMAKE_CROSSCOMPILING)
    # The language component under other system locales: Wine takes the locale of a program from
    # LC_ALL. The OS-language cases compare with what each locale must give.
    foreach(locale zh_CN zh_TW)
        add_test(NAME win32_os_language_${locale}
                 COMMAND win32_tests --gtest_brief=1 --gtest_filter=OsLanguage*)
        set_tests_properties(win32_os_language_${locale}
                             PROPERTIES ENVIRONMENT "LC_ALL=${locale}.UTF-8"
                                        TIMEOUT ${KORV_SCRIPT_TIMEOUT} LABELS "win32;lang")
    endforeach()
    return()
endif()

# The generator of the built-in table checks its own parser and layout.
add_test(NAME translation_table_generator
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/make-translation-table.py
                 --self-test)
set_tests_properties(translation_table_generator PROPERTIES TIMEOUT ${KORV_SCRIPT_TIMEOUT}
                                                             LABELS lang)

# The table reader under libFuzzer with AddressSanitizer and UBSan, built with clang beside the
# g++ build. The test is a short bounded run from the built-in table as seed; longer runs are
# made by hand (README.md).
find_program(KORV_CLANGXX NAMES clang++-14 clang++)
if(NOT KORV_CLANGXX)
    message(WARNING "clang++ not found: the table reader fuzzer is not built (tools/bootstrap.sh)")
    return()
endif()
set(fuzzer ${CMAKE_CURRENT_BINARY_DIR}/table_reader_fuzzer)
set(fuzzer_sources ${CMAKE_SOURCE_DIR}/tests/fuzz/table_reader_fuzzer.cpp
                   ${CMAKE_SOURCE_DIR}/lang/table_format.cpp
                   ${CMAKE_SOURCE_DIR}/lang/translation_table.cpp)
add_custom_command(
    OUTPUT ${fuzzer}
    COMMAND ${KORV_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=all -I${CMAKE_SOURCE_DIR} ${fuzzer_sources} -o ${fuzzer}
    DEPENDS ${fuzzer_sources} ${CMAKE_SOURCE_DIR}/lang/table_format.h
            ${CMAKE_SOURCE_DIR}/lang/translation_table.h
    COMMENT "Building the table reader fuzzer with clang"
    VERBATIM)
add_custom_target(build_table_reader_fuzzer ALL DEPENDS ${fuzzer})

set(fuzz_corpus ${CMAKE_CURRENT_BINARY_DIR}/table-fuzz-corpus)
file(MAKE_DIRECTORY ${fuzz_corpus})
add_test(NAME table_reader_fuzz
         COMMAND ${fuzzer} -max_total_time=5 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 ${fuzz_corpus} ${KORV_TABLE_FUZZ_SEEDS})
set_tests_properties(table_reader_fuzz PROPERTIES TIMEOUT ${KORV_SCRIPT_TIMEOUT} LABELS "fuzz;lang")
