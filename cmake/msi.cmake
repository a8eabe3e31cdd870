# The per-machine package, Lumo2-<version>-x86.msi, built with wixl and
# msibuild (Debian's wixl and msitools). lumo2_add_msi(OUTPUT VERSION) builds
# one from installer/lumo2.wxs around the Lumo2.exe just built; the tests
# build an older version the same way to upgrade from.
find_program(WIXL_EXECUTABLE wixl)
find_program(MSIBUILD_EXECUTABLE msibuild)

set(LUMO2_MSI_SECURE_PROPERTIES "AUTOSTART;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED")

function(lumo2_add_msi output version)
    # wixl looks up each source file below the .wxs file's folder and fails
    # on an absolute path.
    file(RELATIVE_PATH exe ${CMAKE_SOURCE_DIR}/installer ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Lumo2.exe)
    get_filename_component(name ${output} NAME)
    get_filename_component(folder ${output} DIRECTORY)
    set(sign_step "")
    if(LUMO2_SIGN_COMMAND)
        set(sign_step COMMAND ${LUMO2_SIGN_COMMAND} ${output})
    endif()
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${WIXL_EXECUTABLE} -a x86 -D Version=${version} -D Lumo2Exe=${exe}
                -D Icon=../res/lumo2.ico -o ${output} ${CMAKE_SOURCE_DIR}/installer/lumo2.wxs
        # wixl writes no component conditions: AUTOSTART=0 leaves the Run
        # value out only through this one.
        COMMAND ${MSIBUILD_EXECUTABLE} ${output} -q
                "UPDATE Component SET Condition = 'AUTOSTART<>\"0\"' WHERE Component = 'RunAtLogon'"
        # Started without elevation and elevated at the consent prompt, an
        # install passes only secure properties on to the part that writes
        # to the machine: AUTOSTART=0 would be dropped and the Run value
        # written. The upgrade properties are the ones wixl lists itself.
        COMMAND ${MSIBUILD_EXECUTABLE} ${output} -q
                "UPDATE Property SET Value = '${LUMO2_MSI_SECURE_PROPERTIES}' WHERE Property = 'SecureCustomProperties'"
        ${sign_step}
        DEPENDS Lumo2 ${CMAKE_SOURCE_DIR}/installer/lumo2.wxs ${CMAKE_SOURCE_DIR}/res/lumo2.ico
        COMMENT "Building ${name}"
        VERBATIM)
endfunction()

if(WIXL_EXECUTABLE AND MSIBUILD_EXECUTABLE)
    set(LUMO2_MSI ${CMAKE_BINARY_DIR}/Lumo2-${PROJECT_VERSION}-x86.msi)
    lumo2_add_msi(${LUMO2_MSI} ${PROJECT_VERSION})
    add_custom_target(msi ALL DEPENDS ${LUMO2_MSI})
else()
    message(WARNING "wixl or msibuild not found (Debian packages wixl, msitools): no MSI package")
endif()

# The Group Policy templates travel beside the package.
if(EXISTS ${CMAKE_SOURCE_DIR}/policy/Lumo2.admx)
    set(templates Lumo2.admx en-US/Lumo2.adml ko-KR/Lumo2.adml)
    set(copies "")
    foreach(template ${templates})
        if(NOT EXISTS ${CMAKE_SOURCE_DIR}/policy/${template})
            continue()
        endif()
        add_custom_command(
            OUTPUT ${CMAKE_BINARY_DIR}/policy/${template}
            COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/policy/${template}
                    ${CMAKE_BINARY_DIR}/policy/${template}
            DEPENDS ${CMAKE_SOURCE_DIR}/policy/${template})
        list(APPEND copies ${CMAKE_BINARY_DIR}/policy/${template})
    endforeach()
    add_custom_target(policy_templates ALL DEPENDS ${copies})
endif()
