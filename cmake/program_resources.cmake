# The version resource (and, for programs, the application manifest) of every file of the
# Windows folder, from one template and the project's version (project() in CMakeLists.txt).
#
#   korv_add_program_resources(TARGET FILE_NAME DESCRIPTION)
#
# A MODULE or SHARED library gets the version resource only; an executable also gets the
# manifest: asInvoker, per-monitor DPI awareness, common controls 6, supported systems.
enable_language(RC)

function(korv_add_program_resources target file_name description)
    set(KORV_RC_FILE_NAME "${file_name}")
    set(KORV_RC_DESCRIPTION "${description}")
    get_filename_component(KORV_RC_INTERNAL_NAME "${file_name}" NAME_WE)
    get_target_property(type ${target} TYPE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
    if(type STREQUAL "EXECUTABLE")
        set(KORV_RC_FILE_TYPE VFT_APP)
        configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${out}.manifest @ONLY)
        # 1 = CREATEPROCESS_MANIFEST_RESOURCE_ID, 24 = RT_MANIFEST
        set(KORV_RC_MANIFEST_LINE "1 24 \"${out}.manifest\"")
    else()
        set(KORV_RC_FILE_TYPE VFT_DLL)
        set(KORV_RC_MANIFEST_LINE "")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in ${out}.rc @ONLY)
    target_sources(${target} PRIVATE ${out}.rc)
    if(type STREQUAL "EXECUTABLE")
        # The resource compiler does not see the manifest as a dependency of its own.
        set_source_files_properties(${out}.rc PROPERTIES OBJECT_DEPENDS ${out}.manifest)
    endif()
endfunction()
