# Builds the Debian package into a scratch folder and puts it through Debian's checkers:
# lintian on the package, desktop-file-validate on its desktop entries and appstreamcli on
# its AppStream metadata. Any error or warning fails; lintian's and appstreamcli's
# informational notes do not. A checker that is not installed is left out.
# Run as: cmake -DBUILD_DIR=<build> -DSCRATCH=<folder> -DCPACK=<cpack> [-DLINTIAN=<path>]
#         [-DDPKG_DEB=<path>] [-DDESKTOP_FILE_VALIDATE=<path>] [-DAPPSTREAMCLI=<path>]
#         -P check_package.cmake
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND "${CPACK}" --config "${BUILD_DIR}/CPackConfig.cmake" -G DEB -B "${SCRATCH}"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB packages "${SCRATCH}/*.deb")
list(LENGTH packages count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
    message(FATAL_ERROR "cpack failed (${result}), ${count} packages:\n${out}")
endif()
set(failures "")

# check(NAME COMMAND...): runs a checker; any line it prints that starts with E: or W:
# (after indentation), or a failing status, is a failure.
function(check name)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT result EQUAL 0 OR out MATCHES "(^|\n) *[EW]: ")
        set(failures "${failures}\n${name} (status ${result}):\n${out}${err}" PARENT_SCOPE)
    else()
        message(STATUS "${name}: passed\n${out}")
    endif()
endfunction()

if(LINTIAN)
    check(lintian "${LINTIAN}" --fail-on error,warning --tag-display-limit 0 ${packages})
else()
    message(STATUS "lintian is not installed; the package is not checked")
endif()

if(DPKG_DEB AND (DESKTOP_FILE_VALIDATE OR APPSTREAMCLI))
    set(root "${SCRATCH}/root")
    execute_process(COMMAND "${DPKG_DEB}" -x ${packages} "${root}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "dpkg-deb could not unpack the package: ${result}")
    endif()
    file(GLOB desktop_files "${root}/usr/share/applications/*.desktop")
    file(GLOB metainfo_files "${root}/usr/share/metainfo/*.metainfo.xml")
    if(NOT desktop_files OR NOT metainfo_files)
        message(FATAL_ERROR "the package has no desktop entry or no AppStream metadata")
    endif()
    if(DESKTOP_FILE_VALIDATE)
        foreach(file IN LISTS desktop_files)
            get_filename_component(name "${file}" NAME)
            # It prints nothing when all is well, and warnings without failing.
            execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${file}" RESULT_VARIABLE result
                            OUTPUT_VARIABLE out ERROR_VARIABLE out)
            if(NOT result EQUAL 0 OR out)
                string(APPEND failures "\ndesktop-file-validate ${name}:\n${out}")
            endif()
        endforeach()
    endif()
    foreach(file IN LISTS metainfo_files)
        get_filename_component(name "${file}" NAME)
        if(APPSTREAMCLI)
            check("appstreamcli validate ${name}" "${APPSTREAMCLI}" validate --no-net "${file}")
        endif()
        # The metadata must name the desktop entry the package installs.
        file(READ "${file}" metainfo)
        set(desktop_id "")
        if(metainfo MATCHES "<launchable type=\"desktop-id\">([^<]+)</launchable>")
            set(desktop_id "${CMAKE_MATCH_1}")
        endif()
        if(NOT desktop_id OR NOT EXISTS "${root}/usr/share/applications/${desktop_id}")
            string(APPEND failures "\n${name}: launchable '${desktop_id}' is not an installed "
                                   "desktop entry")
        endif()
    endforeach()
endif()

if(failures)
    message(FATAL_ERROR "the package does not pass:${failures}")
endif()
message(STATUS "the package passes its checks")
