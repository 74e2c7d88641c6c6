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
