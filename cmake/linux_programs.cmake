# The Linux programs keep the installed layout in the build tree too: programs in bin/, their
# data ("config.ini", "ui.local") in share/korvanth417/, so that a program run from the build
# finds its data where an installed one does (its own folder's ../share/korvanth417/).
include(GNUInstallDirs)
set(KORV_LINUX_DATA_SUBDIR korvanth417)
set(KORV_LINUX_BUILD_DATA_DIR ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/${KORV_LINUX_DATA_SUBDIR})

# A program of the Linux folder: named `output_name`, built into bin/ and installed there.
function(korv_linux_program target output_name)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name}
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_BINDIR})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    add_dependencies(${target} korv_linux_data)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# The data files, copied into the build tree's share folder and installed into the prefix's.
set(korv_linux_data_files ${PROJECT_SOURCE_DIR}/resources/config.ini ${KORV_UI_LOCAL_FILE})
set(korv_linux_data_copies)
foreach(file ${korv_linux_data_files})
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${KORV_LINUX_BUILD_DATA_DIR}/${name}
                       COMMAND ${CMAKE_COMMAND} -E copy ${file} ${KORV_LINUX_BUILD_DATA_DIR}/${name}
                       DEPENDS ${file} VERBATIM)
    list(APPEND korv_linux_data_copies ${KORV_LINUX_BUILD_DATA_DIR}/${name})
endforeach()
add_custom_target(korv_linux_data ALL DEPENDS ${korv_linux_data_copies})
install(FILES ${korv_linux_data_files}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/${KORV_LINUX_DATA_SUBDIR})
