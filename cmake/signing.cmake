# Code signing. The certificate comes from the environment when CMake
# configures, or from cache variables of the same names, which win (an empty
# one turns signing off):
#   LUMO2_SIGN_PKCS12         the PKCS#12 file with the key and its chain
#   LUMO2_SIGN_PASSWORD_FILE  a file holding its password
#   LUMO2_SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server (optional)
#   LUMO2_SIGN_TSA_CERTS, LUMO2_SIGN_TSA_KEY  a timestamp authority of one's
#                             own instead of a server, for builds offline
#   LUMO2_SIGN_CAFILE         the root the tests verify the signatures with
# Sets LUMO2_SIGN_COMMAND, a command that signs the file named after it in
# place, or leaves it empty and says that nothing is signed.
set(LUMO2_SIGN_COMMAND "")
foreach(name LUMO2_SIGN_PKCS12 LUMO2_SIGN_PASSWORD_FILE LUMO2_SIGN_TIMESTAMP_URL
             LUMO2_SIGN_TSA_CERTS LUMO2_SIGN_TSA_KEY LUMO2_SIGN_CAFILE)
    if(NOT DEFINED CACHE{${name}} AND DEFINED ENV{${name}})
        set(${name} "$ENV{${name}}")
    endif()
endforeach()

if(LUMO2_SIGN_PKCS12)
    find_program(OSSLSIGNCODE_EXECUTABLE osslsigncode)
    if(NOT OSSLSIGNCODE_EXECUTABLE)
        message(FATAL_ERROR "LUMO2_SIGN_PKCS12 is set but osslsigncode is missing (Debian package osslsigncode)")
    endif()
    foreach(file LUMO2_SIGN_PKCS12 LUMO2_SIGN_PASSWORD_FILE)
        if(NOT EXISTS "${${file}}")
            message(FATAL_ERROR "${file}: \"${${file}}\" does not exist")
        endif()
    endforeach()
    set(LUMO2_SIGN_TIMESTAMP_OPTIONS "")
    if(LUMO2_SIGN_TSA_CERTS AND LUMO2_SIGN_TSA_KEY)
        set(LUMO2_SIGN_TIMESTAMP_OPTIONS "-TSA-certs;${LUMO2_SIGN_TSA_CERTS};-TSA-key;${LUMO2_SIGN_TSA_KEY}")
    elseif(LUMO2_SIGN_TIMESTAMP_URL)
        set(LUMO2_SIGN_TIMESTAMP_OPTIONS "-ts;${LUMO2_SIGN_TIMESTAMP_URL}")
    endif()
    message(STATUS "Lumo2: signing with ${LUMO2_SIGN_PKCS12}")
else()
    # The script is written either way: Lumo2.exe is relinked whenever it
    # changes, so switching signing on or off never leaves a stale file.
    set(LUMO2_SIGN_PKCS12 "")
    set(LUMO2_SIGN_PASSWORD_FILE "")
    set(LUMO2_SIGN_TIMESTAMP_OPTIONS "")
    # Said when configuring, and again by every build that makes Lumo2.exe,
    # which each package is made from: building only "installer" or "msi"
    # says it too.
    set(notice "Lumo2: no code-signing certificate (LUMO2_SIGN_PKCS12), the files are unsigned")
    message(NOTICE "${notice}")
    add_custom_target(unsigned_notice ALL COMMAND ${CMAKE_COMMAND} -E echo "${notice}" VERBATIM)
    if(TARGET Lumo2)
        add_dependencies(Lumo2 unsigned_notice)
    endif()
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/sign_file.cmake.in ${CMAKE_BINARY_DIR}/sign_file.cmake @ONLY)
if(LUMO2_SIGN_PKCS12)
    set(LUMO2_SIGN_COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/sign_file.cmake)
endif()
