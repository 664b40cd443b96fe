# korvane_add_manpage(TARGET program [SECTION n] [INCLUDE file.h2m])
#
# Writes the program's manual page at build time with help2man, from its --help and
# --version output and the hand-written sections in INCLUDE (a help2man include file:
# NAME, more DESCRIPTION, EXAMPLES, SEE ALSO), and installs it gzipped into
# share/man/man<n>. SECTION defaults to 1. The program must answer --help and --version
# without a display and print "<program> <version>" for --version.
find_program(HELP2MAN_EXECUTABLE help2man)
find_program(GZIP_EXECUTABLE gzip)
if(NOT HELP2MAN_EXECUTABLE OR NOT GZIP_EXECUTABLE)
    message(FATAL_ERROR "help2man and gzip make the manual pages; install them "
                        "(Debian: apt-get install help2man gzip)")
endif()

function(korvane_add_manpage)
    cmake_parse_arguments(M "" "TARGET;SECTION;INCLUDE" "" ${ARGN})
    if(NOT M_TARGET)
        message(FATAL_ERROR "korvane_add_manpage: TARGET is required")
    endif()
    if(NOT M_SECTION)
        set(M_SECTION 1)
    endif()
    set(page "${CMAKE_CURRENT_BINARY_DIR}/${M_TARGET}.${M_SECTION}")
    set(include_args)
    set(include_file)
    if(M_INCLUDE)
        get_filename_component(include_file "${M_INCLUDE}" ABSOLUTE)
        set(include_args "--include=${include_file}")
    endif()

    # Run by bare name from the program's own folder, so that the usage line Qt derives
    # from argv[0] names the program, not the build tree. -n keeps gzip's output free of
    # the name and time, so that builds are reproducible.
    add_custom_command(OUTPUT "${page}.gz"
        COMMAND "${CMAKE_COMMAND}" -E env "PATH=$<TARGET_FILE_DIR:${M_TARGET}>:$ENV{PATH}"
                LC_ALL=C.UTF-8 "${HELP2MAN_EXECUTABLE}" --no-info --section=${M_SECTION}
                ${include_args} --output=${page} $<TARGET_FILE_NAME:${M_TARGET}>
        COMMAND "${GZIP_EXECUTABLE}" -9nf "${page}"
        DEPENDS ${M_TARGET} ${include_file}
        COMMENT "Writing the manual page ${M_TARGET}(${M_SECTION})"
        VERBATIM)
    add_custom_target(${M_TARGET}-manpage ALL DEPENDS "${page}.gz")
    install(FILES "${page}.gz" DESTINATION share/man/man${M_SECTION})
endfunction()
