# The built-in translation table: the readable source beside this file is turned into the
# table's byte layout at build time and compiled into the core. The same bytes are written as a
# ".local" file that seeds the reader's fuzzer.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(KORV_BUILTIN_TABLE_SOURCE ${CMAKE_CURRENT_LIST_DIR}/monitor_texts.txt)
set(KORV_BUILTIN_TABLE_GENERATOR ${CMAKE_SOURCE_DIR}/tools/make-translation-table.py)
set(KORV_BUILTIN_TABLE_CPP ${CMAKE_BINARY_DIR}/generated/builtin_table_data.cpp)
set(KORV_TABLE_FUZZ_SEEDS ${CMAKE_BINARY_DIR}/generated/table-fuzz-seeds)
file(MAKE_DIRECTORY ${KORV_TABLE_FUZZ_SEEDS})

add_custom_command(
    OUTPUT ${KORV_BUILTIN_TABLE_CPP} ${KORV_TABLE_FUZZ_SEEDS}/builtin.local
    COMMAND ${Python3_EXECUTABLE} ${KORV_BUILTIN_TABLE_GENERATOR} ${KORV_BUILTIN_TABLE_SOURCE}
            --cpp ${KORV_BUILTIN_TABLE_CPP} --binary ${KORV_TABLE_FUZZ_SEEDS}/builtin.local
    DEPENDS ${KORV_BUILTIN_TABLE_SOURCE} ${KORV_BUILTIN_TABLE_GENERATOR}
    COMMENT "Generating the built-in translation table"
    VERBATIM)
target_sources(korv_lang PRIVATE ${KORV_BUILTIN_TABLE_CPP})

# "ui.local", the language file installed beside the monitor (English, Simplified and Traditional
# Chinese in front of the built-in languages), from its readable source by the same generator.
# It also seeds the reader's fuzzer as a file of three languages.
set(KORV_UI_LOCAL_SOURCE ${CMAKE_CURRENT_LIST_DIR}/ui_local_texts.txt)
set(KORV_UI_LOCAL_FILE ${CMAKE_BINARY_DIR}/generated/ui.local)
add_custom_command(
    OUTPUT ${KORV_UI_LOCAL_FILE} ${KORV_TABLE_FUZZ_SEEDS}/ui.local
    COMMAND ${Python3_EXECUTABLE} ${KORV_BUILTIN_TABLE_GENERATOR} ${KORV_UI_LOCAL_SOURCE}
            --binary ${KORV_UI_LOCAL_FILE}
    COMMAND ${CMAKE_COMMAND} -E copy ${KORV_UI_LOCAL_FILE} ${KORV_TABLE_FUZZ_SEEDS}/ui.local
    DEPENDS ${KORV_UI_LOCAL_SOURCE} ${KORV_BUILTIN_TABLE_GENERATOR}
    COMMENT "Generating ui.local"
    VERBATIM)
add_custom_target(korv_ui_local ALL DEPENDS ${KORV_UI_LOCAL_FILE})
if(WIN32)
    install(FILES ${KORV_UI_LOCAL_FILE} DESTINATION .)
endif()
